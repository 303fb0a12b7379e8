#include <algorithm>
#include <cstring>

#include "platform/Scaling.h"
#include "platform/windows/WinPlatform.h"
#include "platform/windows/WinShared.h"

// Presenting: each frame the game draws, kept for repaints and painted by whole pixels.
namespace quillon {

void WinPlatform::Paint(void* dc) {
  // Black until the first frame, then the last frame again: at the largest whole scale the
  // client area holds, centred, each game pixel a block of one colour, black around it.
  const HDC target = static_cast<HDC>(dc);
  RECT client{};
  GetClientRect(AsWindow(window_), &client);
  const Placement p = PlaceIn(client.right, client.bottom, kScreenW, kScreenH);
  const int w = kScreenW * p.scale, h = kScreenH * p.scale;
  const auto black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  for (const RECT& bar : {RECT{0, 0, client.right, p.y}, RECT{0, p.y + h, client.right, client.bottom},
                          RECT{0, p.y, p.x, p.y + h}, RECT{p.x + w, p.y, client.right, p.y + h}}) {
    if (bar.right > bar.left && bar.bottom > bar.top) FillRect(target, &bar, black);
  }
  const BITMAPINFO info = FrameInfo(kScreenW, kScreenH);
  if (p.scale == 1) {
    SetDIBitsToDevice(target, p.x, p.y, kScreenW, kScreenH, 0, 0, 0, kScreenH, frame_.data(), &info, DIB_RGB_COLORS);
    return;
  }
  SetStretchBltMode(target, COLORONCOLOR);
  StretchDIBits(target, p.x, p.y, w, h, 0, 0, kScreenW, kScreenH, frame_.data(), &info, DIB_RGB_COLORS, SRCCOPY);
}

void WinPlatform::Present(const Surface& surface) {
  const std::size_t count = std::min(surface.Pixels().size(), frame_.size());
  std::memcpy(frame_.data(), surface.Pixels().data(), count * sizeof(Colour));
  if (HDC dc = GetDC(AsWindow(window_))) {
    Paint(dc);
    ReleaseDC(AsWindow(window_), dc);
  }
}

}  // namespace quillon
