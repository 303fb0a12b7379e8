#include "game/Round.h"

#include <cmath>

namespace quillon {

namespace {

constexpr std::int16_t kRoadY = 225;
constexpr std::int16_t kCarW = 34, kCarH = 16;
constexpr std::int16_t kCoinW = 13, kCoinH = 12;
constexpr std::int16_t kBallW = 10, kBallH = 6;
constexpr std::int16_t kGone = -50;

// Adds without passing the largest Long; an addition that would is not made.
void AddPoints(std::int32_t& score, std::int32_t points) {
  std::int32_t sum = 0;
  if (!__builtin_add_overflow(score, points, &sum)) score = sum;
}

bool Touches(const PosXY& p, int w, int h, std::int16_t carX, std::int16_t carY) {
  const int dx = p.X - carX;
  if (!(-w < dx && dx < kCarW)) return false;
  const int dy = p.Y - carY;
  return -h < dy && dy < kCarH;
}

// Steps each object left, after noting where it is drawn; one that has left the playfield is
// placed anew.
template <std::size_t N, typename Place>
void Scroll(PosXY (&objects)[N], PosXY (&shown)[N], int step, double brake, Place place) {
  for (std::size_t i = 0; i < N; ++i) {
    PosXY& object = objects[i];
    shown[i] = object;
    object.X = RoundToInteger(static_cast<std::int16_t>(object.X - step) + brake);
    if (object.X < -20) place(object);
  }
}

}  // namespace

std::int16_t RoundToInteger(double value) {
  const double floor = std::floor(value);
  const double fraction = value - floor;
  double rounded = floor;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0.0)) rounded = floor + 1;
  return static_cast<std::int16_t>(rounded);
}

std::int16_t Round::NewX() { return static_cast<std::int16_t>(440 + std::floor(1000.0 * Rnd.Next())); }

void Round::PlaceCoin(PosXY& coin) {
  coin.X = NewX();
  coin.Y = static_cast<std::int16_t>(20 + 130 * std::floor(2.0 * Rnd.Next()));
}

void Round::PlaceBall(PosXY& ball) {
  ball.X = NewX();
  ball.Y = static_cast<std::int16_t>(50 + std::floor(180.0 * Rnd.Next()));
}

void Round::Prepare(std::int32_t best) {
  // Where the draws stand now and the best the banner is measured against: the round's whole
  // start.
  Record.seed = Rnd.SeedValue();
  Record.draws = Rnd.Draws();
  Record.bestBefore = best;
  Record.keys.clear();
  Frames = 0;
  Whole = true;
  BestBefore = best;
  Phase = PhasePlay;
  InAir = Rising = BobDown = false;
  JumpSpeed = 0;
  CarX = 75;
  CarY = kRoadY;
  for (PosXY& coin : CoinPos) PlaceCoin(coin);
  for (PosXY& ball : TamaPos) PlaceBall(ball);
  HitCount = 0;
  Brake = 0;
  Score = 0;
}

void Round::Restore(const RunRecord& run) {
  Rnd.Restore(run.seed, run.draws);
  Prepare(run.bestBefore);
}

void Round::RaiseBest(std::int32_t best) {
  if (Phase != PhasePlay || (best <= BestBefore && BestBefore != kBestUnknown)) return;
  BestBefore = best;
  Record.bestBefore = best;
}

bool Round::Step(Jump jump) {
  if (jump != Jump::None && CanJump()) {
    const bool high = jump == Jump::High;
    JumpSpeed = high ? 20 : 16;
    InAir = true;
    Rising = true;
    if (Record.keys.size() < Record.keys.capacity()) {
      Record.keys.push_back({Frames, high});
    } else {
      Whole = false;
    }
  }
  Hantei();
  if (Phase == PhasePlay) AddPoints(Score, 1);
  Scroll(CoinPos, CoinShown, 8, Brake, [this](PosXY& coin) { PlaceCoin(coin); });
  Scroll(TamaPos, TamaShown, 14, Brake, [this](PosXY& ball) { PlaceBall(ball); });
  CarStep();
  CarShownY = CarY;
  const bool ended = Phase == PhaseOver && OverStep();
  // A round longer than any code may hold can't be checked: it is no run.
  if (!ended && ++Frames >= kMaxFrames) Whole = false;
  return ended;
}

void Round::Hantei() {
  for (PosXY& coin : CoinPos) {
    if (Touches(coin, kCoinW, kCoinH, CarX, CarY)) {
      AddPoints(Score, 100);
      coin.X = kGone;
    }
  }
  for (PosXY& ball : TamaPos) {
    if (Touches(ball, kBallW, kBallH, CarX, CarY)) {
      ++HitCount;
      if (HitCount > 3) {
        OverTimer = 0;
        HitCount = 4;
        Phase = PhaseOver;
      }
      ball.X = kGone;
    }
  }
}

void Round::CarStep() {
  if (InAir) {
    if (Rising) {
      CarY = static_cast<std::int16_t>(CarY - JumpSpeed);
      --JumpSpeed;
      if (JumpSpeed < 0) Rising = false;
    }
    if (!Rising) {
      CarY = static_cast<std::int16_t>(CarY + JumpSpeed);
      ++JumpSpeed;
      if (CarY >= kRoadY) {
        CarY = kRoadY;
        BobDown = false;
        InAir = false;
      }
    }
  }
  if (HitCount >= 2 && Phase == PhasePlay) {
    CarY = static_cast<std::int16_t>(CarY + (BobDown ? -1 : 1));
    BobDown = !BobDown;
  }
}

bool Round::OverStep() {
  Brake += 0.5;
  if (Brake > 8) Brake = 8;
  if (BobDown) --CarY;
  BobDown = false;
  ++OverTimer;
  return OverTimer > 100;
}

}  // namespace quillon
