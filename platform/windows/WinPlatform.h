#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/AsideThread.h"
#include "display/Pictures.h"
#include "game/HighScoreStore.h"
#include "game/Platform.h"
#include "platform/windows/WinFileSystem.h"
#include "platform/windows/XInputPads.h"

namespace quillon {

// The real window, clock and message queue, over the plain Windows API. <windows.h> stays out
// of this header: its raster-operation macros would clash with the game's own names.
class WinPlatform final : public Platform {
 public:
  // Creates the (hidden) window at the scale asked for (`scale` is the player's --scale, or
  // null for the screen's own); 0, or the exit status with a reason: 1 when the window can't
  // be made, 2 for a scale that is not a whole number from 1 to what fits.
  int Open(void* instance, const Pictures& pictures, const char* scale, std::string* error);

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
  void ReportUnkeptBest(const std::string& message) override { unkept_ = message; }
  void Present(const Surface& surface) override;
  bool RunsAside() const override { return true; }
  void RunAside(const std::function<void()>& job) override { aside_.Run(job); }
  bool AsideDone() override { return aside_.Done(); }
  void WaitAside() override { aside_.Wait(); }
  [[noreturn]] void EndProgram() override;

  // The window's messages, from its window procedure.
  std::intptr_t Handle(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
  void* Window() const { return window_; }

 private:
  AsideThread aside_;
  void Paint(void* dc);
  // The largest scale at which the window fits the usable area of its screen (at a DPI).
  int LargestScale();
  int LargestScaleAt(unsigned dpi);
  // The scale the window takes at a DPI.
  int ScaleAt(unsigned dpi);
  void ToggleFullScreen(bool on);
  // Makes the client area exactly the picture at the scale, however the frame came out.
  void FitClientToScale();

  void* window_ = nullptr;
  void* icons_[2] = {nullptr, nullptr};
  WindowEvents* events_ = nullptr;  // whom the pump delivers to
  std::vector<Colour> frame_;       // the last frame shown, for repaints
  int scale_ = 1;
  bool scaleChosen_ = false;  // the player's --scale holds on every screen
  bool fullScreen_ = false;
  long restore_[4] = {0, 0, 0, 0};  // the window's place before full screen
  std::string unkept_;  // told when the program ends: a window program has no console
  WinFileSystem files_;
  XInputPads pads_{XInputPads::System()};
  std::vector<std::int16_t> padKeys_;  // the pads' presses, delivered as they are read
};

}  // namespace quillon
