// The daily run's calendar and seed: the same date must give the same round on every platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "GameHarness.h"
#include "game/Daily.h"
#include "game/Input.h"

namespace quillon {
namespace {

TEST(Daily, DatesDaysAndTextAgreeEverywhere) {
  struct Row {
    const char* text;
    std::int64_t days;
  };
  // Leap days of a fourth, a hundredth and a four-hundredth year, and either side of the epoch.
  for (const Row& row : {Row{"1970-01-01", 0}, {"1969-12-31", -1}, {"2000-02-29", 11016}, {"2000-03-01", 11017},
                         {"2026-12-09", 20796}, {"2100-03-01", 47541}}) {
    const auto date = ParseDate(row.text);
    ASSERT_TRUE(date) << row.text;
    EXPECT_EQ(DaysFromCivil(*date), row.days) << row.text;
    EXPECT_EQ(DateText(CivilFromDays(row.days)), row.text);
  }
  for (std::int64_t days = -800; days < 800000; days += 97) {
    EXPECT_EQ(DaysFromCivil(CivilFromDays(days)), days);
  }
  // Only real days, written in full.
  for (const char* bad : {"", "2026-12-9", "2026-13-01", "2026-00-10", "2026-02-29", "2100-02-29", "2026-04-31",
                          "2026/12/09", "2026-12-09 ", "+026-12-09", "2026-1a-09", "2026-12-00"}) {
    EXPECT_FALSE(ParseDate(bad)) << bad;
  }
  EXPECT_TRUE(ParseDate("2000-02-29"));
  // The UTC day turns at midnight, before the epoch too.
  struct Moment {
    std::int64_t seconds;
    const char* day;
  };
  for (const Moment& m : {Moment{0, "1970-01-01"}, {-1, "1969-12-31"}, {86399, "1970-01-01"}, {86400, "1970-01-02"},
                          {-86400, "1969-12-31"}, {-86401, "1969-12-30"}, {1796774400, "2026-12-09"},
                          {1796774399, "2026-12-08"}}) {
    EXPECT_EQ(DateText(UtcDate(m.seconds)), m.day) << m.seconds;
  }
}

TEST(Daily, EachDayHasItsOwnSeedTheSameOnEveryPlatform) {
  // Stored: any change here changes every daily round already played and posted.
  struct Row {
    const char* day;
    std::uint32_t seed;
  };
  for (const Row& row : {Row{"1970-01-01", 105806677u}, {"2026-12-09", 239509435u}, {"2026-12-10", 3645212885u},
                         {"2027-01-01", 3973575652u}}) {
    EXPECT_EQ(DailySeed(*ParseDate(row.day)), row.seed) << row.day;
  }
  // Ten years of days, no two alike and none 0.
  std::vector<std::uint32_t> seeds;
  for (std::int64_t days = 20000; days < 20000 + 3653; ++days) seeds.push_back(DailySeed(CivilFromDays(days)));
  std::sort(seeds.begin(), seeds.end());
  EXPECT_EQ(std::adjacent_find(seeds.begin(), seeds.end()), seeds.end());
  EXPECT_NE(seeds.front(), 0u);
}

TEST(Daily, DStartsTheDaysRoundFromItsSeedAndEnterThePlayersOwn) {
  struct Row {
    std::int16_t key;
    std::uint32_t seed;
    const char* caption;
  };
  const std::uint32_t today = DailySeed(*ParseDate("2026-12-09"));
  for (const Row& row : {Row{kKeyDaily, today, "Quillon - daily run 2026-12-09"}, {kKeyEnter, 12345u, "Quillon"}}) {
    testing::Harness h;
    h.fake.Key(2, row.key);
    std::string caption;
    std::uint32_t seed = 0;
    std::uint64_t draws = 99;
    h.fake.onPump = [&](WindowEvents&) {
      if (h.game.Phase == PhasePlay && h.game.R.Score > 0 && caption.empty()) {
        caption = h.fake.caption;
        seed = h.game.R.Record.seed;
        draws = h.game.R.Record.draws;
      }
    };
    h.fake.Close(40);
    testing::RunUntilClosed(h.game);
    EXPECT_EQ(caption, row.caption);
    EXPECT_EQ(seed, row.seed);
    EXPECT_EQ(draws, 0u) << "no draw before the round's own";
  }
}

}  // namespace
}  // namespace quillon
