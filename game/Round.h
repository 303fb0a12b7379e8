#pragma once

#include <cstddef>
#include <cstdint>

#include "game/Random.h"
#include "game/RunCode.h"

namespace quillon {

struct PosXY {
  std::int16_t X = 0;
  std::int16_t Y = 0;
};

enum : std::int16_t { PhaseTitle = 0, PhasePlay = 1, PhaseOver = 2 };

// The jump that took effect in a frame.
enum class Jump : std::uint8_t { None, High, Low };

// The best a round is measured against while the stored one could not be read yet: no score
// beats it, so no banner hails a round that may not be a record.
constexpr std::int32_t kBestUnknown = INT32_MAX;

// Ties to even, as every fractional value stored into an integer is rounded.
std::int16_t RoundToInteger(double value);

// The rules of one round and nothing else: no drawing, no clock, no files. Live play, watching
// and checking a code all step one of these the same way, so a round's record is by
// construction the round that was shown.
class Round {
 public:
  // `keysRoom` jumps are recorded with no allocation; a round made with none records nothing.
  explicit Round(std::size_t keysRoom = 0) { Record.keys.reserve(keysRoom); }

  // A new round from where the draws stand, measured against `best`: every object placed anew
  // beyond the right edge, the car whole and on the road.
  void Prepare(std::int32_t best);
  // A recorded round from its start: its draws and its best as they were.
  void Restore(const RunRecord& run);
  // A best that became known while the round is still played (storage that answered late, a
  // file another program held at the start); once the slow-down has begun the banner's
  // measure is settled.
  void RaiseBest(std::int32_t best);

  bool CanJump() const { return Phase == PhasePlay && !InAir; }
  // One frame, with the jump that took effect before it (none where the car can't jump). True
  // when this frame ended the round; that frame is never shown.
  bool Step(Jump jump);
  bool ShowsBanner() const { return Phase == PhaseOver && Score > BestBefore; }

  void Hantei();
  void CarStep();
  // The slow-down's step; true when the round has ended.
  bool OverStep();

  PosXY CoinPos[6];
  PosXY TamaPos[3];
  std::int16_t CarX = 75;
  std::int16_t CarY = 225;
  std::int16_t Phase = PhasePlay;
  std::int16_t JumpSpeed = 0;
  bool InAir = false;
  bool Rising = false;
  bool BobDown = false;
  std::int32_t Score = 0;
  std::int16_t HitCount = 0;
  double Brake = 0;
  std::int16_t OverTimer = 0;
  std::int32_t BestBefore = 0;  // what the banner measures the score against
  Random Rnd;

  // Where this frame drew each object: coins and balls are drawn before they move on, the car
  // before the slow-down settles it.
  PosXY CoinShown[6];
  PosXY TamaShown[3];
  std::int16_t CarShownY = 225;

  // The round as a run: its start and each jump Step took; `Frames` shown so far.
  RunRecord Record;
  std::uint32_t Frames = 0;
  bool Whole = true;  // false once its jumps outgrew their room or it outlasted any code

 private:
  std::int16_t NewX();
  void PlaceCoin(PosXY& coin);
  void PlaceBall(PosXY& ball);
};

}  // namespace quillon
