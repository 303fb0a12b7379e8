#pragma once

// How the desktop platforms (SDL, Windows) show the game's 425 x 300 picture on a screen of any
// size: at a whole scale, each game pixel a block of one colour, centred with black around it.
// The page has a rule of its own (layout.js), with fractional scales on dense phone screens.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

struct Placement {
  int scale = 1;
  int x = 0, y = 0;  // the picture's top-left corner in the area; negative when it is cut
};

// The largest whole scale at which a picture fits an area (at least 1), centred in it.
inline Placement PlaceIn(int areaW, int areaH, int pictureW, int pictureH) {
  Placement p;
  p.scale = std::max(1, std::min(areaW / pictureW, areaH / pictureH));
  p.x = (areaW - pictureW * p.scale) / 2;
  p.y = (areaH - pictureH * p.scale) / 2;
  return p;
}

// The largest whole scale (at least 1) at which a window fits an area, its frame and title bar
// adding `frameW` x `frameH` to the picture.
inline int LargestWindowScale(int areaW, int areaH, int frameW, int frameH, int pictureW, int pictureH) {
  return std::max(1, std::min((areaW - frameW) / pictureW, (areaH - frameH) / pictureH));
}

// The same for an area given by its edges, as Windows gives a monitor's: a second monitor's
// lies away from 0,0, even left of or above it.
inline int LargestWindowScaleIn(int left, int top, int right, int bottom, int frameW, int frameH, int pictureW,
                                int pictureH) {
  return LargestWindowScale(right - left, bottom - top, frameW, frameH, pictureW, pictureH);
}

// The scale a desktop asks for through its DPI (96 is 1), a half rounded up, at least 1.
inline int DesktopScale(double dpi) {
  if (!(dpi > 0)) return 1;
  return std::max(1, static_cast<int>(std::floor(dpi / 96.0 + 0.5)));
}

// A whole number from 1 to `largest` as the player typed it; nothing for anything else.
inline std::optional<int> ParseScale(std::string_view text, int largest) {
  if (text.empty()) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > largest) return std::nullopt;  // before it could grow past an int
  }
  if (value < 1) return std::nullopt;
  return value;
}

// The scale a window starts at: the player's --scale (`asked`), else the desktop's, never more
// than fits; nothing, with the reason in one line, for a --scale that is not one of them.
inline std::optional<int> StartScale(const char* asked, int desktop, int largest, std::string* error) {
  if (asked == nullptr) return std::min(desktop, largest);
  const auto scale = ParseScale(asked, largest);
  if (!scale) {
    *error = "--scale takes a whole number from 1 to " + std::to_string(largest) + " on this screen, not \"" +
             asked + "\"";
  }
  return scale;
}

// Copies rows [top, bottom] of a picture, already in the screen's pixel format (`bytes` a
// pixel), into the screen at `p`, each pixel a scale x scale block; whatever falls outside
// the screen is left out.
inline void ScaleRows(const std::uint8_t* picture, int pictureW, int top, int bottom, int bytes,
                      std::uint8_t* screen, int screenPitch, int screenW, int screenH, const Placement& p) {
  const int s = p.scale;
  const int x0 = std::max(0, p.x), x1 = std::min(screenW, p.x + pictureW * s);
  if (x0 >= x1) return;
  for (int y = top; y <= bottom; ++y) {
    const int firstLine = p.y + y * s;
    const int from = std::max(0, firstLine), to = std::min(screenH, firstLine + s);
    if (from >= to) continue;
    std::uint8_t* line = screen + static_cast<std::ptrdiff_t>(from) * screenPitch;
    const std::uint8_t* row = picture + static_cast<std::ptrdiff_t>(y) * pictureW * bytes;
    if (bytes == 4 && x0 == p.x && x1 == p.x + pictureW * s) {
      auto* out = reinterpret_cast<std::uint32_t*>(line) + x0;
      const auto* in = reinterpret_cast<const std::uint32_t*>(row);
      for (int x = 0; x < pictureW; ++x, out += s) std::fill_n(out, s, in[x]);
    } else {
      for (int x = x0; x < x1; ++x) std::memcpy(line + x * bytes, row + ((x - p.x) / s) * bytes, bytes);
    }
    // The other lines of the block are the same line again.
    for (int l = from + 1; l < to; ++l) {
      std::memcpy(screen + static_cast<std::ptrdiff_t>(l) * screenPitch + x0 * bytes, line + x0 * bytes,
                  static_cast<std::size_t>(x1 - x0) * bytes);
    }
  }
}

}  // namespace quillon
