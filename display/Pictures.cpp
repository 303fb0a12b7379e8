#include "display/Pictures.h"

#include <charconv>

#include <cctype>
#include <cmath>
#include <string>
#include <vector>

#include "display/Assets.h"

namespace quillon {

namespace {

struct Ink {
  char letter;
  Colour colour;
  bool masked;
};

// The sixteen standard colours, plus masked white and an unmasked red.
constexpr Ink kInks[] = {
    {'.', kWhite, false},
    {'w', kWhite, true},
    {'K', kBlack, true},
    {'M', Rgb(128, 0, 0), true},
    {'G', Rgb(0, 128, 0), true},
    {'y', Rgb(128, 128, 0), true},
    {'N', Rgb(0, 0, 128), true},
    {'P', Rgb(128, 0, 128), true},
    {'T', Rgb(0, 128, 128), true},
    {'S', Rgb(192, 192, 192), true},
    {'g', Rgb(128, 128, 128), true},
    {'R', Rgb(255, 0, 0), true},
    {'r', Rgb(255, 0, 0), false},
    {'L', Rgb(0, 255, 0), true},
    {'Y', Rgb(255, 255, 0), true},
    {'B', Rgb(0, 0, 255), true},
    {'F', Rgb(255, 0, 255), true},
    {'C', Rgb(0, 255, 255), true},
    {'W', kWhite, true},
};

const Ink* FindInk(char letter) {
  for (const Ink& ink : kInks)
    if (ink.letter == letter) return &ink;
  return nullptr;
}

std::vector<std::string_view> MapRows(std::string_view text) {
  std::vector<std::string_view> rows;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#' || line.front() == '\0') continue;
    rows.push_back(line);
  }
  return rows;
}

// A binary PGM: header words, then one byte a pixel.
bool ParsePgm(std::string_view data, int& width, int& height, std::string_view& pixels) {
  std::size_t pos = 0;
  auto word = [&]() -> std::string_view {
    for (;;) {
      while (pos < data.size() && std::isspace(static_cast<unsigned char>(data[pos]))) ++pos;
      if (pos < data.size() && data[pos] == '#') {
        while (pos < data.size() && data[pos] != '\n') ++pos;
        continue;
      }
      break;
    }
    const std::size_t start = pos;
    while (pos < data.size() && !std::isspace(static_cast<unsigned char>(data[pos]))) ++pos;
    return data.substr(start, pos - start);
  };
  // A size that is no number, or none a picture could have, is no picture (never an exception).
  const auto size = [&](int& value) {
    const std::string_view w = word();
    return std::from_chars(w.data(), w.data() + w.size(), value).ptr == w.data() + w.size() && !w.empty() &&
           value > 0 && value <= 4096;
  };
  if (word() != "P5" || !size(width) || !size(height)) return false;
  if (word() != "255") return false;
  ++pos;  // the single blank after the header
  if (data.size() < pos + static_cast<std::size_t>(width) * height) return false;
  pixels = data.substr(pos, static_cast<std::size_t>(width) * height);
  return true;
}

template <typename ToColour>
Surface FromPgm(std::string_view data, ToColour toColour) {
  int width = 0, height = 0;
  std::string_view pixels;
  if (!ParsePgm(data, width, height, pixels)) return Surface();
  Surface s(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      s.SetPixel(x, y, toColour(static_cast<unsigned char>(pixels[static_cast<std::size_t>(y) * width + x])));
  return s;
}

void LoadSprite(std::string_view text, Surface& picture, Surface& mask) {
  ParsePixelMap(text, picture, &mask);
}

}  // namespace

Colour BannerShade(int k) {
  const double t = (k - 1) / 14.0;
  auto mix = [t](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * t)); };
  return Rgb(mix(20, 251), mix(138, 253), mix(140, 252));
}

bool ParsePixelMap(std::string_view text, Surface& picture, Surface* mask) {
  const auto rows = MapRows(text);
  if (rows.empty()) return false;
  const int width = static_cast<int>(rows.front().size());
  const int height = static_cast<int>(rows.size());
  picture = Surface(width, height, kWhite);
  if (mask) *mask = Surface(width, height, kWhite);
  for (int y = 0; y < height; ++y) {
    if (static_cast<int>(rows[y].size()) != width) return false;
    for (int x = 0; x < width; ++x) {
      const Ink* ink = FindInk(rows[y][x]);
      if (ink == nullptr) return false;
      picture.SetPixel(x, y, ink->colour);
      if (mask && ink->masked) mask->SetPixel(x, y, kBlack);
    }
  }
  return true;
}

Pictures LoadPictures() {
  Pictures p;
  p.picTitle = FromPgm(assets::Title(), [](int g) { return Rgb(0, g, 0); });
  for (int i = 0; i < 8; ++i) {
    const int main = kPromptGreen[i];
    p.picPek[i] = FromPgm(assets::Prompt(), [main](int g) {
      if (g == 0) return kBlack;
      const int scaled = static_cast<int>(std::lround(g * main / 255.0));
      return Rgb(0, scaled < 1 ? 1 : scaled, 0);
    });
  }
  for (int i = 0; i < 5; ++i) LoadSprite(assets::Car(i), p.picCar[i], p.picCarM[i]);
  LoadSprite(assets::Coin(), p.picCoin, p.picCoinM);
  LoadSprite(assets::Ball(), p.picTama, p.picTamaM);
  p.picHscr = FromPgm(assets::Banner(), [](int k) { return k == 0 ? kWhite : BannerShade(k); });
  p.picHscrM = FromPgm(assets::Banner(), [](int k) { return k == 0 ? kWhite : kBlack; });
  p.picBlack = Surface(kScreenW, kScreenH, kBlack);
  p.playBackground = Surface(kScreenW, kScreenH, kSky);
  for (int y = kGroundRow; y < kScreenH; ++y)
    for (int x = 0; x < kScreenW; ++x) p.playBackground.SetPixel(x, y, kGround);
  ParsePixelMap(assets::Icon32(), p.icon32, nullptr);
  ParsePixelMap(assets::Icon16(), p.icon16, nullptr);
  return p;
}

}  // namespace quillon
