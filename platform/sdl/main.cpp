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
  static std::unique_ptr<quillon::Font> font = quillon::Font::Load(&error);
  if (!font) {
    std::fprintf(stderr, "quillon: warning: %s; playing without the score lines\n", error.c_str());
  }
  static quillon::frmMain game(platform, pictures, font.get());
  game.Run();
}
