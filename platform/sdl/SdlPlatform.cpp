#include "platform/sdl/SdlPlatform.h"

#include <SDL_syswm.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "game/frmMain.h"

namespace quillon {

namespace {

// Set from a signal handler or Xlib's error handler; the next pump acts on them.
volatile std::sig_atomic_t g_closeRequested = 0;
volatile std::sig_atomic_t g_windowGone = 0;
SdlPlatform* g_platform = nullptr;

extern "C" void OnCloseSignal(int) { g_closeRequested = 1; }

std::int16_t KeyCodeOf(const SDL_Keysym& key) {
  switch (key.sym) {
    case SDLK_RETURN:
    case SDLK_RETURN2:
    case SDLK_KP_ENTER:
      return kKeyEnter;
    case SDLK_SPACE:
      return kKeySpace;
    default:
      return 0;
  }
}

std::int16_t ShiftOf(const SDL_Keysym& key) {
  std::int16_t shift = 0;
  if (key.mod & KMOD_SHIFT) shift |= 1;
  if (key.mod & KMOD_CTRL) shift |= 2;
  if (key.mod & KMOD_ALT) shift |= 4;
  return shift;
}

bool IsUnset(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr || *value == '\0';
}

SDL_Surface* WrapPixels(const Surface& s) {
  return SDL_CreateRGBSurfaceWithFormatFrom(const_cast<Colour*>(s.Pixels().data()), s.Width(),
                                            s.Height(), 32, s.Width() * 4, SDL_PIXELFORMAT_RGB888);
}

}  // namespace

bool SdlPlatform::Open(const Pictures& pictures, std::string* error) {
  // Plain window surface: the cheapest way to put a small software frame on screen.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  // Our own handlers treat SIGHUP, SIGINT and SIGTERM alike.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  const bool driverAsked = std::getenv("SDL_VIDEODRIVER") != nullptr;
  if (!driverAsked && IsUnset("DISPLAY") && IsUnset("WAYLAND_DISPLAY")) {
    *error = "no display available (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    return false;
  }
  // Without a Wayland session, X11 is the only place a window can go; trying Wayland
  // as well would only add its own complaint to ours.
  if (!driverAsked && IsUnset("WAYLAND_DISPLAY")) SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    *error = std::string("no display available (") + SDL_GetError() + ")";
    return false;
  }
  const char* driver = SDL_GetCurrentVideoDriver();
  // SDL falls back to an invisible driver when no display answers; only take it on request.
  if (!driverAsked && driver != nullptr &&
      (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0)) {
    *error = "no display available (is DISPLAY or WAYLAND_DISPLAY set?)";
    SDL_Quit();
    return false;
  }
  window_ = SDL_CreateWindow("Quillon", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                             kScreenW, kScreenH, SDL_WINDOW_HIDDEN);
  if (window_ == nullptr) {
    *error = std::string("cannot open the window (") + SDL_GetError() + ")";
    SDL_Quit();
    return false;
  }
  // Keys only: with text input on, an input method could swallow Space.
  SDL_StopTextInput();
  SetIcons(pictures);
  WatchForTheEnd();
  return true;
}

#if defined(SDL_VIDEO_DRIVER_X11)
namespace {

// A window destroyed by another program shows up as errors on what we still send it.
extern "C" int OnXError(Display*, XErrorEvent* error) {
  if (error->error_code == BadWindow || error->error_code == BadDrawable) g_windowGone = 1;
  return 0;
}

extern "C" int OnXIOError(Display* display) { return SdlPlatform::DisplayLostHandler(display); }

}  // namespace
#endif

int SdlPlatform::DisplayLostHandler(void* /*display*/) {
  // Xlib ends the process if this returns: store what the banner promised, then go.
  std::fputs("quillon: lost the connection to the display\n", stderr);
  if (g_platform != nullptr) {
    g_platform->exitStatus_ = 1;
    if (g_platform->events_ != nullptr) g_platform->events_->Form_Unload();
  }
  std::fflush(nullptr);
  std::_Exit(1);
}

void SdlPlatform::WatchForTheEnd() {
  g_platform = this;
  struct sigaction action {};
  action.sa_handler = OnCloseSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGHUP, SIGINT, SIGTERM}) sigaction(signal, &action, nullptr);
#if defined(SDL_VIDEO_DRIVER_X11)
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window_, &info) && info.subsystem == SDL_SYSWM_X11) {
    xWindow_ = info.info.x11.window;
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    XSetErrorHandler(OnXError);
    XSetIOErrorHandler(OnXIOError);
  }
#endif
}

void SdlPlatform::SetIcons(const Pictures& pictures) {
  if (SDL_Surface* icon = WrapPixels(pictures.icon32)) {
    SDL_SetWindowIcon(window_, icon);
    SDL_FreeSurface(icon);
  }
#if defined(SDL_VIDEO_DRIVER_X11)
  // SDL sets one icon image; X11 can carry both sizes.
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window_, &info) && info.subsystem == SDL_SYSWM_X11) {
    std::vector<unsigned long> data;
    for (const Surface* icon : {&pictures.icon32, &pictures.icon16}) {
      data.push_back(static_cast<unsigned long>(icon->Width()));
      data.push_back(static_cast<unsigned long>(icon->Height()));
      for (Colour c : icon->Pixels()) data.push_back(0xFF000000UL | c);
    }
    Display* display = info.info.x11.display;
    XChangeProperty(display, info.info.x11.window, XInternAtom(display, "_NET_WM_ICON", False),
                    XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(data.data()),
                    static_cast<int>(data.size()));
    XFlush(display);
  }
#endif
}

std::int32_t SdlPlatform::Clock() {
  // Monotonic milliseconds since boot, kept to 32 bits as the game reads them.
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count();
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms));
}

void SdlPlatform::PumpEvents(WindowEvents& events) {
  events_ = &events;
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    switch (event.type) {
#if defined(SDL_VIDEO_DRIVER_X11)
      case SDL_SYSWMEVENT: {
        const SDL_SysWMmsg* msg = event.syswm.msg;
        if (msg != nullptr && msg->subsystem == SDL_SYSWM_X11 &&
            msg->msg.x11.event.type == DestroyNotify && msg->msg.x11.event.xdestroywindow.window == xWindow_) {
          g_windowGone = 1;
        }
        break;
      }
#endif
      case SDL_QUIT:
        events.Form_Unload();
        break;
      case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) events.Form_Unload();
        if (event.window.event == SDL_WINDOWEVENT_EXPOSED) SDL_UpdateWindowSurface(window_);
        break;
      case SDL_KEYDOWN: {
        std::int16_t code = KeyCodeOf(event.key.keysym);
        events.Form_KeyDown(code, ShiftOf(event.key.keysym));
        break;
      }
      default:
        break;
    }
  }
  if (g_closeRequested || g_windowGone) events.Form_Unload();
}

void SdlPlatform::WaitForEvents(std::int32_t timeoutMs) {
  if (timeoutMs > 0) SDL_WaitEventTimeout(nullptr, timeoutMs);
}

std::string SdlPlatform::ProgramFolder() {
  std::vector<char> path(4096);
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return "./";
  std::string exe(path.data(), static_cast<std::size_t>(n));
  return exe.substr(0, exe.rfind('/') + 1);
}

std::uint32_t SdlPlatform::RandomSeed() {
  const auto now = std::chrono::system_clock::now().time_since_epoch().count();
  return static_cast<std::uint32_t>(now ^ (now >> 32));
}

void SdlPlatform::SetCaption(const std::string& caption) {
  SDL_SetWindowTitle(window_, caption.c_str());
}

void SdlPlatform::SetClientSize(int width, int height) { SDL_SetWindowSize(window_, width, height); }

void SdlPlatform::ShowWindow() {
  SDL_ShowWindow(window_);
  if (SDL_Surface* screen = SDL_GetWindowSurface(window_)) {
    SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, 0, 0, 0));
    SDL_UpdateWindowSurface(window_);
  }
}

void SdlPlatform::Present(const Surface& surface) {
  SDL_Surface* screen = SDL_GetWindowSurface(window_);
  if (screen == nullptr) return;
  if (SDL_MUSTLOCK(screen)) SDL_LockSurface(screen);
  SDL_ConvertPixels(std::min(surface.Width(), screen->w), std::min(surface.Height(), screen->h),
                    SDL_PIXELFORMAT_RGB888, surface.Pixels().data(), surface.Width() * 4,
                    screen->format->format, screen->pixels, screen->pitch);
  if (SDL_MUSTLOCK(screen)) SDL_UnlockSurface(screen);
  SDL_UpdateWindowSurface(window_);
}

void SdlPlatform::ReportUnkeptBest(const std::string& message) {
  std::fprintf(stderr, "quillon: %s\n", message.c_str());
}

void SdlPlatform::EndProgram() {
  // Leave without tearing SDL down: destroying the window wakes SDL's event wait with a
  // message sent to that very window, which Xlib answers with BadWindow and exit status 1.
  // The X server frees the window with the connection.
  std::fflush(nullptr);
  std::_Exit(exitStatus_);
}

}  // namespace quillon
