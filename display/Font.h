#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "display/Surface.h"

namespace quillon {

// The small proportional UI font: the system's default sans-serif, rendered once at
// start-up into crisp one-bit glyphs so a line costs only the pixels it sets.
class Font {
 public:
  static constexpr int kPixelSize = 12;

  // Finds the font through fontconfig unless a file is given. Null with a reason on failure.
  static std::unique_ptr<Font> Load(std::string* error, const std::string& file = {});

  // Draws text with its cell's top-left at (x, y); returns the x after the last glyph.
  int Draw(Surface& surface, int x, int y, Colour colour, std::string_view text) const;
  int LineHeight() const { return lineHeight_; }
  const std::string& File() const { return file_; }

 private:
  struct Glyph {
    int left = 0;
    int top = 0;
    int width = 0;
    int rows = 0;
    int advance = 0;
    std::vector<std::uint8_t> ink;  // one byte a pixel, row by row
  };
  static constexpr int kFirst = 32;
  static constexpr int kLast = 126;

  std::array<Glyph, kLast - kFirst + 1> glyphs_;
  int ascent_ = 0;
  int lineHeight_ = 0;
  std::string file_;
};

}  // namespace quillon
