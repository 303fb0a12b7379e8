#include "platform/sdl/SdlPlatform.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/Scaling.h"
#include "platform/sdl/SdlShared.h"

namespace quillon {

namespace sdl {
volatile std::sig_atomic_t closeRequested = 0;
volatile std::sig_atomic_t windowGone = 0;
}  // namespace sdl

namespace {

SdlPlatform* g_platform = nullptr;

extern "C" void OnCloseSignal(int) { sdl::closeRequested = 1; }

bool IsUnset(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr || *value == '\0';
}

// Whether SDL's video starts on this Wayland display, tried in a child: on some compositors
// (one with no seat) SDL itself crashes as it starts, where X11 may still be there to use.
// Empty where it starts, else why not.
std::string WaylandProblem() {
  const pid_t child = ::fork();
  if (child < 0) return {};  // can't ask: let SDL find out for itself
  if (child == 0) {
    // Not a word of its own, nor a core file: what it has to say, the parent says.
    if (const int null = ::open("/dev/null", O_WRONLY); null >= 0) ::dup2(null, STDERR_FILENO);
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "wayland");
    ::_exit(SDL_Init(SDL_INIT_VIDEO) == 0 ? 0 : 1);
  }
  // A compositor that never answers is as good as none.
  int status = 0;
  for (int waited = 0; ::waitpid(child, &status, WNOHANG) == 0; waited += 10) {
    if (waited >= 5000) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      return "it did not answer";
    }
    ::usleep(10 * 1000);
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status) == 0 ? "" : "SDL could not start on it";
  return "SDL crashed starting on it (signal " + std::to_string(WTERMSIG(status)) + ")";
}

// The icon with its shape: clear outside it.
SDL_Surface* IconSurface(const Surface& art) {
  SDL_Surface* icon = SDL_CreateRGBSurfaceWithFormat(0, art.Width(), art.Height(), 32, SDL_PIXELFORMAT_ARGB8888);
  if (icon == nullptr) return nullptr;
  for (int y = 0; y < art.Height(); ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(icon->pixels) + y * icon->pitch);
    for (int x = 0; x < art.Width(); ++x) row[x] = OutsideIcon(art, x, y) ? 0u : 0xFF000000u | art.Pixel(x, y);
  }
  return icon;
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
  std::string wayland;  // why Wayland was passed over
  if (!driverAsked && !IsUnset("WAYLAND_DISPLAY")) wayland = WaylandProblem();
  if (!driverAsked) SDL_SetHint(SDL_HINT_VIDEODRIVER, IsUnset("WAYLAND_DISPLAY") || !wayland.empty() ? "x11" : "wayland,x11");
  if (!wayland.empty() && IsUnset("DISPLAY")) {
    *error = std::string("no display available at WAYLAND_DISPLAY=") + std::getenv("WAYLAND_DISPLAY") + " (" +
             wayland + ")";
    return 1;
  }
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
  // On Wayland the frame goes to the compositor in shared memory, at the buffer's size. SDL's
  // own window surface is as large as the window, not its buffer: where there is no such
  // memory, the frame goes through a renderer, into a texture as large as the buffer.
  if (driver != nullptr && std::strcmp(driver, "wayland") == 0) wayland_ = sdl::WaylandFrames::For(window_);
  if (wayland_ == nullptr && (density_ > 1 || (driver != nullptr && std::strcmp(driver, "wayland") == 0))) {
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
  if (const auto x11 = X11DesktopScale()) return *x11;
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
  WatchX11();
}

void SdlPlatform::SetIcons(const Pictures& pictures) {
  if (SDL_Surface* icon = IconSurface(pictures.icon32)) {
    SDL_SetWindowIcon(window_, icon);
    SDL_FreeSurface(icon);
  }
  SetX11Icons(pictures);
}

std::int32_t SdlPlatform::Clock() {
  // Monotonic milliseconds since boot, kept to 32 bits as the game reads them.
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count();
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms));
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
