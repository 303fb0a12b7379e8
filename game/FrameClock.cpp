#include "game/FrameClock.h"

namespace quillon {

void WaitUntil(Platform& platform, WindowEvents& events, std::int32_t deadline) {
  for (;;) {
    const std::int32_t now = platform.Clock();
    if (IsPast(now, deadline)) return;
    // The first reading past the deadline is deadline + 1.
    const auto remaining = static_cast<std::int32_t>(static_cast<std::uint32_t>(deadline) -
                                                     static_cast<std::uint32_t>(now)) + 1;
    platform.WaitForEvents(remaining);
    platform.PumpEvents(events);
  }
}

}  // namespace quillon
