// The daily run's calendar and seed: the same date must give the same round on every platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <tuple>
#include <utility>
#include <vector>

#include "GameHarness.h"
#include "TempDir.h"
#include "game/Daily.h"
#include "game/HighScoreStore.h"
#include "game/Input.h"
#include "game/Replay.h"
#include "platform/Runs.h"

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
  // Every day of some five thousand years either side of year 0 follows the one before it, and
  // comes back to its number.
  const auto length = [](int year, int month) {
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return month == 2 ? (leap ? 29 : 28) : (month == 4 || month == 6 || month == 9 || month == 11) ? 30 : 31;
  };
  Date before = CivilFromDays(-2000000);
  int wrong = 0;
  for (std::int64_t days = -2000000 + 1; days < 1000000 && wrong < 5; ++days) {
    const Date date = CivilFromDays(days);
    const Date next = before.day < length(before.year, before.month) ? Date{before.year, before.month, before.day + 1}
                      : before.month < 12                             ? Date{before.year, before.month + 1, 1}
                                                                       : Date{before.year + 1, 1, 1};
    const bool written = date.year < 0 || date.year > 9999 || ParseDate(DateText(date)) == date;
    if (!(date == next) || DaysFromCivil(date) != days || !written) {
      ADD_FAILURE() << days << ": " << DateText(date) << " after " << DateText(before);
      ++wrong;
    }
    before = date;
  }
  // Only real days, written in full.
  for (const char* bad : {"", "2026-12-9", "2026-13-01", "2026-00-10", "2026-02-29", "2100-02-29", "2026-04-31",
                          "2026/12/09", "2026-12-09 ", "+026-12-09", "2026-1a-09", "2026-12-00", "2026-12x09",
                          "2026x12-09"}) {
    EXPECT_FALSE(ParseDate(bad)) << bad;
  }
  EXPECT_TRUE(ParseDate("2000-02-29"));
  // Years past four digits are written whole, never cut.
  for (const auto& [date, text] : {std::pair{Date{0, 3, 1}, "0000-03-01"}, {Date{9999, 12, 31}, "9999-12-31"},
                                   {Date{10000, 1, 1}, "10000-01-01"}, {Date{-1, 12, 31}, "-1-12-31"}}) {
    EXPECT_EQ(DateText(date), text);
  }
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
  // The stored daily round, whose frames every platform's tests replay, is that day's.
  std::ifstream golden(QUILLON_TEST_DATA "/golden/daily.txt");
  std::string code;
  golden >> code;
  const ParsedRun parsed = ParseRunCode(code);
  ASSERT_TRUE(parsed.run);
  EXPECT_TRUE(IsDailyRun(*parsed.run, *ParseDate("2026-12-09")));
  EXPECT_FALSE(IsDailyRun(*parsed.run, *ParseDate("2026-12-10")));
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
    bool next;  // the round after that one, started with Enter
  };
  const std::uint32_t today = DailySeed(*ParseDate("2026-12-09"));
  for (const Row& row : {Row{kKeyDaily, today, "Quillon - daily run 2026-12-09", false},
                         Row{kKeyEnter, 12345u, "Quillon", false}, Row{kKeyDaily, 12345u, "Quillon", true}}) {
    SCOPED_TRACE(row.next ? "the round after the day's" : row.caption);
    testing::Harness h;
    h.fake.Key(2, row.key);
    std::string caption;
    std::uint32_t seed = 0;
    std::uint64_t draws = 99;
    int rounds = 0, titles = 0;
    bool playing = false;
    h.fake.onPump = [&](WindowEvents& events) {
      if (h.game.Phase == PhasePlay && !playing) ++rounds;
      playing = h.game.Phase == PhasePlay;
      // A few title frames after the day's round, Enter.
      if (row.next && rounds == 1 && h.game.Phase == PhaseTitle && ++titles == 3) {
        std::int16_t enter = kKeyEnter;
        events.Form_KeyDown(enter);
      }
      if (playing && rounds == (row.next ? 2 : 1) && h.game.R.Score > 0 && caption.empty()) {
        caption = h.fake.caption;
        seed = h.game.R.Record.seed;
        draws = h.game.R.Record.draws;
        events.Form_Unload();
      }
    };
    h.fake.presentLimit = 20000;
    testing::RunUntilClosed(h.game);
    EXPECT_EQ(caption, row.caption);
    EXPECT_EQ(seed, row.seed);
    EXPECT_EQ(draws, 0u) << "no draw before the round's own";
  }
}

// The day's best daily run is kept in a file of its own, whatever the best score; a round that is
// not the day's never goes there, and a stored one of another day or a worse one gives way.
TEST(Daily, TheDaysBestRunIsKeptAndOnlyTheDays) {
  const Date today = *ParseDate("2026-12-09"), yesterday = *ParseDate("2026-12-08");
  const auto code = [](const Date& day, std::vector<RunKey> keys, std::uint64_t draws = 0) {
    return RunCode(RunRecord{DailySeed(day), draws, 0, std::move(keys)});
  };
  // Two of the day's runs that reach different scores: none, and the first single jump that counts.
  std::string low = code(today, {}), high = low;
  for (std::uint32_t frame = 10; frame < 400 && ScoreOfDailyRun(high, today) == ScoreOfDailyRun(low, today); frame += 7) {
    high = code(today, {{frame, true}});
  }
  ASSERT_TRUE(ScoreOfDailyRun(low, today) && ScoreOfDailyRun(high, today));
  if (*ScoreOfDailyRun(low, today) > *ScoreOfDailyRun(high, today)) std::swap(low, high);
  ASSERT_LT(*ScoreOfDailyRun(low, today), *ScoreOfDailyRun(high, today));
  const std::string old = code(yesterday, {}), drawn = code(today, {}, 5);
  EXPECT_EQ(ScoreOfDailyRun(old, today), std::nullopt);
  EXPECT_EQ(ScoreOfDailyRun(drawn, today), std::nullopt) << "draws before it: not the day's round";
  EXPECT_EQ(ScoreOfDailyRun(low, yesterday), std::nullopt);
  const auto scorer = [&today](std::string_view c) { return ScoreOfDailyRun(c, today); };
  // The same round with another best before it: the same score, another code.
  const std::string lowTwin = RunCode(RunRecord{DailySeed(today), 0, 7, {}});
  ASSERT_NE(lowTwin, low);
  ASSERT_EQ(ScoreOfDailyRun(lowTwin, today), ScoreOfDailyRun(low, today));
  struct Row {
    const char* what;
    std::optional<std::string> stored;
    std::string run;
    bool kept;
    std::optional<std::string> after;
  };
  for (const Row& row : {Row{"none yet", std::nullopt, low, true, low}, Row{"a better one", low, high, true, high},
                         Row{"a worse one", high, low, true, high}, Row{"yesterday's", old, low, true, low},
                         Row{"a better one saved with Windows line ends", high + "\r", low, true, high},
                         Row{"an equal one, the first stays", low, lowTwin, true, low},
                         Row{"no code", std::string("junk"), low, true, low},
                         Row{"not the day's", std::nullopt, drawn, false, std::nullopt}}) {
    SCOPED_TRACE(row.what);
    testing::TempDir dir;
    if (row.stored) std::ofstream(dir.path / "Quillon.daily") << *row.stored << "\n";
    testing::TestFileSystem files{std::string()};
    HighScoreStore store(files);
    store.SetFolder(dir.Folder());
    EXPECT_FALSE(store.KeepDaily("junk", scorer));
    EXPECT_EQ(store.KeepDaily(row.run, scorer), row.kept);
    EXPECT_EQ(store.Problem().empty(), row.kept) << "no word left from the try before";
    EXPECT_EQ(store.ReadDaily(scorer), row.after);
    // The next day starts with none.
    EXPECT_EQ(store.ReadDaily([](std::string_view c) { return ScoreOfDailyRun(c, *ParseDate("2026-12-10")); }),
              std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(dir.path / "Quillon.ini")) << "the best score is not touched";
  }
  // Both places hold one: the better, whichever holds it, and the player's at a tie; the best
  // score's kept run by the same rule. Where the player's folder can't be made, nothing is kept
  // and the store says why.
  for (const auto& [player, beside, best] : {std::tuple{high, low, high}, std::tuple{low, high, high},
                                             std::tuple{low, lowTwin, low}}) {
    testing::TempDir dir;
    std::filesystem::create_directories(dir.path / "data");
    std::ofstream(dir.path / "data" / "Quillon.daily") << player << "\n";
    std::ofstream(dir.path / "Quillon.daily") << beside << "\n";
    testing::TestFileSystem files{(dir.path / "data" / "").string()};
    HighScoreStore store(files);
    store.SetFolder(dir.Folder());
    EXPECT_EQ(store.ReadDaily(scorer), best);
    for (const auto& [folder, run] : {std::pair{dir.path / "data", player}, std::pair{dir.path, beside}}) {
      std::ofstream(folder / "Quillon.ini") << "[QUILLON]\nHighScore=" << *scorer(run) << "\n";
      std::ofstream(folder / "Quillon.run") << run << "\n";
    }
    EXPECT_EQ(store.ReadRun(scorer), best);
  }
  {
    testing::TempDir dir;
    std::ofstream(dir.path / "file") << "not a folder\n";
    testing::TestFileSystem files{(dir.path / "file" / "data" / "").string()};
    HighScoreStore store(files);
    store.SetFolder(dir.Folder());
    EXPECT_FALSE(store.KeepDaily(low, scorer));
    EXPECT_NE(store.Problem().find("cannot be made"), std::string::npos) << store.Problem();
    EXPECT_FALSE(std::filesystem::exists(dir.path / "Quillon.daily")) << "not beside the program either";
#ifndef _WIN32
    // Installed for every player, and this one has no folder at all.
    testing::TestFileSystem nowhere{std::string(), true};
    HighScoreStore none(nowhere);
    none.SetFolder(dir.Folder());
    EXPECT_FALSE(none.KeepDaily(low, scorer));
    EXPECT_EQ(none.Problem(), "the player has no data folder");
#endif
  }
  // A stored code is played only up to 64 KiB: one that long is, and no longer one ever is.
  for (const std::size_t length : {std::size_t{65536}, std::size_t{65537}}) {
    testing::TempDir dir;
    std::ofstream(dir.path / "Quillon.daily") << std::string(length, 'A') << "\n";
    testing::TestFileSystem files{std::string()};
    HighScoreStore store(files);
    store.SetFolder(dir.Folder());
    std::size_t longest = 0;
    const auto kept = store.ReadDaily([&](std::string_view c) {
      longest = std::max(longest, c.size());
      return std::optional<std::int32_t>(1);
    });
    EXPECT_EQ(kept.has_value(), length == 65536);
    EXPECT_EQ(longest, length == 65536 ? length : 0);
  }
  // In the game: the day's round is kept though it sets no best, and --run-code --daily prints it
  // that day and no other; a round of the player's own is never kept there.
  for (const std::int16_t key : {kKeyDaily, kKeyEnter}) {
    testing::TempDir dir;
    dir.Write("[QUILLON]\nHighScore=1000000\n");
    testing::Harness h;
    h.keepPixels = false;
    h.fake.folder = dir.Folder();
    h.fake.Key(2, key);
    bool played = false;
    std::vector<std::string> captions;
    h.fake.onPump = [&](WindowEvents& events) {
      played = played || h.game.Phase != PhaseTitle;
      captions.push_back(h.fake.caption);
      if (played && h.game.Phase == PhaseTitle) events.Form_Unload();
    };
    h.fake.presentLimit = 20000;
    testing::RunUntilClosed(h.game);
    ASSERT_TRUE(played);
    EXPECT_EQ(captions.back(), "Quillon") << "the caption is the game's own again on the title";
    EXPECT_TRUE(h.fake.reported.empty());
    const auto kept = KeptDailyCode(h.fake.files, dir.Folder(), h.fake.utc);
    if (key == kKeyEnter) {
      EXPECT_EQ(kept, std::nullopt);
      continue;
    }
    ASSERT_TRUE(kept);
    EXPECT_EQ(*kept, RunCode(h.game.R.Record));
    EXPECT_EQ(ScoreOfDailyRun(*kept, today), h.game.R.Score);
    EXPECT_EQ(KeptDailyCode(h.fake.files, dir.Folder(), h.fake.utc + 1), std::nullopt) << "a second later is 12-10";
    EXPECT_EQ(dir.Read(), "[QUILLON]\nHighScore=1000000\n");
    EXPECT_FALSE(std::filesystem::exists(dir.path / "Quillon.run"));
  }
  // Where it can't be kept, the player hears so, once however many daily rounds follow, and of
  // the daily file itself, beside the best that can't be kept either.
  testing::Harness h;
  h.keepPixels = false;
  h.fake.Key(2, kKeyDaily);
  int rounds = 0;
  h.fake.onPump = [&](WindowEvents& events) {
    if (rounds % 2 == 0 && h.game.Phase != PhaseTitle) ++rounds;
    if (rounds % 2 == 1 && h.game.Phase == PhaseTitle) {
      if (++rounds == 4) {
        events.Form_Unload();
      } else {
        std::int16_t d = kKeyDaily;
        events.Form_KeyDown(d);
      }
    }
  };
  h.fake.presentLimit = 40000;
  testing::RunUntilClosed(h.game);
  ASSERT_EQ(rounds, 4);
  ASSERT_EQ(h.fake.reported.size(), 2u);
  EXPECT_EQ(h.fake.reported[0].rfind("cannot keep the daily run in /nonexistent-quillon-folder/Quillon.daily: ", 0), 0u)
      << h.fake.reported[0];
  EXPECT_EQ(h.fake.reported[1].rfind("cannot keep the best score ", 0), 0u) << h.fake.reported[1];
}

}  // namespace
}  // namespace quillon
