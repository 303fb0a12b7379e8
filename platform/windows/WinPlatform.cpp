#include "platform/windows/WinPlatform.h"

#include <algorithm>
#include <cstring>

#include "game/Input.h"
#include "platform/Scaling.h"
#include "platform/windows/WinShared.h"

#include <mmsystem.h>

namespace quillon {

namespace {

constexpr wchar_t kClassName[] = L"QuillonWindow";
// A fixed single border with a minimise box: not resizable, not maximisable.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;


// An icon from a picture: its colours and an all-opaque mask.
HICON MakeIcon(const Surface& picture) {
  const int w = picture.Width(), h = picture.Height();
  BITMAPINFO info = FrameInfo(w, h);
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP colour = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (colour == nullptr) return nullptr;
  auto* out = static_cast<std::uint32_t*>(bits);
  for (std::size_t i = 0; i < picture.Pixels().size(); ++i) out[i] = 0xFF000000u | picture.Pixels()[i];
  std::vector<std::uint8_t> zeros(static_cast<std::size_t>((w + 15) / 16 * 2) * h, 0);
  HBITMAP mask = CreateBitmap(w, h, 1, 1, zeros.data());
  ICONINFO icon{TRUE, 0, 0, mask, colour};
  HICON made = CreateIconIndirect(&icon);
  DeleteObject(mask);
  DeleteObject(colour);
  return made;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<WinPlatform*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self != nullptr && self->Window() == window) return self->Handle(message, wParam, lParam);
  return DefWindowProcW(window, message, wParam, lParam);
}


template <typename Function>
Function FromUser32(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// The DPI of the screen the window is on (Windows 10 and later say so of each screen; older
// ones have one for all).
UINT WindowDpi(HWND window) {
  static const auto forWindow = FromUser32<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  if (forWindow != nullptr) {
    if (const UINT dpi = forWindow(window)) return dpi;
  }
  HDC dc = GetDC(window);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
  ReleaseDC(window, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The outer size of a window whose client area is width x height, at a DPI.
SIZE OuterSize(int width, int height, UINT dpi) {
  static const auto adjust = FromUser32<BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
  RECT r{0, 0, width, height};
  if (adjust == nullptr || !adjust(&r, kStyle, FALSE, 0, dpi)) AdjustWindowRectEx(&r, kStyle, FALSE, 0);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

MONITORINFO MonitorOf(HWND window) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
  return info;
}

}  // namespace

int WinPlatform::Open(void* instance, const Pictures& pictures, const char* scale, std::string* error) {
  // Whole milliseconds from the clock and the waits, for the life of the program.
  timeBeginPeriod(1);
  frame_.assign(static_cast<std::size_t>(kScreenW) * kScreenH, kBlack);
  // The program's own icon group, at the sizes this screen wants; drawn in code only if missing.
  const auto hinstance = static_cast<HINSTANCE>(instance);
  icons_[0] = LoadImageW(hinstance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                         GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR);
  icons_[1] = LoadImageW(hinstance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                         GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
  if (icons_[0] == nullptr) icons_[0] = MakeIcon(pictures.icon32);
  if (icons_[1] == nullptr) icons_[1] = MakeIcon(pictures.icon16);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = static_cast<HINSTANCE>(instance);
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = kClassName;
  windowClass.hIcon = static_cast<HICON>(icons_[0]);
  windowClass.hIconSm = static_cast<HICON>(icons_[1]);
  if (RegisterClassExW(&windowClass) == 0) {
    *error = "cannot register the window class";
    return 1;
  }
  window_ = CreateWindowExW(0, kClassName, L"Quillon", kStyle, CW_USEDEFAULT, CW_USEDEFAULT, kScreenW, kScreenH,
                            nullptr, nullptr, static_cast<HINSTANCE>(instance), this);
  if (window_ == nullptr) {
    *error = "cannot open the window";
    return 1;
  }
  const auto chosen = StartScale(scale, DesktopScale(WindowDpi(AsWindow(window_))), LargestScale(), error);
  if (!chosen) return 2;
  scale_ = *chosen;
  scaleChosen_ = scale != nullptr;
  SendMessageW(AsWindow(window_), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icons_[0]));
  SendMessageW(AsWindow(window_), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icons_[1]));
  return 0;
}

int WinPlatform::LargestScale() { return LargestScaleAt(WindowDpi(AsWindow(window_))); }

int WinPlatform::LargestScaleAt(unsigned dpi) {
  const RECT area = MonitorOf(AsWindow(window_)).rcWork;
  // The frame is the same width around a window of any size.
  const SIZE outer = OuterSize(kScreenW, kScreenH, dpi);
  return LargestWindowScaleIn(area.left, area.top, area.right, area.bottom, outer.cx - kScreenW, outer.cy - kScreenH,
                              kScreenW, kScreenH);
}

int WinPlatform::ScaleAt(unsigned dpi) {
  // The player's own --scale holds on every screen; else that screen's, as far as it fits.
  return scaleChosen_ ? scale_ : std::min(DesktopScale(dpi), LargestScaleAt(dpi));
}

void WinPlatform::ToggleFullScreen(bool on) {
  const HWND window = AsWindow(window_);
  if (on == fullScreen_) return;
  if (on) {
    // Borderless over the whole of the window's own screen.
    RECT was{};
    GetWindowRect(window, &was);
    restore_[0] = was.left, restore_[1] = was.top, restore_[2] = was.right, restore_[3] = was.bottom;
    const RECT screen = MonitorOf(window).rcMonitor;
    SetWindowLongPtrW(window, GWL_STYLE, WS_POPUP | WS_VISIBLE);
    SetWindowPos(window, HWND_TOP, screen.left, screen.top, screen.right - screen.left, screen.bottom - screen.top,
                 SWP_FRAMECHANGED | SWP_NOACTIVATE);
  } else {
    SetWindowLongPtrW(window, GWL_STYLE, kStyle | WS_VISIBLE);
    SetWindowPos(window, nullptr, restore_[0], restore_[1], restore_[2] - restore_[0], restore_[3] - restore_[1],
                 SWP_FRAMECHANGED | SWP_NOZORDER | SWP_NOACTIVATE);
    FitClientToScale();
  }
  fullScreen_ = on;
  InvalidateRect(window, nullptr, FALSE);
}

void WinPlatform::FitClientToScale() {
  // Where the frame came out otherwise than the DPI's metrics say (a system that frames every
  // window at one DPI), the client area is put right by the difference.
  const HWND window = AsWindow(window_);
  RECT client{}, outer{};
  GetClientRect(window, &client);
  GetWindowRect(window, &outer);
  const int dx = kScreenW * scale_ - client.right, dy = kScreenH * scale_ - client.bottom;
  if (dx != 0 || dy != 0) {
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + dx, outer.bottom - outer.top + dy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

std::intptr_t WinPlatform::Handle(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  switch (message) {
    case WM_KEYDOWN:
      // The window's own keys; not Alt+Enter, which is a jump.
      if (wParam == VK_F11) {
        if ((lParam & (1 << 30)) == 0) ToggleFullScreen(!fullScreen_);
        return 0;
      }
      if (wParam == VK_ESCAPE && fullScreen_) {
        ToggleFullScreen(false);
        return 0;
      }
      if (events_ != nullptr) {
        // The virtual-key code as it is: the game's key codes are Windows' own.
        events_->Form_KeyDown(static_cast<std::int16_t>(wParam));
      }
      return 0;
    case WM_CLOSE:
      if (events_ != nullptr) events_->Form_Unload();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint covers the whole client area
    case WM_SIZE:
      InvalidateRect(AsWindow(window_), nullptr, FALSE);
      return 0;
    case WM_GETDPISCALEDSIZE: {
      // Windows asks what size the window takes at another DPI: that DPI's whole scale, so
      // that it proposes no size of its own between two.
      if (fullScreen_) return FALSE;
      const auto dpi = static_cast<UINT>(wParam);
      const int scale = ScaleAt(dpi);
      *reinterpret_cast<SIZE*>(lParam) = OuterSize(kScreenW * scale, kScreenH * scale, dpi);
      return TRUE;
    }
    case WM_DPICHANGED: {
      // Dragged to a screen of another scale, or the scale changed: that screen's whole scale,
      // the window where Windows suggests, exactly as large as the picture at it.
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      const UINT dpi = HIWORD(wParam);
      scale_ = ScaleAt(dpi);
      const SIZE outer = OuterSize(kScreenW * scale_, kScreenH * scale_, dpi);
      if (fullScreen_) {
        // Kept for the way back: the window then comes back at this DPI's scale, on this screen.
        const MONITORINFO monitor = MonitorOf(AsWindow(window_));
        const RECT area = monitor.rcWork;
        POINT corner{restore_[0], restore_[1]};
        if (!PtInRect(&area, corner)) {
          corner.x = area.left + std::max(0L, (area.right - area.left - outer.cx) / 2);
          corner.y = area.top + std::max(0L, (area.bottom - area.top - outer.cy) / 2);
        }
        restore_[0] = corner.x, restore_[1] = corner.y;
        restore_[2] = corner.x + outer.cx, restore_[3] = corner.y + outer.cy;
        const RECT screen = monitor.rcMonitor;
        SetWindowPos(AsWindow(window_), nullptr, screen.left, screen.top, screen.right - screen.left,
                     screen.bottom - screen.top, SWP_NOZORDER | SWP_NOACTIVATE);
      } else {
        SetWindowPos(AsWindow(window_), nullptr, suggested->left, suggested->top, outer.cx, outer.cy,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        FitClientToScale();
      }
      InvalidateRect(AsWindow(window_), nullptr, FALSE);
      return 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(AsWindow(window_), &paint);
      Paint(dc);
      EndPaint(AsWindow(window_), &paint);
      return 0;
    }
    default:
      return DefWindowProcW(AsWindow(window_), message, wParam, lParam);
  }
}


std::int32_t WinPlatform::Clock() { return static_cast<std::int32_t>(timeGetTime()); }

void WinPlatform::PumpEvents(WindowEvents& events) {
  events_ = &events;
  // Gamepads are read where keys are, and count only for the window in front, as keys do.
  padKeys_.clear();
  pads_.Poll(Clock(), padKeys_);
  if (GetForegroundWindow() == AsWindow(window_)) {
    for (std::int16_t code : padKeys_) events.Form_KeyDown(code);
  }
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      events.Form_Unload();
      continue;
    }
    DispatchMessageW(&message);
  }
}

void WinPlatform::WaitForEvents(std::int32_t timeoutMs) {
  if (timeoutMs > 0) {
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(timeoutMs), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

std::string WinPlatform::ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return ".\\";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);  // a long path: try again with room for it
  }
  return Narrow(path.substr(0, path.find_last_of(L"\\/") + 1));
}

std::uint32_t WinPlatform::RandomSeed() {
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  return static_cast<std::uint32_t>(counter.QuadPart ^ (counter.QuadPart >> 32) ^ GetTickCount64());
}

void WinPlatform::SetCaption(const std::string& caption) { SetWindowTextW(AsWindow(window_), Widen(caption).c_str()); }

void WinPlatform::SetClientSize(int width, int height) {
  // Sized from the client rectangle, so whatever border a theme draws lies outside it.
  RECT outer{}, client{};
  GetWindowRect(AsWindow(window_), &outer);
  GetClientRect(AsWindow(window_), &client);
  const int w = (outer.right - outer.left) - (client.right - client.left) + width * scale_;
  const int h = (outer.bottom - outer.top) - (client.bottom - client.top) + height * scale_;
  SetWindowPos(AsWindow(window_), nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void WinPlatform::ShowWindow() {
  ::ShowWindow(AsWindow(window_), SW_SHOWNORMAL);
  UpdateWindow(AsWindow(window_));
  SetForegroundWindow(AsWindow(window_));
}


void WinPlatform::EndProgram() {
  if (!unkept_.empty()) {
    MessageBoxW(AsWindow(window_), Widen("Quillon " + unkept_ + ".").c_str(), L"Quillon", MB_ICONWARNING | MB_OK);
  }
  timeEndPeriod(1);
  ExitProcess(0);
}

}  // namespace quillon
