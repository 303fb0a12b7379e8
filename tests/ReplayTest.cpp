// Runs replayed: recorded rounds as codes, played again with no window, frame for frame. The
// golden runs in data/golden/ hold each frame's fingerprint as the game drew it when they were
// made; any change to the rules or the drawing shows up as a frame that differs.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

#include "GameHarness.h"
#include "TempDir.h"
#include "game/Game.h"
#include "game/Replay.h"
#include "platform/Runs.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace quillon {
namespace {

using testing::Harness;

using Print = std::uint64_t (*)(const Surface&);

// For frames compared with frames drawn in the same test, not with stored ones: the stored
// fingerprint goes a byte at a time and was nine tenths of the longest test's time.
std::uint64_t QuickPrint(const Surface& frame) {
  const std::vector<Colour>& pixels = frame.Pixels();
  return std::hash<std::string_view>{}(
      std::string_view(reinterpret_cast<const char*>(pixels.data()), pixels.size() * sizeof(Colour)));
}

// A run's frames as the window draws them, and the score the rules alone reach.
std::vector<std::uint64_t> Frames(const RunRecord& run, std::int32_t* score, std::string* problem,
                                  Print print = Fingerprint) {
  const auto replayed = Simulate(run, problem);
  if (!replayed) return {};
  Harness h;
  Replayer player(run);
  std::vector<std::uint64_t> frames;
  while (player.Next() == Replayer::Step::Shown) {
    h.game.DrawRound(player.round());
    frames.push_back(print(h.game.picWork));
  }
  *score = replayed->score;
  EXPECT_EQ(replayed->frames, frames.size());
  return frames;
}

// A player for the golden runs: jumps (high or low, as `high` says of each) when a bullet
// comes near at the car's height, and sometimes for a coin.
RunRecord Play(std::uint32_t seed, std::uint64_t draws, std::int32_t best, int skill) {
  Harness h;
  h.game.R.Rnd.Restore(seed, draws);
  h.game.HighScore = best;
  h.game.Phase = PhasePlay;
  h.game.Prepare();
  for (int frame = 0; frame < 200000; ++frame) {
    bool danger = false, coin = false;
    for (const PosXY& b : h.game.R.TamaPos) danger = danger || (b.X > 90 && b.X < 90 + skill && b.Y > 190);
    for (const PosXY& c : h.game.R.CoinPos) coin = coin || (c.X > 100 && c.X < 140 && c.Y == 150);
    if (!h.game.R.InAir && h.game.Phase == PhasePlay && (danger || coin)) {
      std::int16_t key = (frame / 7) % 2 ? kKeyEnter : kKeySpace;
      h.game.Form_KeyDown(key);
    }
    if (h.game.PlayFrame()) break;
  }
  return h.game.R.Record;
}

struct Golden {
  const char* name;
  std::uint32_t seed;
  std::uint64_t draws;
  std::int32_t best;
  int skill;  // how far ahead the player looks: 0 never jumps
};

// Short and long; both jumps; coins; all four hits; with and without the banner of a new best.
const Golden kGolden[] = {
    {"still", 1, 0, 0, 0},
    {"jumper", 7, 123, 1000000, 60},
    {"long", 42, 5000, 500, 90},
    {"daily", 239509435, 0, 2000, 75},  // the daily run of 2026-12-09
};

TEST(Replay, GoldenRunsGiveTheSameFramesOnEveryPlatform) {
  const bool write = std::getenv("QUILLON_WRITE_GOLDEN") != nullptr;
  for (const Golden& g : kGolden) {
    SCOPED_TRACE(g.name);
    const std::string path = std::string(QUILLON_TEST_DATA "/golden/") + g.name + ".txt";
    std::string code;
    std::int32_t expectedScore = 0;
    std::vector<std::uint64_t> expected;
    if (write) {
      code = RunCode(Play(g.seed, g.draws, g.best, g.skill));
      std::string problem;
      expected = Frames(*ParseRunCode(code).run, &expectedScore, &problem);
      std::ofstream out(path);
      out << code << "\n" << expectedScore << "\n";
      for (std::uint64_t f : expected) out << std::hex << f << std::dec << "\n";
    } else {
      std::ifstream in(path);
      ASSERT_TRUE(in) << path;
      in >> code >> expectedScore;
      std::string line;
      while (in >> line) expected.push_back(std::stoull(line, nullptr, 16));
    }
    const ParsedRun parsed = ParseRunCode(code);
    ASSERT_TRUE(parsed.run) << parsed.problem;
    std::int32_t score = -1;
    std::string problem;
    const std::vector<std::uint64_t> frames = Frames(*parsed.run, &score, &problem);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(score, expectedScore);
    ASSERT_EQ(frames.size(), expected.size());
    for (std::size_t i = 0; i < frames.size(); ++i) ASSERT_EQ(frames[i], expected[i]) << "frame " << i;
  }
}

// The title for each best the window, browser and Wine tests store, and the banner they look
// for: what those tests compare the real programs' pixels with, kept here so that a fault in the
// drawing cannot move both sides of their comparisons at once.
TEST(Replay, TitlesAndTheBannerAreTheStoredOnes) {
  const bool write = std::getenv("QUILLON_WRITE_GOLDEN") != nullptr;
  std::ostringstream titles;
  Surface first(1, 1);
  // Last, the title while the stored best is not known yet (its file held by another program).
  constexpr std::int32_t kUnknown = INT32_MIN;
  for (const std::int32_t best : {0, -77, 100, 777, 1250, 4096, 1000000, kUnknown}) {
    testing::TempDir dir;
    dir.Write("[QUILLON]\nHighScore=" + std::to_string(best == kUnknown ? 5 : best) + "\n");
    testing::FakePlatform fake;
    fake.folder = dir.Folder();
    testing::HeldFile held(best == kUnknown ? dir.Ini() : std::string());
#ifndef _WIN32
    fake.files.waits.read = std::chrono::milliseconds(10);
#endif
    frmMain game(fake, testing::TestPictures(), testing::TestFont());
    if (best == kUnknown) {
      titles << "unknown";
    } else {
      titles << best;
    }
    fake.onPresent = [&](const Surface& s) {
      titles << ' ' << std::hex << Fingerprint(s) << std::dec;
      if (best == 1250 && fake.presents == 1) first = s;
    };
    fake.Close(8);
    testing::RunUntilClosed(game);
    titles << '\n';
  }
  // Pictures, for the tests that look at parts of a frame: the first title with a best of
  // 1250, then the banner and its mask.
  std::ostringstream pictures;
  const Pictures& p = testing::TestPictures();
  for (const Surface* s : std::initializer_list<const Surface*>{&first, &p.picHscr, &p.picHscrM}) {
    pictures << "P6\n" << s->Width() << ' ' << s->Height() << "\n255\n";
    for (const Colour c : s->Pixels()) pictures << char(c >> 16) << char(c >> 8) << char(c);
  }
  const std::pair<const char*, std::string> files[] = {{"titles.txt", titles.str()},
                                                       {"pictures.ppm", pictures.str()}};
  for (const auto& [name, text] : files) {
    const std::string path = std::string(QUILLON_TEST_DATA "/golden/") + name;
    if (write) std::ofstream(path, std::ios::binary) << text;
    EXPECT_EQ(testing::ReadFile(path), text) << path;
  }
}

// Windows hands its virtual-key numbers to the game as they are, and the page's script sends
// its own copies of them: a key renumbered on one side alone is a dead key at that door.
TEST(Keys, AreWindowsOwnNumbersAndThePageSendsTheSame) {
#ifndef _WIN32
  std::stringstream script;
  script << std::ifstream(QUILLON_TEST_DATA "/../../platform/web/input.js").rdbuf();
  ASSERT_FALSE(script.str().empty());
#endif
  struct Key { std::int16_t code; int windows; const char* inPage; };
  for (const Key& key : {Key{kKeyEnter, 0x0D, "KEY_ENTER"}, Key{kKeySpace, 0x20, "KEY_SPACE"},
                         Key{kKeyWatch, 'W', "KEY_WATCH"}, Key{kKeyDaily, 'D', "KEY_DAILY"},
                         Key{kKeyEscape, 0x1B, nullptr}, Key{kKeyProcess, 0xE5, nullptr}}) {
    EXPECT_EQ(key.code, key.windows);
#ifndef _WIN32
    if (key.inPage == nullptr) continue;
    const std::string declared = std::string(key.inPage) + " = " + std::to_string(key.code);
    const auto at = script.str().find(declared);
    EXPECT_TRUE(at != std::string::npos && !std::isdigit(static_cast<unsigned char>(script.str()[at + declared.size()])))
        << key.inPage << " is not " << key.code << " in input.js";
#endif
  }
}

// Keys that arrive together in one pump (on the title with the Enter that starts the round, and
// in play) still give a record that replays to the very frames shown.
TEST(Replay, ARoundPlayedIsTheRoundReplayed) {
  const std::int16_t padA = KeyForPadButton(PadButton::South), padB = KeyForPadButton(PadButton::East);
  struct Together {
    std::vector<std::int16_t> keys;  // after the Enter that starts each round, in the same pump
    int firstJump;                   // 0 none, 1 high, 2 low: the round's first frame's jump
  };
  for (const Together& t : {Together{{}, 0}, Together{{kKeySpace}, 2}, Together{{kKeyEnter}, 1},
                            Together{{padB}, 2}, Together{{kKeyProcess, padA}, 2},
                            Together{{kKeyEnter, kKeySpace, kKeyEnter}, 1}}) {
    SCOPED_TRACE(t.keys.size() + 10 * static_cast<std::size_t>(t.firstJump));
    Harness h;
    h.keepPixels = false;  // the state of each frame shown is compared; the golden runs hold its pixels
    h.game.HighScore = 50;
    h.fake.Key(2, padA);
    for (const std::int16_t key : t.keys) h.fake.Key(2, key);
    for (int k = 0; k < 40; ++k) h.fake.Key(20 + 23 * k, k % 3 ? kKeySpace : kKeyEnter);
    h.fake.Key(60, kKeyProcess);
    for (const std::int16_t key : {kKeyEnter, kKeySpace, padA}) h.fake.Key(150, key);
    // Two rounds: the second starts where the first left the random draws.
    int ended = 0;
    bool inRound = false;
    h.fake.onPump = [&](WindowEvents& events) {
      if (h.game.Phase != PhaseTitle) inRound = true;
      if (!inRound || h.game.Phase != PhaseTitle) return;
      inRound = false;
      if (++ended == 2) events.Form_Unload();
      events.Form_KeyDown(kKeyEnter);
      for (const std::int16_t key : t.keys) events.Form_KeyDown(key);
    };
    h.fake.presentLimit = 20000;
    testing::RunUntilClosed(h.game);
    ASSERT_EQ(ended, 2);
    const RunRecord& run = h.game.R.Record;
    EXPECT_GT(run.draws, 18u);  // the second round's
    EXPECT_GT(run.keys.size(), 3u);
    ASSERT_FALSE(run.keys.empty());
    EXPECT_EQ(run.keys[0].frame == 0, t.firstJump != 0);
    if (t.firstJump != 0) {
      EXPECT_EQ(run.keys[0].high, t.firstJump == 1);
    }
    // The code names the same run, in letters, digits, '-' and '_' only.
    const std::string code = RunCode(run);
    EXPECT_EQ(code.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos);
    const ParsedRun parsed = ParseRunCode(code);
    ASSERT_TRUE(parsed.run) << parsed.problem;
    EXPECT_EQ(*parsed.run, run);
    // Replayed: the very frames the window showed, in order, to the end, and the score it reached.
    std::string problem;
    const auto replayed = Simulate(run, &problem);
    ASSERT_TRUE(replayed) << problem;
    ASSERT_GE(h.shots.size(), replayed->frames);
    auto shot = h.shots.end() - replayed->frames;
    Replayer player(run);
    while (player.Next() == Replayer::Step::Shown) {
      const Round& r = player.round();
      ASSERT_NE(shot, h.shots.end());
      const auto frame = h.shots.end() - shot;
      ASSERT_EQ(shot->carY, r.CarY) << frame << " frames before the end";
      ASSERT_EQ(shot->score, r.Score) << frame;
      ASSERT_EQ(shot->hitCount, r.HitCount) << frame;
      ASSERT_EQ(shot->phase, r.Phase) << frame;
      for (int i = 0; i < 6; ++i) ASSERT_EQ(shot->coin[i].X, r.CoinPos[i].X) << frame;
      for (int i = 0; i < 3; ++i) ASSERT_EQ(shot->ball[i].Y, r.TamaPos[i].Y) << frame;
      ++shot;
    }
    EXPECT_EQ(shot, h.shots.end());
    EXPECT_EQ(replayed->score, h.shots.back().score);
    EXPECT_GT(replayed->score, 50);
  }
}

// A round that sets a new best keeps its run beside it; W on the title plays it again, frame for
// frame, stores nothing, and Enter or Escape stops it.
TEST(Replay, TheBestRunIsKeptWithTheBestAndWatchedFromTheTitle) {
  for (const std::int16_t stop : {std::int16_t{0}, kKeyEscape, kKeyEnter}) {
    SCOPED_TRACE(stop);
    testing::TempDir dir;
    dir.Write("[QUILLON]\nHighScore=10\n");
    Harness h;
    std::vector<std::uint64_t> shown, above;  // whole frames, and the title's part above its prompt
    h.fake.onPresent = [&](const Surface& frame) {
      shown.push_back(QuickPrint(frame));
      above.push_back(std::hash<std::string_view>{}(std::string_view(
          reinterpret_cast<const char*>(frame.Row(0)), std::size_t{230} * frame.Width() * sizeof(Colour))));
    };
    h.fake.folder = dir.Folder();
    h.fake.Key(2, kKeyEnter);
    for (int k = 0; k < 12; ++k) h.fake.Key(25 + 29 * k, k % 2 ? kKeySpace : kKeyEnter);
    int rounds = 0, watchStart = -1;
    std::string ini, run;
    std::vector<std::string> captions;
    h.fake.onPump = [&](WindowEvents& events) {
      if (h.game.Phase != PhaseTitle && rounds == 0) rounds = 1;
      if (rounds == 1 && h.game.Phase == PhaseTitle) {
        // The round is over and its best kept: ask to watch it.
        rounds = 2;
        ini = dir.Read();
        run = testing::ReadFile(dir.path / "Quillon.run");
        watchStart = h.fake.presents;
        std::int16_t w = kKeyWatch;
        events.Form_KeyDown(w);
      }
      if (rounds == 2 && h.fake.caption != "Quillon") captions.push_back(h.fake.caption);
      if (rounds == 2 && stop != 0 && h.fake.presents == watchStart + 40) {
        std::int16_t key = stop;
        events.Form_KeyDown(key);
      }
      if (rounds == 2 && h.fake.presents > watchStart + 5 && h.fake.caption == "Quillon") events.Form_Unload();
    };
    h.fake.presentLimit = 20000;
    testing::RunUntilClosed(h.game);
    ASSERT_EQ(rounds, 2);
    // The run kept is the round just played, and it reaches the best kept with it.
    const ParsedRun parsed = ParseRunCode(run.substr(0, run.find('\n')));
    ASSERT_TRUE(parsed.run) << parsed.problem;
    EXPECT_EQ(*parsed.run, h.game.R.Record);
    EXPECT_EQ(ScoreOfRun(RunCode(*parsed.run)), h.game.HighScore);
    EXPECT_EQ(ini, "[QUILLON]\nHighScore=" + std::to_string(h.game.HighScore) + "\n");
    // Watched: the caption says so; nothing stored; the files as they were.
    ASSERT_FALSE(captions.empty());
    EXPECT_EQ(captions.front(), "Quillon - watching the best run");
    EXPECT_EQ(dir.Read(), ini);
    EXPECT_EQ(testing::ReadFile(dir.path / "Quillon.run"), run);
    // The frames shown while watching are the round's own, from its first; stopped, it ends at once.
    std::int32_t score = 0;
    std::string problem;
    const std::vector<std::uint64_t> replayed = Frames(*parsed.run, &score, &problem, QuickPrint);
    // After W, one more title frame, then the round from its first frame.
    const auto watched = shown.begin() + watchStart + 1;
    const std::size_t seen = stop == 0 ? replayed.size() : 39;  // the key came after the 39th
    ASSERT_GE(shown.end() - watched, static_cast<long>(seen));
    const auto differ = std::mismatch(replayed.begin(), replayed.begin() + static_cast<long>(seen), watched);
    EXPECT_EQ(differ.first - replayed.begin(), static_cast<long>(seen)) << "the first frame that differs";
    EXPECT_LE(shown.end() - watched, static_cast<long>(seen) + 3);
    // Back on the title, it is drawn whole again, not over the round's last frame.
    EXPECT_EQ(above.back(), above[static_cast<std::size_t>(watchStart)]);
  }
}

// A run handed over by the platform (a shared link) plays on the title; closed at its banner,
// its score is never taken for the player's best.
TEST(Replay, ASharedRunClosedAtItsBannerStoresNothing) {
  testing::TempDir dir;
  dir.Write("[QUILLON]\nHighScore=10\n");
  std::ifstream golden(QUILLON_TEST_DATA "/golden/still.txt");
  std::string code;
  golden >> code;
  const ParsedRun parsed = ParseRunCode(code);
  ASSERT_TRUE(parsed.run);
  Harness h;
  h.keepPixels = false;
  h.fake.folder = dir.Folder();
  bool handed = false, closed = false;
  h.fake.onPump = [&](WindowEvents& events) {
    if (!handed) {
      handed = true;
      events.Watch_Run(*parsed.run);
    }
    const Round* watched = h.game.Watched();
    if (watched != nullptr && watched->Phase == PhaseOver && watched->OverTimer > 20 && !closed) {
      EXPECT_GT(watched->Score, 10);
      closed = true;
      EXPECT_EQ(h.fake.caption, "Quillon - watching a run");
      events.Form_Unload();
    }
  };
  h.fake.presentLimit = 5000;
  testing::RunUntilClosed(h.game);
  EXPECT_TRUE(closed);
  EXPECT_EQ(dir.Read(), "[QUILLON]\nHighScore=10\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path / "Quillon.run"));
  // Named on the command line instead: it plays to its end, its frames the stored ones, and the
  // program ends with it, storing nothing either.
  std::int32_t score = 0;
  golden >> score;
  std::vector<std::uint64_t> expected, shown;
  for (std::string line; golden >> line;) expected.push_back(std::stoull(line, nullptr, 16));
  testing::FakePlatform fake;
  fake.folder = dir.Folder();
  fake.presentLimit = 5000;
  fake.onPresent = [&](const Surface& frame) {
    shown.push_back(Fingerprint(frame));
    EXPECT_EQ(fake.caption, "Quillon - watching a run");
  };
  EXPECT_THROW(WatchGame(fake, testing::TestPictures(), testing::TestFont(), *parsed.run), testing::ProgramEnded);
  EXPECT_EQ(shown, expected);
  EXPECT_EQ(std::pair(fake.clientW, fake.clientH), std::pair(kScreenW, kScreenH)) << "in a window of the picture's size";
  EXPECT_EQ(fake.caption, "Quillon");
  EXPECT_EQ(dir.Read(), "[QUILLON]\nHighScore=10\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path / "Quillon.run"));
}

TEST(RunCode, BadCodesNameNoRunAndSayWhy) {
  RunRecord run{3, 40, 100, {{5, true}, {60, false}, {140, true}}};
  const std::string good = RunCode(run);
  std::string future = good;
  future[1] = '9';
  std::string swapped = RunCode(RunRecord{3, 40, 100, {{60, true}, {60, false}}});
  struct Case {
    std::string code;
    const char* says;
  };
  for (const Case& c : {Case{"", "empty"}, Case{good.substr(0, good.size() - 3), "damaged"},
                        Case{good + "AAAA", "damaged"}, Case{std::string(kMaxRunCodeLength + 1, 'Q'), "too long"},
                        Case{"Q1-\xC3\xA9", "character"}, Case{"Q1-ab cd", "character"}, Case{"X1-AAAA", "not a"},
                        Case{"Q-AAAA", "not a"}, Case{"Q1", "not a"}, Case{future, "another version"},
                        Case{"Q99999999999-AAAA", "not a"}, Case{swapped, "out of order"},
                        Case{RunCode(RunRecord{3, 40, 100, {{60, false}, {60, true}}}), "out of order"},
                        Case{"Q1-_____________", "damaged"}, Case{"Q1-gA", "damaged"}, Case{"Q1-AAAAgA", "damaged"},
                        Case{"Q1-AAAAAYA", "damaged"}, Case{std::string(kMaxRunCodeLength + 1, 'x'), "too long"},
                        Case{"Q1-" + std::string(kMaxRunCodeLength - 3, 'A'), "damaged"},  // long, not too long
                        Case{"Q1-" + std::string(65536 - 3, 'A'), "damaged"},
                        // The rules version: any number of digits up to a bound, nothing else.
                        Case{"Q10-AAAA", "rules (10; this game plays 1)"}, Case{"Q123456-AAAA", "rules (123456;"},
                        Case{"Q1000000-AAAA", "rules (1000000;"}, Case{"Q1000010-AAAA", "not a"},
                        Case{"Q1x-AAAA", "not a"}, Case{"Q1-AAAA", "damaged"},  // no count of jumps
                        Case{"Q1-gICAgBAAAAA", "damaged"}, Case{"Q1-AACAgICAEAA", "damaged"},  // seed, best of 2^32
                        Case{"Q1-A\xFF", "character"}, Case{std::string("Q1-AA\0A", 7), "character"},
                        // A draw count that would take years to reach, and the first one past the bound.
                        Case{"Q1-Af___________wEAAA", "more draws"}, Case{RunCode({3, kMaxDraws + 1, 0, {}}), "more draws"},
                        Case{RunCode({3, 0, 0, {{kMaxFrames, true}}}), "later than any round"},
                        // The bounds in the world's units: 64 KiB of text, 2^22 draws, a million
                        // frames (about fourteen hours); the last ones inside are read below.
                        Case{std::string(65537, 'x'), "too long"}, Case{RunCode({3, 4194305, 0, {}}), "more draws"},
                        Case{RunCode({3, 0, 0, {{1000000, false}}}), "later than any round"},
                        Case{RunCode({3, 0, 0, {{10, true}, {0xFFFFFFFFu, true}}}), "later than any round"}}) {
    const ParsedRun parsed = ParseRunCode(c.code);
    EXPECT_FALSE(parsed.run) << c.code;
    EXPECT_NE(parsed.problem.find(c.says), std::string::npos) << c.code << ": " << parsed.problem;
  }
  EXPECT_TRUE(ParseRunCode(good).run);
  // Every field at its extremes comes back through the real reader as it went in.
  for (const RunRecord& edge : {RunRecord{0, 0, 0, {}}, RunRecord{0xFFFFFFFFu, kMaxDraws, INT32_MIN, {{0, false}}},
                                RunRecord{1, 1, -1, {{kMaxFrames - 1, true}}}, RunRecord{2, 0, INT32_MAX, {}},
                                RunRecord{7, 123, -77, {{0, true}, {1, false}, {kMaxFrames - 1, false}}},
                                RunRecord{128, 128, 64, {{64, false}, {127, true}}},
                                RunRecord{9, 4194304, 0, {{999999, true}}}}) {
    const ParsedRun parsed = ParseRunCode(RunCode(edge));
    ASSERT_TRUE(parsed.run) << RunCode(edge) << ": " << parsed.problem;
    EXPECT_EQ(*parsed.run, edge);
  }
  // Codes that parse but could not have been played; the longest start and the last frame a
  // code may hold are checked at once, not refused.
  std::int32_t score = 0;
  for (const auto& [bad, says] :
       {std::pair{RunRecord{3, 40, 100, {{5, true}, {6, false}}}, "no round could have taken"},
        std::pair{RunRecord{3, 40, 100, {{5, true}, {4000, false}}}, "past the round's end"},
        std::pair{RunRecord{3, kMaxDraws, 100, {{kMaxFrames - 1, false}}}, "past the round's end"}}) {
    std::string problem;
    EXPECT_TRUE(Frames(bad, &score, &problem).empty());
    EXPECT_NE(problem.find(says), std::string::npos) << problem;
  }
  std::string problem;
  EXPECT_TRUE(Simulate({5, kMaxDraws, 0, {}}, &problem)) << problem;
}

// Every door a code comes in by: the command line's text or file, and a kept run. Whatever names
// it, the answer comes at once and nothing but a regular file's first bytes is read.
TEST(RunCode, EveryDoorTakesACodeSafely) {
  testing::TempDir dir;
  std::ifstream golden(QUILLON_TEST_DATA "/golden/jumper.txt");
  std::string code;
  std::int32_t score = 0;
  golden >> code >> score;
  const auto file = [&](const std::string& name, const std::string& text) {
    std::ofstream((dir.path / name).string(), std::ios::binary) << text;
    return (dir.path / name).string();
  };
  struct Door {
    std::string arg;
    std::int32_t reaches;  // -1: refused
    const char* says;
  };
  std::vector<Door> doors = {
      {code, score, ""},
      {file("plain", code + "\n"), score, ""},
      {file("crlf", code + "\r\nmore\r\n"), score, ""},
      {file("trailing", code + "\n" + std::string(3 * kMaxRunCodeLength, 'x')), score, ""},
      {file("long", std::string(kMaxRunCodeLength + 1, 'Q')), -1, "too long"},
      {file("empty", ""), -1, "empty"},
      {dir.Folder(), -1, "not a Quillon run code"},
      {(dir.path / "absent").string(), -1, "not a Quillon run code"},
      {"Q1-Af___________wEAAA", -1, "more draws"},
  };
#ifndef _WIN32
  const std::string fifo = (dir.path / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  doors.push_back({fifo, -1, "not a Quillon run code"});
  doors.push_back({"/dev/zero", -1, "not a Quillon run code"});
#endif
  for (const Door& d : doors) {
    SCOPED_TRACE(d.arg.substr(0, 80));
    std::string problem;
    const auto checked = RunArgument(d.arg, &problem);
    EXPECT_EQ(checked ? checked->score : -1, d.reaches);
    EXPECT_NE(problem.find(d.says), std::string::npos) << problem;
  }
  // The run goes in with the best, in its turn. A kept run that reaches another score than the
  // best it is kept for is not that best's run: it gives way, whether it reaches less or more;
  // the same run stays as it was written; a run that does not reach the best it is offered for
  // is never kept, nor is one that another copy's larger best overtook. A run is read only
  // where it reaches the best beside it (never one that beats it).
  testing::FakePlatform fake;
  HighScoreStore store(fake.files);
  store.SetFolder(dir.Folder());
  std::ifstream longer(QUILLON_TEST_DATA "/golden/long.txt");
  std::string longCode;
  std::int32_t longScore = 0;
  longer >> longCode >> longScore;
  const std::string little = RunCode({1, 0, 0, {}});
  struct Kept {
    std::string before, offered;
    std::int32_t stored, best;
    bool kept;
    std::string after, read;
  };
  for (const Kept& k : {Kept{little, code, 0, score, true, code, code},
                        Kept{code, longCode, 0, longScore, true, longCode, longCode},
                        Kept{code + "\r", code, 0, score, true, code + "\r", code},
                        Kept{little, code, 0, score + 1, false, little, ""},
                        Kept{little, code, score + 5, score, false, little, ""},
                        Kept{longCode, "", 0, score, false, longCode, ""}}) {
    SCOPED_TRACE(k.before + " " + k.offered);
    file("Quillon.ini", "[QUILLON]\nHighScore=" + std::to_string(k.stored) + "\n");
    file("Quillon.run", k.before + "\n");
    EXPECT_EQ(store.Write(k.best, Patience::Brief, k.offered, ScoreOfRun), std::max(k.best, k.stored));
    EXPECT_EQ(store.RunKept(), k.kept);
    EXPECT_EQ(testing::ReadFile(dir.path / "Quillon.run"), k.after + "\n");
    EXPECT_EQ(store.ReadRun(ScoreOfRun).value_or(""), k.read);
  }
}

}  // namespace
}  // namespace quillon
