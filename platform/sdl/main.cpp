#include <cstdio>
#include <memory>
#include <string>

#include "display/Font.h"
#include "display/Pictures.h"
#include "game/frmMain.h"
#include "platform/sdl/SdlPlatform.h"

int main() {
  static const quillon::Pictures pictures = quillon::LoadPictures();
  static quillon::SdlPlatform platform;
  std::string error;
  if (!platform.Open(pictures, &error)) {
    std::fprintf(stderr, "quillon: %s\n", error.c_str());
    return 1;
  }
  static quillon::frmMain game(platform, pictures, &quillon::Font::BuiltIn());
  game.Run();
}
