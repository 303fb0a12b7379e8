// The real game over SDL with a recorder in between; see PacingRecorder.h.
#include <fstream>
#include <string>

#include "PacingRecorder.h"
#include "display/Font.h"
#include "platform/sdl/SdlPlatform.h"

namespace {

std::string PeakMemory() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return line.substr(6);
  return "?";
}

}  // namespace

int main() {
  using namespace quillon;
  static const Pictures pictures = LoadPictures();
  static SdlPlatform sdl;
  std::string error;
  if (!sdl.Open(pictures, &error)) {
    std::fprintf(stderr, "probe: %s\n", error.c_str());
    return 1;
  }
  static Recorder recorder(sdl, PeakMemory);
  static frmMain game(recorder, pictures, &Font::BuiltIn());
  recorder.game = &game;
  game.Run();
}
