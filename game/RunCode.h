#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// A round as it was played: where the random draws stood when it began, the best score the
// banner was measured against, and each jump with the play frame it took effect in (the
// number of frames played before it). Nothing else decides a round.
struct RunKey {
  std::uint32_t frame = 0;
  bool high = false;  // Enter's jump; else the low one
  bool operator==(const RunKey&) const = default;
};

struct RunRecord {
  std::uint32_t seed = 0;
  std::uint64_t draws = 0;
  std::int32_t bestBefore = 0;
  std::vector<RunKey> keys;
  bool operator==(const RunRecord&) const = default;
};

// The rules a code is played under; a change to anything a round's frames depend on is a new
// version, and older codes are then refused rather than played wrong.
constexpr int kRulesVersion = 1;
// Longer texts are not read at all: a file, a link or a kept run is looked at no further.
constexpr std::size_t kMaxRunCodeLength = 64 * 1024;
// The longest round a code may hold, about fourteen hours of play: no player's round is that
// long, and checking one still takes a fraction of a second.
constexpr std::uint32_t kMaxFrames = 1000000;
// The most draws a round may start after. Reaching a start costs one step of the generator per
// draw; a session reseeds before its draws pass this (over a hundred hours of play), so every
// round played is within it, and reaching any start takes a few tens of milliseconds.
constexpr std::uint64_t kMaxDraws = std::uint64_t{1} << 22;

// A run as a short text of letters, digits, '-' and '_': "Q" and the rules version, '-', then
// the run's numbers as base64url.
std::string RunCode(const RunRecord& run);

// The run a code names, or the reason it names none, in a few words.
struct ParsedRun {
  std::optional<RunRecord> run;
  std::string problem;
};
ParsedRun ParseRunCode(std::string_view code);

}  // namespace quillon
