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
#include "platform/Scaling.h"

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

int SdlPlatform::Open(const Pictures& pictures, const char* scale, std::string* error) {
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  // The window's class and Wayland app id are the desktop entry's id, so that docks and task
  // bars tie the running game to its launcher and icon.
  // This SDL reads them from the environment as its video starts.
  ::setenv("SDL_VIDEO_X11_WMCLASS", "org.quillon.Quillon", 0);
  ::setenv("SDL_VIDEO_WAYLAND_WMCLASS", "org.quillon.Quillon", 0);
  // Our own handlers treat SIGHUP, SIGINT and SIGTERM alike.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  const bool driverAsked = std::getenv("SDL_VIDEODRIVER") != nullptr;
  if (!driverAsked && IsUnset("DISPLAY") && IsUnset("WAYLAND_DISPLAY")) {
    *error = "no display available (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    return 1;
  }
  // Without a Wayland session, X11 is the only place a window can go; trying Wayland
  // as well would only add its own complaint to ours. With one, a window of its own there
  // (Xwayland would have the compositor enlarge, and smooth, the picture), X11 where that fails.
  if (!driverAsked) SDL_SetHint(SDL_HINT_VIDEODRIVER, IsUnset("WAYLAND_DISPLAY") ? "x11" : "wayland,x11");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    // Named as the player's environment names it.
    std::string tried;
    for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY"}) {
      if (!IsUnset(name)) tried += std::string(tried.empty() ? " at " : " or ") + name + "=" + std::getenv(name);
    }
    *error = "no display available" + tried + " (" + SDL_GetError() + ")";
    return 1;
  }
  // Gamepads, where the machine has any; a machine without them still plays by keys.
  SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER);
  const char* driver = SDL_GetCurrentVideoDriver();
  // SDL falls back to an invisible driver when no display answers; only take it on request.
  if (!driverAsked && driver != nullptr &&
      (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0)) {
    *error = "no display available (is DISPLAY or WAYLAND_DISPLAY set?)";
    SDL_Quit();
    return 1;
  }
  // On X11 a plain window surface is the cheapest way to put a software frame on screen;
  // Wayland has none, and SDL makes one over a renderer there.
  if (driver != nullptr && std::strcmp(driver, "x11") == 0) SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  // High DPI: on an output of scale N, Wayland gets a buffer N times the window's size, drawn
  // by whole device pixels, and the buffer scale that says so.
  window_ = SDL_CreateWindow("Quillon", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                             kScreenW, kScreenH, SDL_WINDOW_HIDDEN | SDL_WINDOW_ALLOW_HIGHDPI);
  if (window_ == nullptr) {
    *error = std::string("cannot open the window (") + SDL_GetError() + ")";
    SDL_Quit();
    return 1;
  }
  int pixelsW = 0, pixelsH = 0;
  SDL_GetWindowSizeInPixels(window_, &pixelsW, &pixelsH);
  density_ = std::max(1, pixelsW / kScreenW);
  // SDL's own window surface is as large as the window, not its buffer: there the frame goes
  // through a renderer, into a texture as large as the buffer.
  if (density_ > 1 || (driver != nullptr && std::strcmp(driver, "wayland") == 0)) {
    renderer_ = SDL_CreateRenderer(window_, -1, 0);
    if (renderer_ == nullptr) {
      *error = std::string("the window has no surface to draw on (") + SDL_GetError() + ")";
      SDL_Quit();
      return 1;
    }
  }
  const auto chosen = StartScale(scale, DesktopScaleNow(), LargestScale(), error);
  if (!chosen) return 2;
  scale_ = *chosen;
  last_.assign(static_cast<std::size_t>(kScreenW) * kScreenH, kBlack);
  // Keys only: with text input on, an input method could swallow Space.
  SDL_StopTextInput();
  SetIcons(pictures);
  WatchForTheEnd();
  return 0;
}

int SdlPlatform::DesktopScaleNow() {
  // GDK_SCALE and Xft.dpi are how Linux desktops tell programs their scale.
  if (const char* gdk = std::getenv("GDK_SCALE"); gdk != nullptr && *gdk != '\0') {
    if (const auto value = ParseScale(gdk, 16)) return *value;
  }
#if defined(SDL_VIDEO_DRIVER_X11)
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window_, &info) && info.subsystem == SDL_SYSWM_X11) {
    // The resources as they are now, straight from the root window.
    Display* display = info.info.x11.display;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    int scale = 1;
    if (XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, "RESOURCE_MANAGER", True), 0,
                           1 << 16, False, XA_STRING, &type, &format, &count, &after, &data) == Success &&
        data != nullptr) {
      const std::string resources(reinterpret_cast<const char*>(data), count);
      const auto at = resources.find("Xft.dpi:");
      if (at != std::string::npos) scale = DesktopScale(std::atof(resources.c_str() + at + 8));
    }
    if (data != nullptr) XFree(data);
    return scale;
  }
#endif
  // Elsewhere (Wayland) the output's own scale, as its buffers show it; the DPI SDL reports
  // there is the logical one, the same at every scale.
  return density_;
}

int SdlPlatform::LargestScale() {
  SDL_Rect usable{0, 0, kScreenW, kScreenH};
  SDL_GetDisplayUsableBounds(std::max(0, SDL_GetWindowDisplayIndex(window_)), &usable);
  // Room for a title bar above the picture; all in device pixels.
  constexpr int kTitleBar = 40;
  return LargestWindowScale(usable.w * density_, usable.h * density_, 0, kTitleBar * density_, kScreenW, kScreenH);
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
  // SDL sets one icon image; X11 can carry several sizes: 16 and 32 as drawn, 64 as a whole
  // enlargement of the 32.
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window_, &info) && info.subsystem == SDL_SYSWM_X11) {
    std::vector<unsigned long> data;
    const std::pair<const Surface*, int> sizes[] = {{&pictures.icon16, 1}, {&pictures.icon32, 1}, {&pictures.icon32, 2}};
    for (const auto& [icon, times] : sizes) {
      const int size = icon->Width() * times;
      data.push_back(static_cast<unsigned long>(size));
      data.push_back(static_cast<unsigned long>(size));
      for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) data.push_back(0xFF000000UL | icon->Pixel(x / times, y / times));
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
        if (msg != nullptr && msg->subsystem == SDL_SYSWM_X11 && msg->msg.x11.event.type == DestroyNotify) {
          // SDL may make a new X window for ours (for a renderer): only the one it has now counts.
          SDL_SysWMinfo info;
          SDL_VERSION(&info.version);
          const Window now = SDL_GetWindowWMInfo(window_, &info) ? info.info.x11.window : xWindow_;
          if (msg->msg.x11.event.xdestroywindow.window == now) g_windowGone = 1;
        }
        break;
      }
#endif
      case SDL_QUIT:
        events.Form_Unload();
        break;
      case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) events.Form_Unload();
        if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) redrawAll_ = true;
        if (event.window.event == SDL_WINDOWEVENT_EXPOSED) Show(0, kScreenH - 1, true);
        break;
      // A gamepad's bottom face button (A, cross) is Enter: start and the high jump; the right
      // and left ones (B, circle; X, square) are Space: the low jump.
      case SDL_CONTROLLERDEVICEADDED:
        if (SDL_GameController* pad = SDL_GameControllerOpen(event.cdevice.which)) pads_.push_back(pad);
        break;
      case SDL_CONTROLLERDEVICEREMOVED:
        for (auto it = pads_.begin(); it != pads_.end(); ++it) {
          if (SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(*it)) == event.cdevice.which) {
            SDL_GameControllerClose(*it);
            pads_.erase(it);
            break;
          }
        }
        break;
      case SDL_CONTROLLERBUTTONDOWN: {
        std::int16_t code = 0;
        if (event.cbutton.button == SDL_CONTROLLER_BUTTON_A) code = kKeyEnter;
        if (event.cbutton.button == SDL_CONTROLLER_BUTTON_B || event.cbutton.button == SDL_CONTROLLER_BUTTON_X) {
          code = kKeySpace;
        }
        if (code != 0) events.Form_KeyDown(code, 0);
        break;
      }
      case SDL_KEYDOWN: {
        // The window's own keys; not Alt+Enter, which is a jump.
        if (event.key.keysym.sym == SDLK_F11 && event.key.repeat == 0) {
          ToggleFullScreen(!fullScreen_);
          break;
        }
        if (event.key.keysym.sym == SDLK_ESCAPE && fullScreen_) {
          ToggleFullScreen(false);
          break;
        }
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

void SdlPlatform::SetClientSize(int width, int height) {
  // The window's size is in the output's logical units: a device scale the density doesn't
  // divide gets the next whole size up, and a thin black edge.
  SDL_SetWindowSize(window_, (width * scale_ + density_ - 1) / density_, (height * scale_ + density_ - 1) / density_);
  // Still hidden: placed anew for its size, so that none of it starts off the screen.
  const int display = std::max(0, SDL_GetWindowDisplayIndex(window_));
  SDL_SetWindowPosition(window_, SDL_WINDOWPOS_CENTERED_DISPLAY(display), SDL_WINDOWPOS_CENTERED_DISPLAY(display));
}

// Whether a window manager runs that can give a window the whole screen (EWMH's check window);
// true where that can't be asked (Wayland: the compositor always can).
bool SdlPlatform::HasWindowManager() {
#if defined(SDL_VIDEO_DRIVER_X11)
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window_, &info) && info.subsystem == SDL_SYSWM_X11) {
    Display* display = info.info.x11.display;
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    if (check == None) return false;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool found = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                                          &format, &count, &after, &data) == Success &&
                       count == 1;
    if (data != nullptr) XFree(data);
    return found;
  }
#endif
  return true;
}

void SdlPlatform::ToggleFullScreen(bool on) {
  if (HasWindowManager() || bareFull_) {
    if (bareFull_ && !on) {
      // Back from the full screen a bare X server was given: where and how large it was.
      SDL_SetWindowSize(window_, windowed_.w, windowed_.h);
      SDL_SetWindowPosition(window_, windowed_.x, windowed_.y);
      bareFull_ = false;
      fullScreen_ = false;
    } else if (SDL_SetWindowFullscreen(window_, on ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0) == 0) {
      fullScreen_ = on;
    }
  } else if (on) {
    // Nobody to honour a request for the full screen: the window takes the screen itself.
    SDL_Rect screen{};
    if (SDL_GetDisplayBounds(std::max(0, SDL_GetWindowDisplayIndex(window_)), &screen) == 0) {
      SDL_GetWindowPosition(window_, &windowed_.x, &windowed_.y);
      SDL_GetWindowSize(window_, &windowed_.w, &windowed_.h);
      SDL_SetWindowPosition(window_, screen.x, screen.y);
      SDL_SetWindowSize(window_, screen.w, screen.h);
      bareFull_ = true;
      fullScreen_ = true;
    }
  }
  redrawAll_ = true;
}

void SdlPlatform::ShowWindow() {
  SDL_ShowWindow(window_);
  Show(0, kScreenH - 1, true);
}

void SdlPlatform::Fail(const std::string& what) {
  std::fprintf(stderr, "quillon: %s (%s)\n", what.c_str(), SDL_GetError());
  std::fflush(nullptr);
  std::_Exit(1);
}

SDL_Surface* SdlPlatform::Target() {
  if (renderer_ == nullptr) return SDL_GetWindowSurface(window_);
  int w = 0, h = 0;
  if (SDL_GetRendererOutputSize(renderer_, &w, &h) != 0 || w <= 0 || h <= 0) return nullptr;
  if (buffer_ == nullptr || buffer_->w != w || buffer_->h != h) {
    if (texture_ != nullptr) SDL_DestroyTexture(texture_);
    SDL_FreeSurface(buffer_);
    buffer_ = SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_RGB888);
    texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, w, h);
    if (buffer_ == nullptr || texture_ == nullptr) return nullptr;
  }
  return buffer_;
}

void SdlPlatform::Show(int top, int bottom, bool all) {
  SDL_Surface* screen = Target();
  if (screen == nullptr) Fail("the window has no surface to draw on");
  // A new or resized surface holds nothing of ours yet.
  all = all || redrawAll_ || screen != shownOn_;
  if (all) {
    top = 0;
    bottom = kScreenH - 1;
  }
  const Placement place = PlaceIn(screen->w, screen->h, kScreenW, kScreenH);
  const int bytes = screen->format->BytesPerPixel;
  inFormat_.resize(static_cast<std::size_t>(kScreenW) * kScreenH * bytes);
  if (SDL_MUSTLOCK(screen) && SDL_LockSurface(screen) != 0) Fail("cannot draw on the window");
  if (all) SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, 0, 0, 0));
  SDL_ConvertPixels(kScreenW, bottom - top + 1, SDL_PIXELFORMAT_RGB888, last_.data() + top * kScreenW,
                    kScreenW * 4, screen->format->format, inFormat_.data() + top * kScreenW * bytes,
                    kScreenW * bytes);
  ScaleRows(inFormat_.data(), kScreenW, top, bottom, bytes, static_cast<std::uint8_t*>(screen->pixels),
            screen->pitch, screen->w, screen->h, place);
  if (SDL_MUSTLOCK(screen)) SDL_UnlockSurface(screen);
  shownOn_ = screen;
  redrawAll_ = false;
  if (renderer_ != nullptr) {
    // One texel a device pixel: nothing for the renderer to smooth.
    if (SDL_UpdateTexture(texture_, nullptr, screen->pixels, screen->pitch) != 0 ||
        SDL_RenderCopy(renderer_, texture_, nullptr, nullptr) != 0) {
      Fail("cannot draw on the window");
    }
    SDL_RenderPresent(renderer_);
    return;
  }
  if (all) {
    SDL_UpdateWindowSurface(window_);
    return;
  }
  SDL_Rect rows{std::max(0, place.x), std::max(0, place.y + top * place.scale), kScreenW * place.scale,
                (bottom - top + 1) * place.scale};
  rows.w = std::min(rows.w, screen->w - rows.x);
  rows.h = std::min(rows.h, screen->h - rows.y);
  if (rows.w > 0 && rows.h > 0) SDL_UpdateWindowSurfaceRects(window_, &rows, 1);
}

void SdlPlatform::Present(const Surface& surface) {
  // Only the rows that changed are scaled and sent: on the title that is the prompt alone.
  const int w = std::min(surface.Width(), kScreenW), h = std::min(surface.Height(), kScreenH);
  int top = h, bottom = -1;
  for (int y = 0; y < h; ++y) {
    Colour* shown = last_.data() + static_cast<std::size_t>(y) * kScreenW;
    if (std::memcmp(shown, surface.Row(y), static_cast<std::size_t>(w) * sizeof(Colour)) == 0) continue;
    std::memcpy(shown, surface.Row(y), static_cast<std::size_t>(w) * sizeof(Colour));
    top = std::min(top, y);
    bottom = y;
  }
  if (bottom >= 0 || redrawAll_) Show(top, std::max(top, bottom), false);
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
