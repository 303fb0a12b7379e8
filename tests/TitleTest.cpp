#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <tuple>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include "GameHarness.h"
#include "TempDir.h"
#include "game/Game.h"
#include "game/Replay.h"

namespace quillon {
namespace {

using testing::Harness;
using testing::PromptShown;

bool IsPlayFrame(const std::vector<Colour>& frame) {
  return frame[static_cast<std::size_t>(100) * kScreenW + 300] == kSky;
}

TEST(StartUp, OpensASizedWindowThatShowsBlackUntilTheTitle) {
  Harness h;
  h.fake.Close(1);
  testing::RunUntilClosed(h.game);
  EXPECT_EQ(h.fake.caption, "Quillon");
  EXPECT_EQ(h.fake.clientW, 425);
  EXPECT_EQ(h.fake.clientH, 300);
  EXPECT_TRUE(h.fake.shownBlack);
  EXPECT_EQ(h.game.M.AppPath, "/nonexistent-quillon-folder/");
  EXPECT_EQ(h.game.R.CarX, 75);
  EXPECT_EQ(h.game.R.CarY, 225);
  EXPECT_EQ(h.fake.presents, 1);
  // As the program starts it, through the one game it makes.
  testing::FakePlatform fake;
  fake.Close(1);
  EXPECT_THROW(RunGame(fake, testing::TestPictures(), testing::TestFont()), testing::ProgramEnded);
  EXPECT_EQ(std::tuple(fake.caption, fake.clientW, fake.clientH, fake.presents), std::tuple("Quillon", 425, 300, 1));
}

TEST(StartUp, ACloseRequestBeforeTheFirstFrameEndsAtOnce) {
  Harness h;
  h.fake.Close(0);
  testing::RunUntilClosed(h.game);
  EXPECT_EQ(h.fake.presents, 0);
  EXPECT_EQ(h.fake.pumps, 1);  // the pump inside start-up
}

TEST(Title, ShowsTheBestScoreAndPulsesThePromptEvery21Milliseconds) {
  // A stored best that can only be read once the title shows (a browser's storage answering
  // late) shows from the next frame on. One in a file another program holds at the start is
  // not known yet: no best shows (not 0) until it is read again, within a second of its release.
  for (const bool held : {false, true}) {
    SCOPED_TRACE(held ? "held" : "late");
    Harness h;
    h.fake.Close(held ? 60 : 34);
    testing::TempDir dir;
    h.fake.folder = dir.Folder();
    int fd = -1;
    if (held) {
      dir.Write("[QUILLON]\nHighScore=1250\n");
#ifndef _WIN32
      fd = ::open(dir.Ini().c_str(), O_RDONLY | O_CLOEXEC);
      ASSERT_EQ(::flock(fd, LOCK_EX), 0);
      h.fake.files.waits.read = std::chrono::milliseconds(20);
#else
      GTEST_SKIP() << "held files: WinFileSystemTest";
#endif
    }
    h.fake.onPump = [&](WindowEvents& events) {
      if (h.fake.presents != (held ? 25 : 20)) return;
      if (held && fd >= 0) {
        ::close(fd);
        fd = -1;
      } else if (!held && dir.Read().empty()) {
        dir.Write("[QUILLON]\nHighScore=1250\n");
        events.Store_Ready();
      }
    };
    testing::RunUntilClosed(h.game);
    ASSERT_EQ(h.shots.size(), held ? 60u : 34u);
    const int pulse[] = {0, 1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 0, 0, 1, 2};
    for (std::size_t i = 0; i < h.shots.size(); ++i) {
      EXPECT_EQ(PromptShown(h.shots[i].pixels), pulse[i % 16]) << i;
      if (i > 0) {
        EXPECT_EQ(h.shots[i].frameStart - h.shots[i - 1].frameStart, 21);
      }
    }
    // The whole frame: the title, the line "High Score:..." in green, the prompt.
    const auto title = [](std::string_view best, int prompt) {
      Surface expected = testing::TestPictures().picTitle;
      expected.SetFont(testing::TestFont());
      expected.ForeColor = Rgb(0, 255, 0);
      expected.CurrentX = 3;
      expected.CurrentY = 3;
      expected.Print(best);
      BitBlt(expected, 140, 235, 167, 35, testing::TestPictures().picPek[prompt], 0, 0, RasterOp::SRCCOPY);
      return expected.Pixels();
    };
    const std::string before = held ? "High Score:" : "High Score:0";
    const std::size_t shows = held ? 40 : 20;  // the next look after the release, or at once
    EXPECT_EQ(h.shots[0].pixels, title(before, 0));
    EXPECT_EQ(h.shots[shows - 1].pixels, title(before, pulse[(shows - 1) % 16]));  // not yet
    EXPECT_EQ(h.shots[shows].pixels, title("High Score:1250", pulse[shows % 16]));
    EXPECT_EQ(h.game.HighScore, 1250);
  }
}

TEST(Title, EnterEndsItAfterExactlyOneMoreFrame) {
  {
    Harness h;
    h.fake.Key(8, 13);  // after the first of the two frames of prompt 7
    h.fake.Close(11);
    testing::RunUntilClosed(h.game);
    ASSERT_EQ(h.shots.size(), 11u);
    EXPECT_EQ(PromptShown(h.shots[7].pixels), 7);
    EXPECT_EQ(PromptShown(h.shots[8].pixels), 7);
    EXPECT_FALSE(IsPlayFrame(h.shots[8].pixels));
    EXPECT_TRUE(IsPlayFrame(h.shots[9].pixels));
    EXPECT_EQ(h.shots[9].score, 1);
    // No wait after the last title frame: play starts on the same clock reading.
    EXPECT_EQ(h.shots[9].frameStart, h.shots[8].frameStart);
    EXPECT_EQ(h.shots[10].frameStart - h.shots[9].frameStart, 51);
  }
}

TEST(Title, SpaceAndOtherKeysNeverStartAGame) {
  Harness h;
  // Nor play the kept best run, which only W plays.
  testing::TempDir dir;
  std::string code;
  std::ifstream(QUILLON_TEST_DATA "/golden/still.txt") >> code;
  ASSERT_TRUE(ScoreOfRun(code));
  dir.Write("[QUILLON]\nHighScore=" + std::to_string(*ScoreOfRun(code)) + "\n");
  std::ofstream(dir.path / "Quillon.run") << code << "\n";
  h.fake.folder = dir.Folder();
  for (int i = 1; i < 20; ++i) h.fake.Key(i, static_cast<std::int16_t>(i % 2 ? 32 : (i % 4 ? 229 : 65)));
  h.fake.Close(25);
  testing::RunUntilClosed(h.game);
  for (const auto& shot : h.shots) EXPECT_FALSE(IsPlayFrame(shot.pixels));
  EXPECT_FALSE(h.game.R.InAir);
}

TEST(Title, EnterHeldDownStartsAHighJumpAsSoonAsPlayBegins) {
  Harness h;
  h.fake.Key(3, 13);
  h.fake.Key(3, 13);  // the key's auto-repeat, in the same pump
  h.fake.Close(6);
  testing::RunUntilClosed(h.game);
  ASSERT_TRUE(IsPlayFrame(h.shots[4].pixels));
  EXPECT_EQ(h.shots[4].carY, 205);
}

TEST(Title, AGameStartedDuringThePumpAfterARoundShowsOneTitleFrame) {
  Harness h;
  h.game.Phase = PhasePlay;
  h.fake.Close(1);
  try {
    h.game.OpeningR();
  } catch (const testing::ProgramEnded&) {
  }
  EXPECT_EQ(h.fake.presents, 1);
  EXPECT_EQ(h.fake.pumps, 0);
  EXPECT_EQ(PromptShown(h.shots[0].pixels), 0);
}

TEST(Title, EnterInThePumpJustBeforeItShowsOnlyOneTitleFrame) {
  // The pump at start-up after the window shows, and the main cycle's pump after a round.
  Harness h;
  int enters = 0, closeAt = -1;
  h.fake.presentLimit = 400;
  h.fake.onPump = [&](WindowEvents& events) {
    std::int16_t enter = kKeyEnter;
    const bool justBefore = h.fake.presents == 0 ? h.fake.pumps == 2 : h.game.R.OverTimer > 100;
    if (h.game.Phase == PhaseTitle && justBefore && enters < 2) {
      events.Form_KeyDown(enter);
      if (++enters == 2) closeAt = h.fake.presents + 3;
    }
    if (h.game.Phase == PhasePlay && h.game.R.HitCount < 3) {  // the first round ends at once
      h.game.R.HitCount = 3;
      h.game.R.TamaPos[0] = {90, 225};
    }
    if (h.fake.presents == closeAt) events.Form_Unload();
  };
  testing::RunUntilClosed(h.game);
  ASSERT_EQ(enters, 2);
  std::vector<int> titles;
  for (int i = 0; i < static_cast<int>(h.shots.size()); ++i)
    if (!IsPlayFrame(h.shots[i].pixels)) titles.push_back(i);
  ASSERT_EQ(titles.size(), 2u);
  EXPECT_EQ(titles[0], 0);
  EXPECT_EQ(h.shots[titles[1] - 1].phase, PhaseOver);
  EXPECT_EQ(titles[1] + 3, static_cast<int>(h.shots.size()));
}

// A platform that only counts, for the wait on its own.
}  // namespace
}  // namespace quillon
