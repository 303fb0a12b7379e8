#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "game/RunCode.h"

// The daily run: one round a day for everyone, its random draws starting from a seed that the
// UTC date alone decides, the same on every platform.
namespace quillon {

struct Date {
  int year = 1970, month = 1, day = 1;
  friend bool operator==(const Date&, const Date&) = default;
};

// Days since 1970-01-01 in the proleptic Gregorian calendar, and back.
std::int64_t DaysFromCivil(const Date& date);
Date CivilFromDays(std::int64_t days);

// The UTC date at a time in seconds since the epoch.
Date UtcDate(std::int64_t secondsSinceEpoch);

// "YYYY-MM-DD", and back: nothing for any other text or a day the calendar lacks.
std::string DateText(const Date& date);
std::optional<Date> ParseDate(std::string_view text);

// The day's seed. Never 0, so that it can't be mistaken for a round never seeded.
std::uint32_t DailySeed(const Date& date);

// Whether a run is the day's: from its seed, with no draw before it.
bool IsDailyRun(const RunRecord& run, const Date& date);
// The score a code reaches when played again, where it is the day's run; nothing for any other.
std::optional<std::int32_t> ScoreOfDailyRun(std::string_view code, const Date& date);

}  // namespace quillon
