// The frame clock: deadlines and waits on a millisecond clock that wraps.
#include <gtest/gtest.h>

#include "GameHarness.h"
#include "game/FrameClock.h"

namespace quillon {
namespace {

using testing::Harness;
using testing::PromptShown;

struct ClockOnly : testing::FakePlatform {};

struct NoEvents : WindowEvents {
  void Form_KeyDown(std::int16_t) override {}
  void Form_Unload() override {}
};

TEST(FrameClock, WaitEndsOnTheFirstReadingPastTheDeadline) {
  NoEvents none;
  ClockOnly p;
  p.now = 500;
  WaitUntil(p, none, 499);  // already passed: no pump at all
  EXPECT_EQ(p.pumps, 0);
  WaitUntil(p, none, 500);  // equal keeps waiting
  EXPECT_EQ(p.now, 501u);
  EXPECT_EQ(p.pumps, 1);
  p.now = 0xFFFFFFF0u;  // just below the wrap, a small negative reading
  WaitUntil(p, none, static_cast<std::int32_t>(p.now) + 20);
  EXPECT_EQ(p.now, 5u);
}

TEST(FrameClock, PeriodsHoldAcrossTheChangeOfSignAndTheWrap) {
  // Clocks that start just before 2^31 and 2^32: every title frame 21 ms after the one
  // before, every play frame 51 ms, straight through the edge.
  for (std::uint32_t edge : {0x80000000u, 0u}) {
    Harness h;
    h.fake.now = edge - 100;
    h.fake.Key(12, kKeyEnter);
    h.fake.Close(30);
    testing::RunUntilClosed(h.game);
    ASSERT_EQ(h.shots.size(), 30u);
    bool crossed = false;
    for (std::size_t i = 1; i < h.shots.size(); ++i) {
      const auto step = static_cast<std::uint32_t>(h.shots[i].frameStart) -
                        static_cast<std::uint32_t>(h.shots[i - 1].frameStart);
      const bool title = PromptShown(h.shots[i - 1].pixels) >= 0;
      // The title's last frame is followed at once by the round's first.
      if (title && PromptShown(h.shots[i].pixels) < 0) continue;
      EXPECT_EQ(step, title ? 21u : 51u) << "frame " << i << " from " << std::hex << edge - 100;
      crossed = crossed || static_cast<std::uint32_t>(h.shots[i].frameStart) - edge < 1000;
    }
    EXPECT_TRUE(crossed);
  }
  EXPECT_TRUE(IsPast(INT32_MIN, INT32_MAX - 5));
  EXPECT_FALSE(IsPast(INT32_MAX - 5, INT32_MAX - 5));
}

}  // namespace
}  // namespace quillon
