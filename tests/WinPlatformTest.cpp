// The Windows window where it runs: what it does when its screen's DPI changes.
#include <gtest/gtest.h>

#include <tuple>
#include <utility>

#include "FakePlatform.h"
#include "platform/windows/WinPlatform.h"
// After the game's headers: its raster-operation macros would clash with their names.
#include <windows.h>

namespace quillon {
namespace {

// The window's outer size for a client area, as Windows frames it at a DPI.
SIZE Framed(int width, int height, UINT dpi) {
  RECT r{0, 0, width, height};
  AdjustWindowRectExForDpi(&r, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, FALSE, 0, dpi);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

TEST(WinPlatform, ADpiChangeGivesThatDpisWholeScaleWithNoBands) {
  WinPlatform platform;
  std::string error;
  ASSERT_EQ(platform.Open(GetModuleHandleW(nullptr), testing::TestPictures(), nullptr, &error), 0) << error;
  platform.SetClientSize(kScreenW, kScreenH);
  const HWND window = static_cast<HWND>(platform.Window());
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT area = monitor.rcWork;
  // Some moves come while full screen: the change must hold when the window comes back.
  for (auto [dpi, scale, full] : {std::tuple<UINT, int, bool>{144, 2, false}, {192, 2, false}, {96, 1, false},
                                  {192, 2, true}, {96, 1, true}, {144, 2, false}}) {
    // Lowered until the framed window fits the screen's work area, as a small screen needs.
    const auto fits = [&](int s) {
      const SIZE f = Framed(kScreenW * s, kScreenH * s, dpi);
      return f.cx <= area.right - area.left && f.cy <= area.bottom - area.top;
    };
    while (scale > 1 && !fits(scale)) --scale;
    // What Windows proposes for the new DPI, and then the message as it sends it, with the size
    // it would pick on its own (between two scales) as the suggestion.
    if (full) SendMessageW(window, WM_KEYDOWN, VK_F11, 0);
    SIZE proposed{};
    // Full screen, the window keeps the screen's size: Windows is told to propose none.
    EXPECT_EQ(SendMessageW(window, WM_GETDPISCALEDSIZE, dpi, reinterpret_cast<LPARAM>(&proposed)), !full);
    const SIZE framed = Framed(kScreenW * scale, kScreenH * scale, dpi);
    if (!full) {
      EXPECT_EQ(std::make_pair(proposed.cx, proposed.cy), std::make_pair(framed.cx, framed.cy)) << dpi;
    }
    RECT suggested{40, 30, 40 + MulDiv(kScreenW, dpi, 96) - 7, 30 + MulDiv(kScreenH, dpi, 96) - 9};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    if (full) SendMessageW(window, WM_KEYDOWN, VK_F11, 0);
    RECT client{}, outer{};
    GetClientRect(window, &client);
    GetWindowRect(window, &outer);
    EXPECT_EQ(std::make_pair(client.right, client.bottom), std::make_pair(LONG{kScreenW * scale}, LONG{kScreenH * scale})) << dpi;
    EXPECT_EQ(std::make_pair(outer.left, outer.top), std::make_pair(40L, 30L)) << dpi;
  }
  DestroyWindow(window);
}

}  // namespace
}  // namespace quillon
