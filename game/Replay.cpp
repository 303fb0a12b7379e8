#include "game/Replay.h"

namespace quillon {

Replayer::Step Replayer::Next() {
  if (round_.Frames >= kMaxFrames) return Step::TooLong;
  Jump jump = Jump::None;
  if (next_ < run_.keys.size() && run_.keys[next_].frame == round_.Frames) {
    // A recorded jump is one that took effect: anywhere else the code is not a played round.
    if (!round_.CanJump()) return Step::Impossible;
    jump = run_.keys[next_].high ? Jump::High : Jump::Low;
    ++next_;
  }
  return round_.Step(jump) ? Step::Ended : Step::Shown;
}

std::optional<Replayed> Simulate(const RunRecord& run, std::string* problem) {
  Replayer player(run);
  for (;;) {
    switch (player.Next()) {
      case Replayer::Step::Shown:
        continue;
      case Replayer::Step::Impossible:
        *problem = "the run holds a jump no round could have taken";
        return std::nullopt;
      case Replayer::Step::TooLong:
        *problem = "the run is longer than any round";
        return std::nullopt;
      case Replayer::Step::Ended:
        break;
    }
    break;
  }
  if (!player.AllTaken()) {
    *problem = "the run holds jumps past the round's end";
    return std::nullopt;
  }
  return Replayed{player.round().Score, player.round().Frames};
}

std::optional<CheckedRun> CheckRun(std::string_view code, std::string* problem) {
  ParsedRun parsed = ParseRunCode(code);
  if (!parsed.run) {
    *problem = parsed.problem;
    return std::nullopt;
  }
  const auto replayed = Simulate(*parsed.run, problem);
  if (!replayed) return std::nullopt;
  return CheckedRun{std::move(*parsed.run), replayed->score};
}

std::optional<std::int32_t> ScoreOfRun(std::string_view code) {
  std::string problem;
  const auto checked = CheckRun(code, &problem);
  if (!checked) return std::nullopt;
  return checked->score;
}

std::uint64_t Fingerprint(const std::vector<Colour>& pixels) {
  std::uint64_t hash = 0xCBF29CE484222325ULL;
  for (const Colour c : pixels) {
    for (int shift = 0; shift < 32; shift += 8) {
      hash ^= (c >> shift) & 0xFFu;
      hash *= 0x100000001B3ULL;
    }
  }
  return hash;
}

}  // namespace quillon
