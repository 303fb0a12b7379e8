// The real game over the Windows API with a recorder in between; see PacingRecorder.h.
#include <string>

#include "PacingRecorder.h"
#include "display/Font.h"
#include "platform/windows/WinPlatform.h"

// After the game's headers: it defines macros named like the game's raster operations.
#include <windows.h>
#include <psapi.h>

namespace {

std::string PeakMemory() {
  PROCESS_MEMORY_COUNTERS counters{};
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return "?";
  return std::to_string(counters.PeakWorkingSetSize / 1024) + " kB";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using namespace quillon;
  static const Pictures pictures = LoadPictures();
  static WinPlatform windows;
  std::string error;
  if (windows.Open(instance, pictures, nullptr, &error) != 0) return 1;
  static Recorder recorder(windows, PeakMemory);
  static frmMain game(recorder, pictures, &Font::BuiltIn());
  recorder.game = &game;
  game.Run();
}
