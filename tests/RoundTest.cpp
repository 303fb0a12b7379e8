#include <gtest/gtest.h>

#include "GameHarness.h"

namespace quillon {
namespace {

using testing::Harness;

std::vector<int> CarPath(const Harness& h) {
  std::vector<int> path;
  for (const auto& s : h.shots) path.push_back(s.carY);
  return path;
}

TEST(Prepare, PlacesEveryObjectBeyondTheRightEdgeWithEighteenDraws) {
  int rows[2] = {0, 0};
  int ballLow = 1000, ballHigh = 0, xLow = 5000, xHigh = 0;
  for (std::uint32_t seed = 1; seed <= 400; ++seed) {
    Harness h;
    h.game.R.Rnd.Seed(seed);
    h.game.R.InAir = true;
    h.game.R.JumpSpeed = 7;
    h.game.R.Score = 99;
    h.game.R.HitCount = 4;
    h.game.R.Brake = 8;
    Random replay = h.game.R.Rnd;
    h.game.Prepare();
    // Each coin takes its x then its row, then each ball its x then its height, in order.
    int draws = 0;
    const auto draw = [&](double range) {
      ++draws;
      return static_cast<int>(std::floor(range * replay.Next()));
    };
    for (const PosXY& c : h.game.R.CoinPos) {
      ASSERT_EQ(c.X, 440 + draw(1000));
      ASSERT_EQ(c.Y, 20 + 130 * draw(2));
    }
    for (const PosXY& b : h.game.R.TamaPos) {
      ASSERT_EQ(b.X, 440 + draw(1000));
      ASSERT_EQ(b.Y, 50 + draw(180));
    }
    ASSERT_EQ(draws, 18);  // six coins, three balls
    ASSERT_EQ(replay.Next(), h.game.R.Rnd.Next());
    for (const PosXY& c : h.game.R.CoinPos) {
      ASSERT_TRUE(c.Y == 20 || c.Y == 150);
      rows[c.Y == 150]++;
      xLow = std::min<int>(xLow, c.X);
      xHigh = std::max<int>(xHigh, c.X);
    }
    for (const PosXY& b : h.game.R.TamaPos) {
      ballLow = std::min<int>(ballLow, b.Y);
      ballHigh = std::max<int>(ballHigh, b.Y);
      xLow = std::min<int>(xLow, b.X);
      xHigh = std::max<int>(xHigh, b.X);
    }
    EXPECT_EQ(h.game.R.Score, 0);
    EXPECT_EQ(h.game.R.HitCount, 0);
    EXPECT_EQ(h.game.R.Brake, 0);
    EXPECT_EQ(h.game.picWork.ForeColor, Rgb(230, 230, 230));
    // The car starts on the road: a jump comes only through a frame, which records it.
    EXPECT_FALSE(h.game.R.InAir);
    EXPECT_EQ(h.game.R.JumpSpeed, 0);
  }
  // A session's rounds start within the draws a code may hold: one just past them begins afresh
  // from the machine's seed, one at the bound goes on.
  for (const std::uint64_t draws : {kMaxDraws, kMaxDraws + 1}) {
    Harness h;
    h.fake.seed = 99;
    h.game.R.Rnd.Restore(5, draws);
    h.game.Prepare();
    EXPECT_EQ(h.game.R.Record.seed, draws > kMaxDraws ? 99u : 5u);
    EXPECT_EQ(h.game.R.Record.draws, draws > kMaxDraws ? 0u : kMaxDraws);
  }
  EXPECT_GT(rows[0], 900);
  EXPECT_GT(rows[1], 900);
  EXPECT_EQ(ballLow, 50);
  EXPECT_EQ(ballHigh, 229);
  EXPECT_GE(xLow, 440);
  EXPECT_LE(xHigh, 1439);
  EXPECT_LT(xLow, 450);
  EXPECT_GT(xHigh, 1429);
}

TEST(Round, FirstFrameShowsOnlyTheCarAndTheScoreOne) {
  Harness h;
  h.fake.Close(1);
  h.PlayRound([](frmMain&) {});
  Surface expected = testing::TestPictures().playBackground;
  MaskedDraw(expected, 75, 225, 34, 16, testing::TestPictures().picCarM[0], testing::TestPictures().picCar[0]);
  expected.SetFont(testing::TestFont());
  expected.ForeColor = Rgb(230, 230, 230);
  expected.CurrentX = 3;
  expected.CurrentY = 3;
  expected.Print("Score:1");
  EXPECT_EQ(h.shots[0].pixels, expected.Pixels());
}

TEST(Round, ACoinPlacedAt440ComesIntoViewOnTheThirdFrame) {
  Harness h;
  h.fake.Close(4);
  h.PlayRound([](frmMain& g) { g.R.CoinPos[0] = {440, 150}; });
  // Each shot holds the place after the frame's step: frame f drew the coin 8 further right.
  EXPECT_EQ(h.shots[0].coin[0].X, 432);
  EXPECT_EQ(h.shots[1].coin[0].X, 424);
  EXPECT_EQ(h.shots[2].coin[0].X, 416);  // drawn at 424: its first column is blank
  auto yellowIn = [&](int frame) {
    int n = 0;
    for (int y = 150; y < 162; ++y)
      for (int x = 410; x < 425; ++x)
        n += h.shots[frame].pixels[static_cast<std::size_t>(y) * kScreenW + x] == Rgb(255, 255, 0);
    return n;
  };
  EXPECT_EQ(yellowIn(1), 0);
  EXPECT_EQ(yellowIn(2), 0);
  EXPECT_GT(yellowIn(3), 10);  // drawn at 416
}

TEST(Round, ObjectsLeaveStrictlyPastMinus20AndComeBackFromTheRight) {
  Harness h;
  h.fake.Close(1);
  h.PlayRound([](frmMain& g) {
    g.R.CoinPos[0] = {-12, 20};  // steps to -20: stays
    g.R.CoinPos[1] = {-13, 20};  // steps to -21: placed anew
    g.R.TamaPos[0] = {-6, 60};
    g.R.TamaPos[1] = {-7, 60};
  });
  EXPECT_EQ(h.shots[0].coin[0].X, -20);
  EXPECT_GE(h.shots[0].coin[1].X, 440);
  EXPECT_EQ(h.shots[0].ball[0].X, -20);
  EXPECT_GE(h.shots[0].ball[1].X, 440);
}

TEST(Round, BrakeStepsRoundHalvesToEven) {
  Harness h;
  h.fake.Close(1);
  h.PlayRound([](frmMain& g) {
    g.R.Brake = 0.5;
    g.R.CoinPos[0] = {100, 20};
    g.R.CoinPos[1] = {101, 20};
    g.R.TamaPos[0] = {200, 60};
  });
  EXPECT_EQ(h.shots[0].coin[0].X, 92);
  EXPECT_EQ(h.shots[0].coin[1].X, 94);
  EXPECT_EQ(h.shots[0].ball[0].X, 186);

  Harness h8;
  h8.fake.Close(2);
  h8.PlayRound([](frmMain& g) {
    g.R.Brake = 8;
    g.R.CoinPos[0] = {200, 20};
    g.R.TamaPos[0] = {200, 60};
  });
  EXPECT_EQ(h8.shots[1].coin[0].X, 200);
  EXPECT_EQ(h8.shots[1].ball[0].X, 188);
}

TEST(Round, HighAndLowJumpsFollowTheirTrajectories) {
  struct Jump { std::int16_t key; int first[3]; int top; int topFrame; int landFrame; };
  // 229: the key an input method takes for itself, which is Space to the game.
  for (Jump j : {Jump{13, {205, 186, 168}, 14, 21, 43}, Jump{32, {209, 194, 180}, 88, 17, 35},
                 Jump{229, {209, 194, 180}, 88, 17, 35}}) {
    Harness h;
    h.fake.Key(1, j.key);
    h.fake.Key(5, j.key);  // pressed again in the air: nothing changes
    h.fake.Close(50);
    h.PlayRound([](frmMain&) {});
    std::vector<int> path = CarPath(h);
    path.erase(path.begin());  // frame numbers count from the first step after the key
    EXPECT_EQ(path[0], j.first[0]);
    EXPECT_EQ(path[1], j.first[1]);
    EXPECT_EQ(path[2], j.first[2]);
    EXPECT_EQ(*std::min_element(path.begin(), path.end()), j.top);
    EXPECT_EQ(path[j.topFrame - 1], j.top);
    EXPECT_EQ(path[j.topFrame], j.top);
    EXPECT_EQ(path[j.landFrame - 2], 224);
    EXPECT_EQ(path[j.landFrame - 1], 225);
    for (int f = j.landFrame; f < 48; ++f) EXPECT_EQ(path[f], 225);
  }
}

TEST(Round, OnAMachineTooSlowForTheFramePeriodKeysStillAct) {
  Harness h;
  h.fake.presentCost = 80;  // every frame takes longer than its period: no time is left to wait
  h.fake.Key(2, kKeyEnter);
  h.fake.Key(5, kKeySpace);
  h.fake.Close(7);
  h.fake.presentLimit = 50;
  testing::RunUntilClosed(h.game);
  ASSERT_EQ(h.shots.size(), 7u);
  EXPECT_EQ(h.shots[2].score, 0);  // the title's one more frame
  EXPECT_EQ(h.shots[3].score, 1);
  EXPECT_EQ(h.shots[4].carY, 225);
  EXPECT_EQ(h.shots[5].carY, 225 - 16);
  for (std::size_t i = 1; i < h.shots.size(); ++i) EXPECT_EQ(h.shots[i].frameStart - h.shots[i - 1].frameStart, 80);
}

TEST(Round, ADamagedCarBobsWhilePlaying) {
  Harness h;
  h.fake.Close(6);
  h.PlayRound([](frmMain& g) { g.R.HitCount = 2; });
  EXPECT_EQ(CarPath(h), (std::vector<int>{226, 225, 226, 225, 226, 225}));
}

TEST(Hantei, CollisionEdges) {
  Harness h;
  frmMain& g = h.game;
  auto coinCaught = [&](int x, int y, int carY) {
    g.R.CarX = 75;
    g.R.CarY = static_cast<std::int16_t>(carY);
    for (PosXY& c : g.R.CoinPos) c = {20000, 20};
    for (PosXY& b : g.R.TamaPos) b = {20000, 20};
    g.R.CoinPos[3] = {static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)};
    g.R.Score = 0;
    g.R.Hantei();
    return g.R.Score == 100 && g.R.CoinPos[3].X == -50;
  };
  auto ballHits = [&](int x, int y, int carY) {
    g.R.CarY = static_cast<std::int16_t>(carY);
    for (PosXY& c : g.R.CoinPos) c = {20000, 20};
    g.R.TamaPos[1] = {static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)};
    g.R.HitCount = 0;
    g.R.Hantei();
    return g.R.HitCount == 1;
  };
  EXPECT_TRUE(coinCaught(63, 150, 150));
  EXPECT_TRUE(coinCaught(108, 150, 150));
  EXPECT_FALSE(coinCaught(62, 150, 150));
  EXPECT_FALSE(coinCaught(109, 150, 150));
  EXPECT_TRUE(coinCaught(80, 150, 135));
  EXPECT_TRUE(coinCaught(80, 150, 161));
  EXPECT_FALSE(coinCaught(80, 150, 134));
  EXPECT_FALSE(coinCaught(80, 150, 162));
  EXPECT_TRUE(coinCaught(80, 20, 14));
  EXPECT_FALSE(coinCaught(80, 20, 225));
  EXPECT_TRUE(ballHits(66, 225, 225));
  EXPECT_TRUE(ballHits(108, 225, 225));
  EXPECT_FALSE(ballHits(65, 225, 225));
  EXPECT_FALSE(ballHits(109, 225, 225));
  EXPECT_TRUE(ballHits(108, 240, 225));  // the corner pixel
  EXPECT_FALSE(ballHits(108, 241, 225));
  EXPECT_TRUE(ballHits(80, 220, 225));
  EXPECT_FALSE(ballHits(80, 219, 225));
  EXPECT_TRUE(ballHits(80, 221, 226));
  EXPECT_FALSE(ballHits(80, 220, 226));
}

TEST(Hantei, EveryCatchAndHitOfAFrameCounts) {
  Harness h;
  frmMain& g = h.game;
  g.R.Phase = PhasePlay;
  g.R.CarX = 75;
  g.R.CarY = 150;
  for (PosXY& c : g.R.CoinPos) c = {80, 150};
  for (PosXY& b : g.R.TamaPos) b = {20000, 20};
  g.R.TamaPos[0] = {80, 155};
  g.R.TamaPos[2] = {90, 155};
  g.R.HitCount = 2;
  g.R.Score = 5;
  g.R.Hantei();
  EXPECT_EQ(g.R.Score, 605);
  EXPECT_EQ(g.R.HitCount, 4);
  EXPECT_EQ(g.R.Phase, PhaseOver);
  EXPECT_EQ(g.R.OverTimer, 0);
  EXPECT_EQ(g.R.TamaPos[2].X, -50);
  // A hit in the game over restarts its count and keeps the wreck at four hits.
  g.R.OverTimer = 40;
  g.R.TamaPos[1] = {80, 155};
  g.R.Hantei();
  EXPECT_EQ(g.R.HitCount, 4);
  EXPECT_EQ(g.R.OverTimer, 0);
  // The score stops at the largest Long; the coin is still taken.
  g.R.Score = INT32_MAX - 50;
  g.R.CoinPos[0] = {80, 150};
  g.R.Hantei();
  EXPECT_EQ(g.R.Score, INT32_MAX - 50);
  EXPECT_EQ(g.R.CoinPos[0].X, -50);
}

TEST(Round, TheFourthHitWrecksTheCarWhichThenStopsBobbing) {
  Harness h;
  h.fake.Close(5);
  h.PlayRound([](frmMain& g) {
    g.R.HitCount = 3;
    g.R.TamaPos[0] = {118, 225};  // reaches the car's front on the second frame
  });
  EXPECT_EQ(h.shots[0].hitCount, 3);
  EXPECT_EQ(h.shots[0].carY, 226);
  EXPECT_EQ(h.shots[1].hitCount, 4);
  EXPECT_EQ(h.shots[1].phase, PhaseOver);
  EXPECT_EQ(h.shots[1].score, 1);  // the wrecking frame earns no point
  for (int f = 1; f < 5; ++f) EXPECT_EQ(h.shots[f].carY, 225);
  // Drawn from the wreck's pictures: the sky shows through its empty windows.
  const auto& frame = h.shots[2].pixels;
  const Pictures& p = testing::TestPictures();
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 34; ++x)
      if (p.picCarM[4].Pixel(x, y) == kBlack) {
        EXPECT_EQ(frame[static_cast<std::size_t>(225 + y) * kScreenW + 75 + x], p.picCar[4].Pixel(x, y));
      }
  EXPECT_EQ(frame[static_cast<std::size_t>(225 + 4) * kScreenW + 75 + 10], kSky);
}

TEST(Round, TheFirstThreeHitsOnlyDamageTheCar) {
  Harness h;
  h.fake.Close(6);
  h.PlayRound([](frmMain& g) {
    // Three balls that reach the car's front on the second, third and fourth frames.
    g.R.TamaPos[0] = {118, 225};
    g.R.TamaPos[1] = {132, 225};
    g.R.TamaPos[2] = {146, 225};
  });
  ASSERT_GE(h.shots.size(), 5u);
  for (int f = 1; f <= 3; ++f) {
    EXPECT_EQ(h.shots[f].hitCount, f);
    EXPECT_EQ(h.shots[f].phase, PhasePlay) << "after hit " << f;
  }
  EXPECT_EQ(h.shots[4].score, 5);  // still earning a point a frame
}

TEST(Round, ScoreStopsAtTheLargestLong) {
  Harness h;
  h.fake.Close(3);
  h.PlayRound([](frmMain& g) { g.R.Score = INT32_MAX - 1; });
  EXPECT_EQ(h.shots[0].score, INT32_MAX);
  EXPECT_EQ(h.shots[2].score, INT32_MAX);
}

// A round's record: each jump where it took effect, as far as its room goes; a round that
// outgrows its room, or outlasts what a code may hold, is no run.
TEST(Round, RecordsEachJumpWhereItTookEffectAsFarAsItsRoomGoes) {
  Round r(2);
  r.Rnd.Seed(3);
  r.Prepare(0);
  r.CarY = -1000;  // out of every object's reach: the round never ends
  r.InAir = false;
  const auto stepTo = [&](std::uint32_t frame, Jump jump) {
    while (r.Frames < frame) ASSERT_FALSE(r.Step(Jump::None));
    ASSERT_FALSE(r.Step(jump));
  };
  stepTo(0, Jump::High);
  stepTo(5, Jump::Low);  // in the air: no jump took effect
  r.InAir = false;
  stepTo(9, Jump::Low);
  EXPECT_EQ(r.Record.keys, (std::vector<RunKey>{{0, true}, {9, false}}));
  EXPECT_TRUE(r.Whole);
  r.InAir = false;
  stepTo(20, Jump::High);  // past the room
  EXPECT_EQ(r.Record.keys.size(), 2u);
  EXPECT_FALSE(r.Whole);
  // The longest round a code may hold, and one frame more.
  r.Prepare(0);
  r.CarY = -1000;
  stepTo(kMaxFrames - 2, Jump::None);
  EXPECT_TRUE(r.Whole);
  stepTo(kMaxFrames - 1, Jump::None);
  EXPECT_FALSE(r.Whole);
  // The game's own round has room for a round of hours: 4096 jumps, and not one more.
  testing::Harness h;
  Round& g = h.game.R;
  g.Prepare(0);
  g.CarY = -1000;
  g.Record.keys.assign(4095, RunKey{0, true});
  for (const bool whole : {true, false}) {
    g.InAir = false;
    ASSERT_FALSE(g.Step(Jump::High));
    EXPECT_EQ(g.Whole, whole) << g.Record.keys.size();
  }
}

}  // namespace
}  // namespace quillon
