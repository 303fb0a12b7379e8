#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "GameHarness.h"

namespace {
std::atomic<long> g_allocations{0};
}

long AllocationCount() { return g_allocations.load(); }

void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace quillon {
namespace {

TEST(Allocation, PlayFramesNeverTouchTheHeap) {
  testing::FakePlatform fake;
  frmMain game(fake, testing::TestPictures(), testing::TestFont());
  std::vector<long> counts;
  counts.reserve(400);
  fake.onPresent = [&](const Surface&) {
    counts.push_back(g_allocations.load());
    if (game.R.Score == 30) game.R.HitCount = 3;  // bob, then wreck on a ball
  };
  for (int i = 0; i < 40; ++i) fake.Key(i * 9, i % 2 ? 13 : 32);
  fake.Close(390);
  game.Phase = PhasePlay;
  game.Prepare();
  try {
    game.GameR();
  } catch (const testing::ProgramEnded&) {
  }
  ASSERT_GE(counts.size(), 150u);
  EXPECT_EQ(counts.back() - counts.front(), 0);
}

}  // namespace
}  // namespace quillon
