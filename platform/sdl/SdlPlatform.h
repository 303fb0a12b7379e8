#pragma once

#include <SDL.h>

#include <string>

#include "display/Pictures.h"
#include "game/Platform.h"
#include "platform/posix/PosixFileSystem.h"

namespace quillon {

// The real window, clock and event queue, over SDL2.
class SdlPlatform final : public Platform {
 public:
  // Opens the (hidden) window; false with a one-line reason when there is no display.
  bool Open(const Pictures& pictures, std::string* error);

  std::int32_t Clock() override;
  void PumpEvents(WindowEvents& events) override;
  void WaitForEvents(std::int32_t timeoutMs) override;
  std::string ProgramFolder() override;
  FileSystem& Files() override { return files_; }
  std::uint32_t RandomSeed() override;
  void SetCaption(const std::string& caption) override;
  void SetClientSize(int width, int height) override;
  void ShowWindow() override;
  void ReportUnkeptBest(const std::string& message) override;
  void Present(const Surface& surface) override;
  [[noreturn]] void EndProgram() override;
  // Xlib's word that the display has gone; never returns.
  [[noreturn]] static int DisplayLostHandler(void* display);

 private:
  void SetIcons(const Pictures& pictures);
  // Ends the game the way a close request does, from wherever the news arrives.
  void WatchForTheEnd();

  SDL_Window* window_ = nullptr;
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
