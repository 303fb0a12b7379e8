#pragma once

#include <cstdint>

#include "game/Platform.h"

namespace quillon {

// start + period on the clock's circle of 2^32 milliseconds: a frame that starts just before
// the clock changes sign, or wraps, still gets its full wait.
inline std::int32_t FrameDeadline(std::int32_t start, std::int32_t period) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(start) + static_cast<std::uint32_t>(period));
}

// True once the clock reading is past the deadline. The difference is taken modulo 2^32,
// so a wait that spans the clock's change of sign still ends after its period.
inline bool IsPast(std::int32_t reading, std::int32_t deadline) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(reading) -
                                   static_cast<std::uint32_t>(deadline)) > 0;
}

// Pumps events until the clock has passed the deadline, sleeping on the event queue in
// between instead of spinning. A deadline already passed returns without pumping.
void WaitUntil(Platform& platform, WindowEvents& events, std::int32_t deadline);

}  // namespace quillon
