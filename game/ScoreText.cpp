#include "game/ScoreText.h"

#include <algorithm>
#include <climits>
#include <string>

#include "game/IniText.h"

namespace quillon {

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

}  // namespace quillon
