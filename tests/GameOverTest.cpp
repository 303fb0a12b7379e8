#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include "GameHarness.h"
#include "TempDir.h"
#include "game/Replay.h"

namespace quillon {
namespace {

using testing::Harness;
using testing::TempDir;

bool BannerShown(const std::vector<Colour>& frame) {
  const Pictures& p = testing::TestPictures();
  for (int y = 0; y < 30; ++y)
    for (int x = 1; x < 189; ++x)
      if (p.picHscrM.Pixel(x, y) == kBlack &&
          frame[static_cast<std::size_t>(12 + y) * kScreenW + x - 1] != p.picHscr.Pixel(x, y))
        return false;
  return true;
}

// A seed whose first two rounds, played with no jump, score more the second time.
constexpr std::uint32_t kTwoRisingRounds = 2;

// A round whose first frame brings the fourth hit.
template <typename Extra>
void WreckAtOnce(Harness& h, Extra extra) {
  h.PlayRound([&](frmMain& g) {
    g.R.HitCount = 3;
    g.R.TamaPos[0] = {90, 225};
    extra(g);
  });
}

TEST(GameOver, TheWorldSlowsForAHundredShownFramesThenTheTitleReturns) {
  TempDir dir;
  Harness h;
  h.game.Store.SetFolder(dir.Folder());
  h.game.HighScore = 1000;
  WreckAtOnce(h, [](frmMain& g) {
    g.R.CoinPos[0] = {400, 20};
    g.R.TamaPos[1] = {400, 60};
  });
  ASSERT_EQ(h.shots.size(), 100u);  // frame 101 ends the round unshown
  EXPECT_EQ(h.game.Phase, PhaseTitle);
  EXPECT_EQ(h.game.R.OverTimer, 101);
  EXPECT_EQ(h.game.R.Brake, 8);
  for (int k = 1; k <= 100; ++k) EXPECT_EQ(h.shots[k - 1].brake, std::min(k / 2.0, 8.0)) << k;
  // Frame 1 moves at full speed; frame k + 1 by 8 - k/2, a half alternating with X's parity.
  EXPECT_EQ(h.shots[0].coin[0].X, 392);
  EXPECT_EQ(h.shots[1].coin[0].X, 384);  // 392 - 7.5 = 384.5, to even
  EXPECT_EQ(h.shots[2].coin[0].X, 377);
  for (int f = 16; f < 100; ++f) {
    EXPECT_EQ(h.shots[f].coin[0].X, h.shots[15].coin[0].X);
    if (h.shots[f].ball[1].X < h.shots[f - 1].ball[1].X) {
      EXPECT_EQ(h.shots[f - 1].ball[1].X - h.shots[f].ball[1].X, 6) << f;
    }
  }
  // Score 1 never beat 1000: no banner, nothing written.
  for (const auto& s : h.shots) EXPECT_FALSE(BannerShown(s.pixels));
  EXPECT_FALSE(std::filesystem::exists(dir.Ini()));
  EXPECT_EQ(h.game.HighScore, 1000);
}

TEST(GameOver, TheBannerShowsFromTheFirstFrameThatBeatsTheBestAndTheScoreIsStoredOnce) {
  TempDir dir;
  dir.Write("; my notes\n[Other]\nkey = kept\n\n[QUILLON]\nHighScore=150\n");
  Harness h;
  h.game.Store.SetFolder(dir.Folder());
  h.game.HighScore = 150;
  WreckAtOnce(h, [](frmMain& g) {
    g.R.Score = 99;
    g.R.CoinPos[2] = {117, 225};  // caught on frame 3 of the game over
  });
  ASSERT_EQ(h.shots.size(), 100u);
  EXPECT_FALSE(BannerShown(h.shots[1].pixels));
  EXPECT_EQ(h.shots[2].score, 199);
  for (int f = 2; f < 100; ++f) EXPECT_TRUE(BannerShown(h.shots[f].pixels)) << f;
  EXPECT_EQ(h.game.HighScore, 199);
  EXPECT_EQ(dir.Read(), "; my notes\n[Other]\nkey = kept\n\n[QUILLON]\nHighScore=199\n");
}

TEST(GameOver, AnEqualScoreShowsNoBannerAndWritesNothing) {
  TempDir dir;
  dir.Write("[QUILLON]\nHighScore=100\n");
  // The same text written again would still be a write: its time tells.
  std::filesystem::last_write_time(dir.Ini(), std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 400));
  const auto old = std::filesystem::last_write_time(dir.Ini());  // as finely as this system keeps it
  Harness h;
  h.game.Store.SetFolder(dir.Folder());
  h.game.HighScore = 100;
  WreckAtOnce(h, [](frmMain& g) { g.R.Score = 100; });
  EXPECT_EQ(h.shots[0].score, 100);  // the wrecking frame earns no point
  for (const auto& s : h.shots) EXPECT_FALSE(BannerShown(s.pixels));
  EXPECT_EQ(dir.Read(), "[QUILLON]\nHighScore=100\n");
  EXPECT_TRUE(std::filesystem::last_write_time(dir.Ini()) == old);
  // A round played as it comes, tying the best it stored the first time: nothing is written
  // again, not even its run, which reaches that best as well.
  TempDir tie;
  const auto run = tie.path / "Quillon.run";
  for (int time = 0; time < 2; ++time) {
    Harness t;
    t.keepPixels = false;
    t.fake.folder = tie.Folder();
    t.fake.Key(3, 13);
    bool played = false;
    t.fake.onPump = [&](WindowEvents& events) {
      played = played || t.game.Phase == PhasePlay;
      if (played && t.game.Phase == PhaseTitle) events.Form_Unload();
    };
    testing::RunUntilClosed(t.game);
    if (time == 1) break;
    ASSERT_TRUE(std::filesystem::exists(run));
    std::filesystem::remove(run);
    std::filesystem::last_write_time(tie.Ini(), std::filesystem::last_write_time(tie.Ini()) - std::chrono::hours(1));
  }
  EXPECT_FALSE(std::filesystem::exists(run));
  EXPECT_LT(std::filesystem::last_write_time(tie.Ini()), std::filesystem::file_time_type::clock::now() - std::chrono::minutes(30));
}

TEST(GameOver, AHitDuringTheGameOverRestartsItsCount) {
  Harness h;
  h.keepPixels = false;
  WreckAtOnce(h, [](frmMain& g) { g.R.TamaPos[1] = {500, 225}; });
  // The second ball, slowing with the brake, reaches the wreck in a later frame.
  int restart = -1;
  for (std::size_t f = 1; f < h.shots.size(); ++f)
    if (h.shots[f].overTimer < h.shots[f - 1].overTimer) restart = static_cast<int>(f);
  ASSERT_GT(restart, 0);
  EXPECT_EQ(h.shots.size(), static_cast<std::size_t>(restart + 100));
  for (const auto& s : h.shots) EXPECT_EQ(s.hitCount, 4);
}

TEST(GameOver, ClosingWhileTheBannerShowsKeepsTheNewBest) {
  // Stored at once, or beside the frame loop on a disk slower than any round: the program waits.
  // None stored yet, or a negative best (a file edited by hand) that a round of no point beats.
  for (const int aside : {0, -1})
  for (const std::int32_t stored : {0, -5}) {
    TempDir dir;
    if (stored < 0) dir.Write("[QUILLON]\nHighScore=-5\n");
    Harness h;
    h.fake.asideFrames = aside;
    h.game.Store.SetFolder(dir.Folder());
    h.game.HighScore = stored;
    h.fake.Close(10);
    const std::int32_t score = stored < 0 ? 0 : 41;
    WreckAtOnce(h, [&](frmMain& g) { g.R.Score = score; });
    EXPECT_EQ(dir.Read(), "[QUILLON]\nHighScore=" + std::to_string(score) + "\n") << aside;
  }
}

TEST(GameOver, ClosingAnyOtherTimeStoresNothing) {
  for (bool beaten : {false, true}) {
    TempDir dir;
    Harness h;
    h.game.Store.SetFolder(dir.Folder());
    h.game.HighScore = 500;
    h.fake.Close(10);
    if (beaten) {
      h.PlayRound([](frmMain& g) { g.R.Score = 900; });  // mid-round, best beaten but not over
    } else {
      WreckAtOnce(h, [](frmMain& g) { g.R.Score = 10; });
    }
    EXPECT_FALSE(std::filesystem::exists(dir.Ini())) << beaten;
  }
}

TEST(Game, RoundsFollowEachOtherAndTheBestScoreCarriesOver) {
  TempDir dir;
  dir.Write("[QUILLON]\nHighScore=3\n");
  Harness h;
  h.keepPixels = false;
  h.fake.folder = dir.Folder();
  int rounds = 0;
  h.fake.onPresent = [&](const Surface&) {
    // Wreck the car on the first play frame of each round (the last title frame still
    // holds the previous round's score and brake).
    if (h.game.Phase == PhasePlay && h.game.R.Score == 1 && h.game.R.Brake == 0) {
      h.game.R.HitCount = 3;
      h.game.R.TamaPos[0] = {h.game.R.CarX, h.game.R.CarY};
      ++rounds;
    }
  };
  for (int i = 0; i < 3; ++i) h.fake.Key(5 + i * 120, 13);
  h.fake.Close(400);
  testing::RunUntilClosed(h.game);
  EXPECT_EQ(rounds, 3);
  EXPECT_EQ(h.game.HighScore, 3);  // a score of 1 never beats it
  EXPECT_EQ(h.game.Phase, PhaseTitle);
  EXPECT_FALSE(h.game.R.BobDown);
  EXPECT_EQ(dir.Read(), "[QUILLON]\nHighScore=3\n");
}

TEST(GameOver, AnotherCopysLargerBestStaysAndComesBackToTheTitle) {
  TempDir dir;
  dir.Write("[QUILLON]\nHighScore=100\n");
  Harness h;
  h.game.Store.SetFolder(dir.Folder());
  h.game.Store.Read(h.game.HighScore);
  dir.Write("; theirs\n[QUILLON]\nHighScore=1856\n");  // a second copy stored more meanwhile
  WreckAtOnce(h, [](frmMain& g) { g.R.Score = 1208; });
  EXPECT_EQ(dir.Read(), "; theirs\n[QUILLON]\nHighScore=1856\n");
  EXPECT_EQ(h.game.HighScore, 1856);
  EXPECT_TRUE(h.fake.reported.empty());
  // A best beyond the other copy's still goes in, next to its lines.
  Harness later;
  later.game.Store.SetFolder(dir.Folder());
  later.game.HighScore = 1856;
  WreckAtOnce(later, [](frmMain& g) { g.R.Score = 2000; });
  EXPECT_EQ(dir.Read(), "; theirs\n[QUILLON]\nHighScore=2000\n");
}

TEST(GameOver, ABestThatCanBeKeptNowhereIsToldOnceARun) {
  // The store at once, or beside the frame loop on a disk slower than any round: its job ends
  // only when the next store or the program's end waits for it, and is told then.
  for (const int aside : {0, -1}) {
    SCOPED_TRACE(aside);
    Harness h;  // a program folder that does not exist, and no data folder of the player's
    h.fake.folder = "/nonexistent-quillon-folder/";
    h.fake.asideFrames = aside;
    h.keepPixels = false;
    std::size_t toldBySecondRound = 0;
    h.fake.onPresent = [&](const Surface&) {
      if (h.game.Phase == PhasePlay && h.game.R.Score == 1 && h.game.R.Brake == 0) {
        if (h.game.HighScore > 0) toldBySecondRound = h.fake.reported.size();  // at once, not as it closes
        h.game.R.HitCount = 3;
        h.game.R.TamaPos[0] = {h.game.R.CarX, h.game.R.CarY};
        h.game.R.Score = 500 * (h.game.HighScore + 1);
      }
    };
    for (int i = 0; i < 2; ++i) h.fake.Key(5 + i * 120, 13);
    h.fake.Close(300);
    testing::RunUntilClosed(h.game);
    EXPECT_EQ(toldBySecondRound, aside == 0 ? 1u : 0u);
    ASSERT_EQ(h.fake.reported.size(), 1u);
    EXPECT_NE(h.fake.reported[0].find("/nonexistent-quillon-folder/Quillon.ini"), std::string::npos)
        << h.fake.reported[0];
    EXPECT_NE(h.fake.reported[0].find("no data folder"), std::string::npos) << h.fake.reported[0];
    EXPECT_GT(h.game.HighScore, 500);  // the run itself still holds it
  }
}

// A round's end hands its store to a job beside the frame loop: the title shows the new best at
// once, whatever the disk; a later round's store waits for the last, so they go in in order,
// each best with its own run.
TEST(GameOver, TheTitleNeverWaitsForAStoreAndStoresGoInInOrder) {
  TempDir dir;
  Harness h;
  h.keepPixels = false;
  h.fake.asideFrames = -1;
  h.game.Store.SetFolder(dir.Folder());
  h.game.R.Rnd.Seed(kTwoRisingRounds);
  std::vector<std::string> kept;
  h.fake.afterAside = [&] { kept.push_back(dir.Read() + testing::ReadFile(dir.path / "Quillon.run")); };
  // Two whole rounds as they fall, no jump: the second scores more than the first.
  std::int32_t scores[2];
  std::string runs[2];
  for (int round = 0; round < 2; ++round) {
    h.game.Phase = PhasePlay;
    h.game.Prepare();
    h.game.GameR();
    scores[round] = h.game.R.Score;
    runs[round] = RunCode(h.game.R.Record);
    EXPECT_EQ(h.game.HighScore, scores[round]) << "the title shows the new best at once";
    EXPECT_EQ(kept.size(), static_cast<std::size_t>(round)) << "while its store is still under way";
  }
  ASSERT_GT(scores[1], scores[0]);
  try {
    h.game.Form_Unload();
  } catch (const testing::ProgramEnded&) {
  }
  const auto file = [](std::int32_t best, const std::string& run) {
    return "[QUILLON]\nHighScore=" + std::to_string(best) + "\n" + run + "\n";
  };
  EXPECT_EQ(kept, (std::vector<std::string>{file(scores[0], runs[0]), file(scores[1], runs[1])}));
  EXPECT_EQ(h.game.Store.ReadRun(ScoreOfRun), runs[1]);
  EXPECT_TRUE(h.fake.reported.empty());
}

#ifndef _WIN32
// A disk with room for the best's file and none for its run's: each new best goes in, and the
// player hears once that its run could not.
TEST(GameOver, ABestKeptWithoutItsRunIsToldOnce) {
  TempDir dir;
  testing::SmallDisk disk(dir.path, 4);
  if (!disk) GTEST_SKIP() << "needs root and tmpfs for a small disk";
  dir.Write("[QUILLON]\nHighScore=1\n");
  std::filesystem::create_directory(dir.path / "Quillon.ini.new");  // rewritten in place, in its own room
  Harness h;
  h.keepPixels = false;
  h.game.Store.SetFolder(dir.Folder());
  h.game.HighScore = 1;
  h.game.R.Rnd.Seed(kTwoRisingRounds);
  for (int round = 0; round < 2; ++round) {
    h.game.Phase = PhasePlay;
    h.game.Prepare();
    h.game.GameR();
    EXPECT_EQ(dir.Read(), "[QUILLON]\nHighScore=" + std::to_string(h.game.R.Score) + "\n");
  }
  ASSERT_EQ(h.fake.reported.size(), 1u);
  EXPECT_EQ(h.fake.reported[0].rfind("cannot keep the run of the best score ", 0), 0u) << h.fake.reported[0];
  EXPECT_NE(h.fake.reported[0].find("Quillon.run: No space left on device"), std::string::npos) << h.fake.reported[0];
  EXPECT_FALSE(std::filesystem::exists(dir.path / "Quillon.run"));
}

TEST(GameOver, ABestThatWaitsForItsTurnIsTriedAgainAndToldOnlyIfItNeverComes) {
  using std::chrono::milliseconds;
  // Another copy holds the file's turn through the round's end: then gives it up before the
  // next round ends, or holds it to the program's end, with or without a folder of the
  // player's own to go to.
  // Or gives it up and the platform says the store can be read again (a browser's storage
  // that answered late).
  // Each with the store beside the frame loop too, its job ending in the next frame's pump.
  enum { kReleased, kHeldNoFolder, kHeldOwnFolder, kReady };
  for (const int aside : {0, 1})
  for (int held : {kReleased, kHeldNoFolder, kHeldOwnFolder, kReady}) {
    SCOPED_TRACE(::testing::Message() << "aside " << aside << ", held " << held);
    TempDir dir, data;
    dir.Write("[QUILLON]\nHighScore=100\n");
    Harness h;
    h.keepPixels = false;
    h.fake.asideFrames = aside;
    h.fake.files = testing::TestFileSystem(held == kHeldOwnFolder ? data.Folder() : std::string());
    h.fake.files.waits = {milliseconds(50), milliseconds(50), milliseconds(100)};
    h.game.Store.SetFolder(dir.Folder());
    h.game.HighScore = 100;
    int fd = ::open((dir.Ini() + ".new").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    WreckAtOnce(h, [](frmMain& g) { g.R.Score = 500; });
    EXPECT_EQ(h.game.Phase, PhaseTitle);
    EXPECT_EQ(h.game.HighScore, 500) << "the run holds it";
    EXPECT_EQ(dir.Read(), "[QUILLON]\nHighScore=100\n");
    EXPECT_TRUE(h.fake.reported.empty()) << "a store that waits is no failure yet";
    if (aside) h.fake.WaitAside();  // its job's turn comes while the file is still held
    if (held == kReleased || held == kReady) {
      ::close(fd);
      fd = -1;
      if (held == kReady) {
        h.game.Store_Ready();
        EXPECT_EQ(h.game.HighScore, 500) << "the title still shows the best it has just stored";
      } else {
        WreckAtOnce(h, [](frmMain& g) { g.R.Score = 10; });
        EXPECT_EQ(h.fake.asides, 2 * aside) << "tried again at the next round's end";
      }
      // Ready takes the job beside the frame loop first: its best that waited is stored then too.
      if (!aside || held == kReady) {
        EXPECT_EQ(dir.Read(), "[QUILLON]\nHighScore=500\n") << "kept at the next round's end, or when ready";
      }
    }
    try {
      h.game.Form_Unload();
    } catch (const testing::ProgramEnded&) {
    }
    if (held == kReleased || held == kReady) {
      EXPECT_EQ(dir.Read(), "[QUILLON]\nHighScore=500\n");
    }
    if (fd >= 0) ::close(fd);
    ASSERT_EQ(h.fake.reported.size(), held == kHeldNoFolder ? 1u : 0u) << held;
    if (held == kHeldNoFolder) {
      EXPECT_NE(h.fake.reported[0].find("500"), std::string::npos) << h.fake.reported[0];
    }
    if (held == kHeldOwnFolder) {
      EXPECT_EQ(data.Read(), "[QUILLON]\nHighScore=500\n");
    }
    if (held == kHeldNoFolder || held == kHeldOwnFolder) {
      EXPECT_EQ(dir.Read(), "[QUILLON]\nHighScore=100\n");
    }
  }
}
#endif

TEST(GameOver, WhereAPageCanCloseUnannouncedTheBannersBestIsStoredAtOnce) {
  TempDir dir;
  Harness h;
  h.fake.storesAtOnce = true;
  h.game.Store.SetFolder(dir.Folder());
  h.game.HighScore = 40;
  std::vector<std::string> seen;
#ifndef _WIN32
  int writes = 0;
  h.fake.files.onFlush = [&](const std::string& path) { writes += path == dir.Ini() + ".new"; };
#endif
  h.fake.onPresent = [&](const Surface&) { seen.push_back(dir.Read()); };
  // A coin the wreck drifts into during the slow-down raises the score once more.
  WreckAtOnce(h, [](frmMain& g) {
    g.R.Score = 41;
    g.R.CoinPos[0] = {115, 225};
  });
  ASSERT_EQ(seen.size(), 100u);
  EXPECT_EQ(seen[0], "[QUILLON]\nHighScore=41\n");  // on the banner's first frame
  EXPECT_EQ(seen[1], "[QUILLON]\nHighScore=141\n");  // and on the coin's
  EXPECT_EQ(dir.Read(), "[QUILLON]\nHighScore=" + std::to_string(h.game.R.Score) + "\n");
  EXPECT_EQ(h.game.R.Score, 141);
#ifndef _WIN32
  EXPECT_EQ(writes, 2);  // once for the banner, once for the coin: not once a frame
#endif
  EXPECT_EQ(h.game.HighScore, h.game.R.Score);
}

// Storage that answers while a round is under way (a browser's, late): a best that arrives in
// play is what the banner measures, and the run says so; once the slow-down has begun, the banner
// stays for its five seconds, and the larger best is kept all the same. A best in a file another
// program held at the start is not known: no banner hails the round, whether the file is let go
// in play (and read again) or never, however little it holds.
TEST(GameOver, ABestThatArrivesInARoundIsTheBannersMeasureUntilTheSlowDown) {
  // A best held at the start and given up in play: found by the next look (after the round's
  // slow-down has begun, too late), or at once where the platform says it can be read.
  // Or given up early in a longer round: found by the next look while the round is still played.
  struct Case {
    int arrives; bool held; std::int32_t stored; bool banner; std::int32_t bestBefore; bool ready;
    int later = 0;  // frames more before the fourth hit
  };
  for (const Case& c : {Case{1, false, 1000, false, 1000, true}, Case{10, false, 1000, true, 0, true},
                        Case{1, true, 1000, false, kBestUnknown, false}, Case{0, true, 100, false, kBestUnknown, false},
                        Case{1, true, 1000, false, 1000, true}, Case{1, true, 1000, false, 1000, false, 40}}) {
    SCOPED_TRACE(std::to_string(c.arrives) + (c.held ? " held" : ""));
#ifdef _WIN32
    if (c.held) continue;
#endif
    TempDir dir;
    dir.Write("[QUILLON]\nHighScore=" + std::to_string(c.stored) + "\n");
    Harness h;
    h.keepPixels = false;
    h.game.Store.SetFolder(dir.Folder());
    int fd = -1;
#ifndef _WIN32
    if (c.held) {
      fd = ::open(dir.Ini().c_str(), O_RDONLY | O_CLOEXEC);
      ASSERT_EQ(::flock(fd, LOCK_EX), 0);
      h.fake.files.waits = {std::chrono::milliseconds(20), std::chrono::milliseconds(20), std::chrono::milliseconds(20)};
      h.game.Store_Ready();  // the start's read
    }
#endif
    std::vector<bool> banner;
    h.fake.onPresent = [&](const Surface& s) {
      banner.push_back(BannerShown(s.Pixels()));
      if (static_cast<int>(banner.size()) != c.arrives) return;
      if (fd >= 0) ::close(fd);
      fd = -1;
      if (c.ready) h.game.Store_Ready();
    };
    h.PlayRound([&](frmMain& g) {
      g.R.Score = 500;
      g.R.HitCount = 3;
      g.R.TamaPos[0] = {static_cast<std::int16_t>(118 + 14 * c.later), 225};  // the fourth hit on the second frame, or later
    });
    if (fd >= 0) ::close(fd);
    ASSERT_EQ(banner.size(), 101u + static_cast<std::size_t>(c.later));
    EXPECT_FALSE(banner[0]);
    for (std::size_t f = 1; f < banner.size(); ++f) ASSERT_EQ(banner[f], c.banner) << f;
    EXPECT_EQ(h.game.R.Record.bestBefore, c.bestBefore);
    if (c.arrives > 0) {
      EXPECT_EQ(h.game.HighScore, 1000);
    }
    EXPECT_EQ(dir.Read(), "[QUILLON]\nHighScore=" + std::to_string(c.stored) + "\n");
  }
}

}  // namespace
}  // namespace quillon
