#include "display/Font.h"

#include <iterator>

namespace quillon {

namespace {

#include "Glyphs.inc"

constexpr int kFirst = 32;
constexpr int kLast = 126;
static_assert(std::size(kGlyphShapes) == kLast - kFirst + 1, "one glyph for each printable character");

}  // namespace

const Font& Font::BuiltIn() {
  static const Font font;
  return font;
}

int Font::LineHeight() const { return kGlyphLineHeight; }

int Font::Draw(Surface& surface, int x, int y, Colour colour, std::string_view text) const {
  const int baseline = y + kGlyphAscent;
  for (char ch : text) {
    const int code = static_cast<unsigned char>(ch);
    if (code < kFirst || code > kLast) continue;
    const GlyphShape& glyph = kGlyphShapes[code - kFirst];
    for (int r = 0; r < glyph.rows; ++r) {
      const int py = baseline - glyph.top + r;
      if (py < 0 || py >= surface.Height()) continue;
      const std::uint8_t* ink = kGlyphInk + glyph.ink + r * glyph.width;
      Colour* row = surface.Row(py);
      for (int c = 0; c < glyph.width; ++c) {
        const int px = x + glyph.left + c;
        if (ink[c] != 0 && px >= 0 && px < surface.Width()) row[px] = colour & 0xFFFFFF;
      }
    }
    x += glyph.advance;
  }
  return x;
}

}  // namespace quillon
