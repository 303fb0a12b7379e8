#include "game/IniText.h"

#include <cctype>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <vector>

namespace quillon {

std::string_view Trim(std::string_view s) {
  constexpr std::string_view kBlanks = " \t\r\v\f";
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

namespace {

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

}  // namespace quillon
