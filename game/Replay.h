#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "display/Font.h"
#include "display/Pictures.h"
#include "game/RunCode.h"

namespace quillon {

struct Replayed {
  std::int32_t score = 0;     // what the round reached: the only score a run ever claims
  std::uint32_t frames = 0;   // the frames shown
};

// Plays a run with no window, as fast as it goes; `onFrame` sees each frame the round shows.
// Nothing for a run that could not have been played (a jump where none could take effect,
// jumps past the round's end, a round longer than any player's), with the reason in `problem`.
std::optional<Replayed> Simulate(const RunRecord& run, const Pictures& pictures, const Font* font,
                                 const std::function<void(const Surface&)>& onFrame, std::string* problem);

// The run a code names and the score it reaches, played again with no window; nothing, with
// the reason in `problem`, for a code that names no round that could have been played.
std::optional<std::pair<RunRecord, std::int32_t>> CheckedRun(std::string_view code, const Pictures& pictures,
                                                             const Font* font, std::string* problem);

// A frame's fingerprint: 64 bits of FNV-1a over its pixels, the same on every platform.
std::uint64_t Fingerprint(const std::vector<Colour>& pixels);
inline std::uint64_t Fingerprint(const Surface& frame) { return Fingerprint(frame.Pixels()); }

}  // namespace quillon
