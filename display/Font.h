#pragma once

#include <cstdint>
#include <string_view>

#include "display/Surface.h"

namespace quillon {

// Where one glyph's pixels lie against the pen and the baseline.
struct GlyphShape {
  int left, top, width, rows, advance;
  int ink;  // offset of its first pixel in the ink table
};

// The small proportional UI font: DejaVu Sans at 12 pixels in crisp one-bit glyphs, built
// into the program, so a line costs only the pixels it sets and looks the same everywhere.
class Font {
 public:
  static constexpr int kPixelSize = 12;

  static const Font& BuiltIn();

  // Draws text with its cell's top-left at (x, y); returns the x after the last glyph.
  int Draw(Surface& surface, int x, int y, Colour colour, std::string_view text) const;
  int LineHeight() const;
};

}  // namespace quillon
