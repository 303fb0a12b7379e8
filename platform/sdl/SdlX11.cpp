#include <SDL_syswm.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/Scaling.h"
#include "platform/sdl/SdlPlatform.h"
#include "platform/sdl/SdlShared.h"

// What SDL doesn't tell of an X server, asked of it directly. Where the window is not an X
// window (Wayland) each of these does nothing, or gives the answer that changes nothing.
namespace quillon {

#if defined(SDL_VIDEO_DRIVER_X11)
namespace {

struct X11Window {
  Display* display;
  Window window;
};

std::optional<X11Window> X11Of(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (window == nullptr || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return std::nullopt;
  return X11Window{info.info.x11.display, info.info.x11.window};
}

// A property of the root window, as its bytes; nullopt where it is not set.
std::optional<std::string> RootProperty(Display* display, const char* name, Atom kind, long length) {
  const Atom atom = XInternAtom(display, name, True);
  if (atom == None) return std::nullopt;
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::optional<std::string> found;
  if (XGetWindowProperty(display, DefaultRootWindow(display), atom, 0, length, False, kind, &type, &format, &count,
                         &after, &data) == Success &&
      data != nullptr && count > 0) {
    found.emplace(reinterpret_cast<const char*>(data), kind == XA_STRING ? count : count * sizeof(long));
  }
  if (data != nullptr) XFree(data);
  return found;
}

// A window destroyed by another program shows up as errors on what we still send it.
extern "C" int OnXError(Display*, XErrorEvent* error) {
  if (error->error_code == BadWindow || error->error_code == BadDrawable) sdl::windowGone = 1;
  return 0;
}

extern "C" int OnXIOError(Display* display) { return SdlPlatform::DisplayLostHandler(display); }

}  // namespace

std::optional<int> SdlPlatform::X11DesktopScale() {
  const auto x = X11Of(window_);
  if (!x) return std::nullopt;
  // The resources as they are now, straight from the root window.
  const auto resources = RootProperty(x->display, "RESOURCE_MANAGER", XA_STRING, 1 << 16);
  const auto at = resources ? resources->find("Xft.dpi:") : std::string::npos;
  return at == std::string::npos ? 1 : DesktopScale(std::atof(resources->c_str() + at + 8));
}

// Whether a window manager runs that can give a window the whole screen (EWMH's check window);
// true where that can't be asked (Wayland: the compositor always can).
bool SdlPlatform::HasWindowManager() {
  const auto x = X11Of(window_);
  return !x || RootProperty(x->display, "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, 1).has_value();
}

void SdlPlatform::SetX11Icons(const Pictures& pictures) {
  const auto xw = X11Of(window_);
  if (!xw) return;
  // SDL sets one icon image; X11 can carry several sizes: 16 and 32 as drawn, 64 as a whole
  // enlargement of the 32, each clear outside the icon's shape.
  std::vector<unsigned long> data;
  const std::pair<const Surface*, int> sizes[] = {{&pictures.icon16, 1}, {&pictures.icon32, 1}, {&pictures.icon32, 2}};
  for (const auto& [icon, times] : sizes) {
    const int size = icon->Width() * times;
    data.push_back(static_cast<unsigned long>(size));
    data.push_back(static_cast<unsigned long>(size));
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        const bool outside = OutsideIcon(*icon, x / times, y / times);
        data.push_back(outside ? 0UL : 0xFF000000UL | icon->Pixel(x / times, y / times));
      }
  }
  XChangeProperty(xw->display, xw->window, XInternAtom(xw->display, "_NET_WM_ICON", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
  XFlush(xw->display);
}

void SdlPlatform::WatchX11() {
  const auto x = X11Of(window_);
  if (!x) return;
  xWindow_ = x->window;
  SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
  XSetErrorHandler(OnXError);
  XSetIOErrorHandler(OnXIOError);
}

bool SdlPlatform::IsOurWindowDestroyed(const SDL_SysWMmsg* msg) {
  if (msg == nullptr || msg->subsystem != SDL_SYSWM_X11 || msg->msg.x11.event.type != DestroyNotify) return false;
  // SDL may make a new X window for ours (for a renderer): only the one it has now counts.
  const auto x = X11Of(window_);
  return msg->msg.x11.event.xdestroywindow.window == (x ? x->window : xWindow_);
}

#else

std::optional<int> SdlPlatform::X11DesktopScale() { return std::nullopt; }
bool SdlPlatform::HasWindowManager() { return true; }
void SdlPlatform::SetX11Icons(const Pictures&) {}
void SdlPlatform::WatchX11() {}
bool SdlPlatform::IsOurWindowDestroyed(const SDL_SysWMmsg*) { return false; }

#endif

}  // namespace quillon
