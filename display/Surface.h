#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace quillon {

// A colour value 0x00RRGGBB; the top byte is always zero.
using Colour = std::uint32_t;

constexpr Colour Rgb(int r, int g, int b) {
  return (static_cast<Colour>(r & 0xFF) << 16) | (static_cast<Colour>(g & 0xFF) << 8) |
         static_cast<Colour>(b & 0xFF);
}

constexpr Colour kBlack = 0x000000;
constexpr Colour kWhite = 0xFFFFFF;

enum class RasterOp : std::uint32_t {
  SRCCOPY = 0x00CC0020,
  SRCERASE = 0x00440328,
  SRCINVERT = 0x00660046,
};

class Font;
class Surface;

// Whoever puts a surface's memory image on the screen.
class Presenter {
 public:
  virtual ~Presenter() = default;
  virtual void Present(const Surface& surface) = 0;
};

// A drawing surface with a persistent memory image of 24-bit colours.
class Surface {
 public:
  Surface() = default;
  Surface(int width, int height, Colour fill = kBlack);

  int Width() const { return width_; }
  int Height() const { return height_; }
  float ScaleWidth() const { return static_cast<float>(width_); }
  float ScaleHeight() const { return static_cast<float>(height_); }

  Colour* Row(int y) {
    touched_.Add(y);
    return pixels_.data() + static_cast<std::size_t>(y) * width_;
  }
  const Colour* Row(int y) const { return pixels_.data() + static_cast<std::size_t>(y) * width_; }
  Colour Pixel(int x, int y) const { return Row(y)[x]; }
  void SetPixel(int x, int y, Colour c) { Row(y)[x] = c & 0xFFFFFF; }
  const std::vector<Colour>& Pixels() const { return pixels_; }
  // The rows that may have been written since the presenter last forgot them (first > last
  // when none), so that it compares only those with what it shows.
  std::pair<int, int> TouchedRows() const { return {touched_.first, std::min(touched_.last, height_ - 1)}; }
  void ForgetTouched() const {
    touched_.first = height_;
    touched_.last = -1;
  }

  // The surface's own picture, laid over the background colour by Cls.
  void SetPicture(const Surface* picture) { picture_ = picture; }
  void SetBackColor(Colour c) { backColor_ = c; }
  void SetFont(const Font* font) { font_ = font; }
  void SetPresenter(Presenter* presenter) { presenter_ = presenter; }

  void Cls();
  void Refresh() const;
  // Prints one line at (CurrentX, CurrentY) in ForeColor; only glyph pixels are painted.
  void Print(std::string_view text);

  Colour ForeColor = kBlack;
  int CurrentX = 0;
  int CurrentY = 0;

 private:
  // Every row, until a presenter forgets them; a copy starts with every row touched.
  struct Touched {
    int first = 0;
    int last = INT_MAX;
    Touched() = default;
    Touched(const Touched&) {}
    Touched& operator=(const Touched&) {
      first = 0;
      last = INT_MAX;
      return *this;
    }
    void Add(int y) {
      first = std::min(first, y);
      last = std::max(last, y);
    }
  };

  int width_ = 0;
  int height_ = 0;
  std::vector<Colour> pixels_;
  mutable Touched touched_;
  Colour backColor_ = kBlack;
  const Surface* picture_ = nullptr;
  const Font* font_ = nullptr;
  Presenter* presenter_ = nullptr;
};

// Copies a w x h rectangle from (sx, sy) on src to (x, y) on dst, combined by op.
// Anything outside either surface is dropped. Returns false when nothing was drawn.
bool BitBlt(Surface& dst, int x, int y, int w, int h, const Surface& src, int sx, int sy,
            RasterOp op);

// Sprite through its mask: black mask pixels show the picture, white ones the background.
void MaskedDraw(Surface& dst, int x, int y, int w, int h, const Surface& mask,
                const Surface& picture);

}  // namespace quillon
