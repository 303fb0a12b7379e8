#include "game/IniText.h"

#include <cctype>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

namespace quillon {

namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (std::tolower(ca) != std::tolower(cb)) return false;
  }
  return true;
}

struct Line {
  std::size_t begin;  // offset of the line in the text
  std::size_t end;    // offset just past its newline, or the text's end
  std::string_view body;  // without the newline
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto nl = text.find('\n', pos);
    const std::size_t end = nl == std::string_view::npos ? text.size() : nl + 1;
    std::string_view body = text.substr(pos, (nl == std::string_view::npos ? text.size() : nl) - pos);
    if (!body.empty() && body.back() == '\r') body.remove_suffix(1);
    lines.push_back({pos, end, body});
    pos = end;
  }
  return lines;
}

// The name of a "[name]" line, if it is one.
std::optional<std::string_view> SectionName(std::string_view body) {
  body = Trim(body);
  if (body.size() < 2 || body.front() != '[') return std::nullopt;
  const auto close = body.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(body.substr(1, close - 1));
}

// The line of the key inside the section, and the line after the section's last entry.
struct Place {
  bool sectionFound = false;
  std::optional<std::size_t> keyLine;
  std::size_t insertAt = 0;  // offset where a new key line goes
};

Place Locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
  Place place;
  bool inside = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (const auto name = SectionName(line.body)) {
      if (inside) break;  // the section ended
      if (SameName(*name, section)) {
        inside = true;
        place.sectionFound = true;
        place.insertAt = line.end;
      }
      continue;
    }
    if (!inside) continue;
    if (!Trim(line.body).empty()) place.insertAt = line.end;
    const auto eq = line.body.find('=');
    if (eq != std::string_view::npos && !place.keyLine && SameName(Trim(line.body.substr(0, eq)), key)) {
      place.keyLine = i;
    }
  }
  return place;
}

}  // namespace

std::string FindIniValue(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view fallback, std::size_t bufferSize) {
  const auto lines = SplitLines(text);
  const Place place = Locate(lines, section, key);
  std::string_view value = fallback;
  if (place.keyLine) {
    const std::string_view body = lines[*place.keyLine].body;
    value = Trim(body.substr(body.find('=') + 1));
    // A value in matching quotes is read without them.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
  }
  // Like a C buffer: the text ends at its first zero and leaves room for one.
  value = value.substr(0, value.find('\0'));
  if (bufferSize == 0) return {};
  return std::string(value.substr(0, bufferSize - 1));
}

std::string SetIniValue(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value) {
  const auto lines = SplitLines(text);
  const Place place = Locate(lines, section, key);
  // New lines follow the file's own line ending.
  const std::string_view eol = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  std::string out;
  if (place.keyLine) {
    const Line& line = lines[*place.keyLine];
    const std::size_t valueStart = line.begin + line.body.find('=') + 1;
    const std::size_t bodyEnd = line.begin + line.body.size();
    out.append(text.substr(0, valueStart));
    out.append(value);
    out.append(text.substr(bodyEnd));
    return out;
  }
  std::string entry = std::string(key) + "=" + std::string(value) + std::string(eol);
  if (place.sectionFound) {
    out.append(text.substr(0, place.insertAt));
    if (!out.empty() && out.back() != '\n') out.append(eol);
    out.append(entry);
    out.append(text.substr(place.insertAt));
    return out;
  }
  out.append(text);
  if (!out.empty() && out.back() != '\n') out.append(eol);
  out.append("[").append(section).append("]").append(eol).append(entry);
  return out;
}

std::optional<std::int32_t> ParseScore(std::string_view text) {
  // Exact decimal arithmetic: the same answer with every compiler and library, whatever the
  // locale, and no rounding on the way to the floor.
  text = Trim(text);
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  std::string digits;  // the mantissa's digits, the decimal point taken out
  std::size_t i = 0;
  for (; i < text.size() && isDigit(text[i]); ++i) digits += text[i];
  long long point = static_cast<long long>(digits.size());
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && isDigit(text[i]); ++i) digits += text[i];
  }
  if (digits.empty()) return std::nullopt;  // also keeps out "inf", "nan" and "."
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    const bool down = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    if (i == text.size()) return std::nullopt;
    long long exponent = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) exponent = std::min(exponent * 10 + (text[i] - '0'), 1000000LL);
    point += down ? -exponent : exponent;
  }
  if (i != text.size()) return std::nullopt;
  // Leading zeros say nothing; without them, more than ten whole digits can't fit.
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 0;
  digits.erase(0, first);
  digits.erase(digits.find_last_not_of('0') + 1);
  point -= static_cast<long long>(first);
  if (point > 10) return std::nullopt;
  long long whole = 0;
  for (long long k = 0; k < point; ++k) {
    whole = whole * 10 + (k < static_cast<long long>(digits.size()) ? digits[static_cast<std::size_t>(k)] - '0' : 0);
  }
  const bool fraction = point < static_cast<long long>(digits.size());  // digits past the point, not all zero
  const long long floored = negative ? -whole - (fraction ? 1 : 0) : whole;
  if (floored < INT32_MIN || floored > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(floored);
}

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

IniText DecodeIni(std::string_view raw) {
  IniText text;
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

std::string EncodeIni(const IniText& text) {
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
