#include <cstdio>
#include <memory>
#include <string>

#include "display/Font.h"
#include "display/Pictures.h"
#include "game/frmMain.h"
#include "platform/sdl/SdlPlatform.h"

int main(int argc, char** argv) {
  // --scale N (or --scale=N): each game pixel N x N screen pixels.
  const char* scale = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--scale") {
      scale = i + 1 < argc ? argv[++i] : "";
    } else if (arg.rfind("--scale=", 0) == 0) {
      scale = argv[i] + 8;
    }
  }
  static const quillon::Pictures pictures = quillon::LoadPictures();
  static quillon::SdlPlatform platform;
  std::string error;
  if (const int status = platform.Open(pictures, scale, &error); status != 0) {
    std::fprintf(stderr, "quillon: %s\n", error.c_str());
    return status;
  }
  static quillon::frmMain game(platform, pictures, &quillon::Font::BuiltIn());
  game.Run();
}
