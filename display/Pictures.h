#pragma once

#include <array>
#include <string_view>

#include "display/Surface.h"

namespace quillon {

constexpr int kScreenW = 425;
constexpr int kScreenH = 300;
constexpr Colour kSky = Rgb(0, 128, 128);
constexpr Colour kGround = Rgb(128, 0, 0);
constexpr int kGroundRow = 240;

// Main stroke green of each prompt frame, brightest first.
constexpr std::array<int, 8> kPromptGreen = {255, 240, 224, 204, 192, 176, 153, 144};

// Teal shade k (1 to 15) of the high-score banner, from dark to nearly white.
Colour BannerShade(int k);

// Every built-in picture; made once at start-up from the program's own data.
struct Pictures {
  Surface picTitle;
  std::array<Surface, 8> picPek;
  std::array<Surface, 5> picCar;
  std::array<Surface, 5> picCarM;
  Surface picCoin, picCoinM;
  Surface picTama, picTamaM;
  Surface picHscr, picHscrM;
  Surface picBlack;
  Surface playBackground;
  Surface icon32, icon16;
};

Pictures LoadPictures();

// Whether an icon art pixel lies outside the icon's shape: a tile with rounded corners, as
// desktop icons have, cut by whole art pixels so that an enlargement stays crisp.
inline bool OutsideIcon(const Surface& art, int x, int y) {
  const double r = art.Width() / 8;
  const auto beyond = [r](double at, int size) { return at < r ? r - at : at > size - r ? at - (size - r) : 0.0; };
  const double dx = beyond(x + 0.5, art.Width()), dy = beyond(y + 0.5, art.Height());
  return dx * dx + dy * dy > r * r;
}

// A sprite drawn as a text pixel map; the mask covers every letter but '.' and 'r'.
// Used for the built-in maps and by tests.
bool ParsePixelMap(std::string_view text, Surface& picture, Surface* mask);

}  // namespace quillon
