#pragma once

// What the Windows platform's files share, and nothing else includes. After the game's
// headers: windows.h defines macros named like the game's raster operations.
#include <windows.h>

namespace quillon {

inline HWND AsWindow(void* w) { return static_cast<HWND>(w); }

// A 32-bit top-down bitmap of width x height, as the game's surfaces keep their pixels.
inline BITMAPINFO FrameInfo(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first, as the surfaces keep them
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

}  // namespace quillon
