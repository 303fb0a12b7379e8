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

int main(int argc, char** argv) {
  using namespace quillon;
  static const Pictures pictures = LoadPictures();
  static SdlPlatform sdl;
  std::string error;
  // The scale to measure at, as the game's --scale takes it.
  if (sdl.Open(pictures, argc > 1 ? argv[1] : nullptr, &error) != 0) {
    std::fprintf(stderr, "probe: %s\n", error.c_str());
    return 1;
  }
  static Recorder recorder(sdl, PeakMemory);
  static frmMain game(recorder, pictures, &Font::BuiltIn());
  recorder.game = &game;
  game.Run();
}
