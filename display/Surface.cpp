#include "display/Surface.h"

#include <algorithm>
#include <cstring>

#include "display/Font.h"

namespace quillon {

Surface::Surface(int width, int height, Colour fill)
    : width_(width), height_(height),
      pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), fill & 0xFFFFFF) {}

void Surface::Cls() {
  touched_.Add(0);
  touched_.Add(height_ - 1);
  if (picture_ != nullptr && picture_->width_ == width_ && picture_->height_ == height_) {
    // The own picture covers everything, so one plain copy is the whole clear.
    std::memcpy(pixels_.data(), picture_->pixels_.data(), pixels_.size() * sizeof(Colour));
  } else {
    std::fill(pixels_.begin(), pixels_.end(), backColor_);
    if (picture_ != nullptr) {
      BitBlt(*this, 0, 0, picture_->width_, picture_->height_, *picture_, 0, 0, RasterOp::SRCCOPY);
    }
  }
  CurrentX = 0;
  CurrentY = 0;
}

void Surface::Refresh() const {
  if (presenter_ != nullptr) presenter_->Present(*this);
}

void Surface::Print(std::string_view text) {
  if (font_ == nullptr) return;
  CurrentX = font_->Draw(*this, CurrentX, CurrentY, ForeColor, text);
  CurrentY += font_->LineHeight();
}

namespace {

template <typename Combine>
void BlitRows(Surface& dst, int x, int y, int w, int h, const Surface& src, int sx, int sy,
              Combine combine) {
  for (int row = 0; row < h; ++row) {
    Colour* d = dst.Row(y + row) + x;
    const Colour* s = src.Row(sy + row) + sx;
    for (int col = 0; col < w; ++col) d[col] = combine(s[col], d[col]) & 0xFFFFFF;
  }
}

}  // namespace

bool BitBlt(Surface& dst, int x, int y, int w, int h, const Surface& src, int sx, int sy,
            RasterOp op) {
  // Clip against the destination, then against the source, moving both origins together.
  if (x < 0) { w += x; sx -= x; x = 0; }
  if (y < 0) { h += y; sy -= y; y = 0; }
  if (sx < 0) { w += sx; x -= sx; sx = 0; }
  if (sy < 0) { h += sy; y -= sy; sy = 0; }
  w = std::min({w, dst.Width() - x, src.Width() - sx});
  h = std::min({h, dst.Height() - y, src.Height() - sy});
  if (w <= 0 || h <= 0) return false;

  switch (op) {
    case RasterOp::SRCCOPY:
      for (int row = 0; row < h; ++row) {
        std::memcpy(dst.Row(y + row) + x, src.Row(sy + row) + sx,
                    static_cast<std::size_t>(w) * sizeof(Colour));
      }
      return true;
    case RasterOp::SRCERASE:
      BlitRows(dst, x, y, w, h, src, sx, sy, [](Colour s, Colour d) { return s & ~d; });
      return true;
    case RasterOp::SRCINVERT:
      BlitRows(dst, x, y, w, h, src, sx, sy, [](Colour s, Colour d) { return s ^ d; });
      return true;
  }
  return false;
}

void MaskedDraw(Surface& dst, int x, int y, int w, int h, const Surface& mask,
                const Surface& picture) {
  BitBlt(dst, x, y, w, h, mask, 0, 0, RasterOp::SRCERASE);
  BitBlt(dst, x, y, w, h, picture, 0, 0, RasterOp::SRCINVERT);
}

}  // namespace quillon
