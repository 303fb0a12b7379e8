#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "display/Surface.h"
#include "game/Round.h"
#include "game/RunCode.h"

namespace quillon {

// A recorded run stepped through a Round of its own, each jump in the frame it took effect in.
class Replayer {
 public:
  explicit Replayer(const RunRecord& run) : run_(run) { round_.Restore(run); }
  // Shown: a frame to show; Ended: the round is over (its last frame is never shown);
  // Impossible: a recorded jump where none could take effect; TooLong: past any round's length.
  enum class Step { Shown, Ended, Impossible, TooLong };
  Step Next();
  const Round& round() const { return round_; }
  // Every recorded jump has been taken.
  bool AllTaken() const { return next_ == run_.keys.size(); }

 private:
  const RunRecord& run_;
  Round round_;
  std::size_t next_ = 0;
};

struct Replayed {
  std::int32_t score = 0;     // what the round reached: the only score a run ever claims
  std::uint32_t frames = 0;   // the frames shown
};

// Plays a run by the rules alone, drawing nothing; nothing for a run that could not have been
// played (a jump where none could take effect, jumps past the round's end, a round longer than
// any code may hold), with the reason in `problem`.
std::optional<Replayed> Simulate(const RunRecord& run, std::string* problem);

// The run a code names and the score it reaches; nothing, with the reason in `problem`, for a
// code that names no round that could have been played.
struct CheckedRun {
  RunRecord run;
  std::int32_t score = 0;
};
std::optional<CheckedRun> CheckRun(std::string_view code, std::string* problem);
// The same, for a caller that needs only the score.
std::optional<std::int32_t> ScoreOfRun(std::string_view code);

// A frame's fingerprint: 64 bits of FNV-1a over its pixels, the same on every platform.
std::uint64_t Fingerprint(const std::vector<Colour>& pixels);
inline std::uint64_t Fingerprint(const Surface& frame) { return Fingerprint(frame.Pixels()); }

}  // namespace quillon
