#include "game/TextEncoding.h"

namespace quillon {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

void AppendUnit(std::string& out, unsigned unit) {
  if (unit < 0x80) {
    out.push_back(static_cast<char>(unit));
  } else if (unit < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (unit >> 6)));
    out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (unit >> 12)));
    out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
  }
}

// The next code unit of a body made by AppendUnit; a stray byte stands for itself.
unsigned NextUnit(std::string_view body, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(body[k]); };
  const unsigned lead = byte(i);
  const auto follows = [&](std::size_t n) {
    for (std::size_t k = 1; k <= n; ++k)
      if (i + k >= body.size() || (byte(i + k) & 0xC0) != 0x80) return false;
    return true;
  };
  if (lead >= 0xE0 && lead < 0xF0 && follows(2)) {
    const unsigned unit = ((lead & 0x0F) << 12) | ((byte(i + 1) & 0x3Fu) << 6) | (byte(i + 2) & 0x3Fu);
    i += 3;
    return unit;
  }
  if (lead >= 0xC0 && lead < 0xE0 && follows(1)) {
    const unsigned unit = ((lead & 0x1F) << 6) | (byte(i + 1) & 0x3Fu);
    i += 2;
    return unit;
  }
  i += 1;
  return lead;
}

}  // namespace

DecodedText DecodeIni(std::string_view raw) {
  DecodedText text;
  const bool little = raw.starts_with(kUtf16LeMark);
  if (little || raw.starts_with(kUtf16BeMark)) {
    text.encoding = little ? TextEncoding::Utf16Le : TextEncoding::Utf16Be;
    raw.remove_prefix(2);
    text.body.reserve(raw.size());
    for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
      const unsigned first = static_cast<unsigned char>(raw[i]);
      const unsigned second = static_cast<unsigned char>(raw[i + 1]);
      AppendUnit(text.body, little ? first | (second << 8) : (first << 8) | second);
    }
    if (raw.size() % 2 != 0) text.oddByte = std::string(raw.substr(raw.size() - 1));
    return text;
  }
  if (raw.starts_with(kUtf8Mark)) {
    text.encoding = TextEncoding::Utf8Mark;
    raw.remove_prefix(kUtf8Mark.size());
  }
  text.body = std::string(raw);
  return text;
}

std::string EncodeIni(const DecodedText& text) {
  switch (text.encoding) {
    case TextEncoding::Bytes:
      return text.body;
    case TextEncoding::Utf8Mark:
      return std::string(kUtf8Mark) + text.body;
    case TextEncoding::Utf16Le:
    case TextEncoding::Utf16Be:
      break;
  }
  const bool little = text.encoding == TextEncoding::Utf16Le;
  std::string out(little ? kUtf16LeMark : kUtf16BeMark);
  out.reserve(2 + text.body.size() * 2 + 1);
  for (std::size_t i = 0; i < text.body.size();) {
    const unsigned unit = NextUnit(text.body, i);
    const char low = static_cast<char>(unit & 0xFF);
    const char high = static_cast<char>(unit >> 8);
    out.push_back(little ? low : high);
    out.push_back(little ? high : low);
  }
  return out + text.oddByte;
}

}  // namespace quillon
