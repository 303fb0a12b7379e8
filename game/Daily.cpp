#include "game/Daily.h"

#include <charconv>

#include "game/Replay.h"

namespace quillon {

// Howard Hinnant's civil-day algorithms, exact for every date an int year holds.
std::int64_t DaysFromCivil(const Date& date) {
  const std::int64_t y = date.year - (date.month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (date.month + (date.month > 2 ? -3 : 9)) + 2) / 5 + date.day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

Date CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return Date{static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0)), month, day};
}

Date UtcDate(std::int64_t secondsSinceEpoch) {
  // Whole days, rounded down: a second before the epoch is still 1969-12-31.
  std::int64_t days = secondsSinceEpoch / 86400;
  if (secondsSinceEpoch % 86400 < 0) --days;
  return CivilFromDays(days);
}

std::string DateText(const Date& date) {
  // By hand: printf would bring its whole formatter into the page's download.
  std::string text = date.year >= 0 && date.year <= 9999 ? "0000-00-00" : std::to_string(date.year) + "-00-00";
  const auto put = [&text](std::size_t end, int value) {
    for (std::size_t at = end; value > 0; value /= 10) text[--at] = static_cast<char>('0' + value % 10);
  };
  put(text.size() - 6, date.year >= 0 && date.year <= 9999 ? date.year : 0);
  put(text.size() - 3, date.month);
  put(text.size(), date.day);
  return text;
}

std::optional<Date> ParseDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  const auto number = [&text](std::size_t at, std::size_t length) -> std::optional<int> {
    int value = 0;
    for (std::size_t i = at; i < at + length; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  const auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
  if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1) return std::nullopt;
  const Date date{*year, *month, *day};
  // A day the calendar lacks (02-30) comes back as another date.
  if (!(CivilFromDays(DaysFromCivil(date)) == date)) return std::nullopt;
  return date;
}

std::uint32_t DailySeed(const Date& date) {
  // SplitMix64 over the day's number, with a constant of the game's own so that no other
  // seed rule meets it by chance: every copy gets the same 32 bits for the same date.
  std::uint64_t z = static_cast<std::uint64_t>(DaysFromCivil(date)) + 0x51C0DA11D4117ULL;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  const auto seed = static_cast<std::uint32_t>(z ^ (z >> 32));
  return seed == 0 ? 1 : seed;
}

bool IsDailyRun(const RunRecord& run, const Date& date) {
  return run.draws == 0 && run.seed == DailySeed(date);
}

std::optional<std::int32_t> ScoreOfDailyRun(std::string_view code, const Date& date) {
  // Another day's run is turned away before it costs a replay.
  const ParsedRun parsed = ParseRunCode(code);
  if (!parsed.run || !IsDailyRun(*parsed.run, date)) return std::nullopt;
  std::string problem;
  const auto replayed = Simulate(*parsed.run, &problem);
  if (!replayed) return std::nullopt;
  return replayed->score;
}

}  // namespace quillon
