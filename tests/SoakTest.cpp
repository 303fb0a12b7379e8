// Thousands of rounds at full speed by a random player, checking after every frame what the
// rules guarantee. QUILLON_SOAK_ROUNDS sets the rounds per seed (tools/soak runs the long one).
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "FakePlatform.h"

long AllocationCount();  // AllocationTest.cpp

namespace quillon {
namespace {

struct StopSoak {};

void Soak(std::uint32_t seed, int rounds) {
  testing::FakePlatform fake;
  fake.seed = seed;
  fake.script.reserve(static_cast<std::size_t>(rounds) * 2000 + 1000);
  frmMain game(fake, testing::TestPictures(), testing::TestFont());
  std::mt19937 player(seed * 7919u);
  int finished = 0, roundFrames = 0, longestRound = 0, hits = 0;
  std::int32_t best = 0;
  bool inRound = false, wasInRound = false;
  long allocationsBefore = 0;
  fake.onPresent = [&](const Surface& s) {
    const bool play = s.Pixel(300, 100) == kSky;
    if (play) {
      inRound = true;
      ++roundFrames;
      // A play frame between two presents of the same round may not allocate.
      if (wasInRound) {
        ASSERT_EQ(AllocationCount(), allocationsBefore) << "frame " << fake.presents;
      }
      ASSERT_GE(game.R.HitCount, 0);
      ASSERT_LE(game.R.HitCount, 4);
      ASSERT_GE(game.R.CarY, 14);
      ASSERT_LE(game.R.CarY, 226);
      if (!game.R.InAir) {
        ASSERT_TRUE(game.R.CarY == 225 || (game.R.CarY == 226 && game.R.BobDown));
      }
      ASSERT_GE(game.R.JumpSpeed, -1);
      ASSERT_LE(game.R.JumpSpeed, 22);
      ASSERT_LE(game.R.Brake, 8);
      ASSERT_LE(game.R.OverTimer, 101);
      ASSERT_EQ(game.R.CarX, 75);
      for (const PosXY& c : game.R.CoinPos) ASSERT_TRUE(c.Y == 20 || c.Y == 150);
      for (const PosXY& b : game.R.TamaPos) ASSERT_TRUE(b.Y >= 50 && b.Y <= 229);
      hits += game.R.HitCount == 4;
    } else if (inRound) {  // back on the title: the round ended
      inRound = false;
      ++finished;
      longestRound = std::max(longestRound, roundFrames);
      roundFrames = 0;
      if (finished == rounds) throw StopSoak{};
    }
    wasInRound = play;
    ASSERT_GE(game.HighScore, best);
    best = game.HighScore;
    // The player: Enter on the title after a while; Enter or Space at random in play.
    const auto roll = static_cast<unsigned>(player() % 100);
    if (!play && roll < 10) fake.Key(fake.presents, 13);
    if (play && roll < 6) fake.Key(fake.presents, roll < 3 ? 13 : 32);
    if (play && roll == 99) fake.Key(fake.presents, 229);
    allocationsBefore = AllocationCount();
  };
  try {
    game.Run();
  } catch (const StopSoak&) {
  }
  EXPECT_EQ(finished, rounds) << "seed " << seed;
  EXPECT_GT(hits, 0);
  EXPECT_LT(longestRound, 20000) << "a round that never ends";
}

TEST(Soak, RandomPlayersKeepEveryRule) {
  const char* env = std::getenv("QUILLON_SOAK_ROUNDS");
  const int rounds = env ? std::atoi(env) : 40;
  for (std::uint32_t seed : {1u, 2u, 3u, 4u}) Soak(seed, rounds);
}

}  // namespace
}  // namespace quillon
