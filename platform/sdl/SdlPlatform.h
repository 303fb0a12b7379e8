#pragma once

#include <SDL.h>

struct SDL_SysWMmsg;

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AsideThread.h"
#include "display/Pictures.h"
#include "game/HighScoreStore.h"
#include "game/Platform.h"
#include "platform/posix/PosixFileSystem.h"
#include "platform/sdl/SdlWayland.h"

namespace quillon {

// The real window, clock and event queue, over SDL2.
class SdlPlatform final : public Platform {
 public:
  // Opens the (hidden) window at the scale asked for (`scale` is the player's --scale, or
  // null for the desktop's own); 0, or the exit status with a one-line reason: 1 when there
  // is no display, 2 for a scale that is not a whole number from 1 to what fits.
  int Open(const Pictures& pictures, const char* scale, std::string* error);

  std::int32_t Clock() override;
  void PumpEvents(WindowEvents& events) override;
  void WaitForEvents(std::int32_t timeoutMs) override;
  std::string ProgramFolder() override;
  FileSystem& Files() override { return files_; }
  bool KeepDailyRun(HighScoreStore& store, const std::string& code, std::int32_t, const Date& day,
                    Patience patience) override {
    return store.KeepDailyRunFile(code, day, patience);
  }
  std::uint32_t RandomSeed() override;
  void SetCaption(const std::string& caption) override;
  void SetClientSize(int width, int height) override;
  void ShowWindow() override;
  void ReportUnkeptBest(const std::string& message) override;
  void Present(const Surface& surface) override;
  bool RunsAside() const override { return true; }
  void RunAside(const std::function<void()>& job) override { aside_.Run(job); }
  bool AsideDone() override { return aside_.Done(); }
  void WaitAside() override { aside_.Wait(); }
  [[noreturn]] void EndProgram() override;
  // Xlib's word that the display has gone; never returns.
  [[noreturn]] static int DisplayLostHandler(void* display);

 private:
  AsideThread aside_;
  void SetIcons(const Pictures& pictures);
  // The scale the desktop asks for, and the largest at which the window fits its screen.
  int DesktopScaleNow();
  int LargestScale();
  void ToggleFullScreen(bool on);
  bool HasWindowManager();
  // X11's own (SdlX11.cpp): the Xft.dpi scale (nullopt off X11), the icon sizes, the error
  // handlers and destroy notices, and whether a notice is of our window.
  std::optional<int> X11DesktopScale();
  void SetX11Icons(const Pictures& pictures);
  void WatchX11();
  bool IsOurWindowDestroyed(const SDL_SysWMmsg* msg);
  // Shows rows [top, bottom] of the last frame; the whole of it, on black, when `all`.
  void Show(int top, int bottom, bool all);
  // What a frame is drawn into: the window's own surface, or the renderer's buffer.
  SDL_Surface* Target();
  [[noreturn]] void Fail(const std::string& what);
  // Ends the game the way a close request does, from wherever the news arrives.
  void WatchForTheEnd();

  SDL_Window* window_ = nullptr;
  int density_ = 1;                        // device pixels a window unit (an output's scale)
  std::unique_ptr<sdl::WaylandFrames> wayland_;  // a Wayland window's frames, in shared memory
  SDL_Renderer* renderer_ = nullptr;       // where neither the window surface nor those can be had
  SDL_Texture* texture_ = nullptr;
  SDL_Surface* buffer_ = nullptr;          // the frame at the buffer's size, as the texture gets it
  std::vector<SDL_GameController*> pads_;  // every gamepad plugged in
  int scale_ = 1;
  bool fullScreen_ = false;
  bool bareFull_ = false;   // full screen made by the window itself, with no window manager
  SDL_Rect windowed_{};     // where the window was before that
  bool redrawAll_ = true;              // the window's surface is new, or was lost
  SDL_Surface* shownOn_ = nullptr;     // the surface the last frame went to
  std::vector<Colour> last_;           // the last frame, as the game drew it
  std::vector<std::uint8_t> inFormat_; // and in the window surface's own pixel format
  unsigned long xWindow_ = 0;
  WindowEvents* events_ = nullptr;  // whom to tell when the display goes away
  int exitStatus_ = 0;
#ifdef QUILLON_SYSTEM_INSTALL
  PosixFileSystem files_{std::nullopt, true};
#else
  PosixFileSystem files_;
#endif
};

}  // namespace quillon
