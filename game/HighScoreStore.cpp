#include "game/HighScoreStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

namespace quillon {

namespace {

constexpr std::string_view kSection = "QUILLON";
constexpr std::string_view kKey = "HighScore";
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

// Larger files are not settings files; they are neither read nor replaced.
constexpr off_t kMaxFileSize = 64 << 20;

bool ReadWholeFile(const std::string& file, std::string& text) {
  text.clear();
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxFileSize;
  char chunk[8192];
  while (ok) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) ok = false;
    if (n <= 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
    ok = text.size() <= static_cast<std::size_t>(kMaxFileSize);
  }
  ::close(fd);
  if (!ok) text.clear();
  return ok;
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

std::string ReadIniValue(const std::string& file, std::string_view section, std::string_view key,
                         std::string_view fallback, std::size_t bufferSize) {
  std::string text;
  if (!ReadWholeFile(file, text)) text.clear();
  return FindIniValue(text, section, key, fallback, bufferSize);
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

bool WriteIniValue(const std::string& file, std::string_view section, std::string_view key,
                   std::string_view value) {
  std::string text;
  struct stat old {};
  const bool exists = ::stat(file.c_str(), &old) == 0;
  if (exists && !ReadWholeFile(file, text)) return false;  // never replace what we could not read
  const std::string updated = SetIniValue(text, section, key, value);

  std::string temp = file + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, exists ? (old.st_mode & 07777) : 0644) == 0;
  std::size_t done = 0;
  while (ok && done < updated.size()) {
    const ssize_t n = ::write(fd, updated.data() + done, updated.size() - done);
    if (n <= 0) ok = false;
    else done += static_cast<std::size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temp.c_str(), file.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

std::optional<std::int32_t> ParseScore(std::string_view text) {
  text = Trim(text);
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text.front())) ||
                        text.front() == '-' || text.front() == '.')) {
    return std::nullopt;  // also keeps out "inf" and "nan"
  }
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  const double floored = std::floor(value);
  if (floored < -2147483648.0 || floored > 2147483647.0) return std::nullopt;
  return static_cast<std::int32_t>(floored);
}

void HighScoreStore::Read(std::int32_t& highScore) const {
  const std::string text = ReadIniValue(file_, kSection, kKey, "0", kBufferSize);
  if (const auto value = ParseScore(text)) highScore = *value;
}

bool HighScoreStore::Write(std::int32_t highScore) const {
  char digits[16];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, highScore);
  return WriteIniValue(file_, kSection, kKey, std::string_view(digits, end - digits));
}

}  // namespace quillon
