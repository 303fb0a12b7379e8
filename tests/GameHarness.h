#pragma once

#include <climits>
#include <vector>

#include "FakePlatform.h"

namespace quillon::testing {

// What the game looked like when a frame was presented.
struct Shot {
  std::vector<Colour> pixels;
  std::int32_t frameStart;
  std::int16_t phase, carY, hitCount, overTimer;
  std::int32_t score;
  double brake;
  PosXY coin[6], ball[3];
};

// The game on a fake platform, every presented frame kept.
struct Harness {
  FakePlatform fake;
  frmMain game{fake, TestPictures(), TestFont()};
  std::vector<Shot> shots;
  bool keepPixels = true;

  Harness() {
    fake.watched = &game.picWork;
    fake.onPresent = [this](const Surface& s) {
      Shot shot{keepPixels ? s.Pixels() : std::vector<Colour>{}, game.M.FrameStart, game.Phase,
                game.R.CarY, game.R.HitCount, game.R.OverTimer, game.R.Score, game.R.Brake, {}, {}};
      std::copy(std::begin(game.R.CoinPos), std::end(game.R.CoinPos), shot.coin);
      std::copy(std::begin(game.R.TamaPos), std::end(game.R.TamaPos), shot.ball);
      shots.push_back(std::move(shot));
    };
  }

  // A round from its set-up, with coins and balls sent far away unless setup places them.
  template <typename Setup>
  void PlayRound(Setup setup) {
    game.Phase = PhasePlay;
    game.Prepare();
    for (PosXY& c : game.R.CoinPos) c = {20000, 20};
    for (PosXY& b : game.R.TamaPos) b = {20000, 100};
    setup(game);
    try {
      game.GameR();
    } catch (const ProgramEnded&) {
    }
  }
};

// Which prompt frame a title frame shows, or -1.
inline int PromptShown(const std::vector<Colour>& frame) {
  const Pictures& p = TestPictures();
  for (int i = 0; i < 8; ++i) {
    bool same = true;
    for (int y = 0; y < 35 && same; ++y)
      for (int x = 0; x < 167 && same; ++x)
        same = frame[static_cast<std::size_t>(235 + y) * kScreenW + 140 + x] == p.picPek[i].Pixel(x, y);
    if (same) return i;
  }
  return -1;
}

}  // namespace quillon::testing
