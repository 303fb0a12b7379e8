#include "display/Font.h"
#include "display/Pictures.h"
#include "game/frmMain.h"
#include "platform/web/WebPlatform.h"

int main() {
  static const quillon::Pictures pictures = quillon::LoadPictures();
  static quillon::WebPlatform platform;
  platform.Open(pictures);
  static quillon::frmMain game(platform, pictures, &quillon::Font::BuiltIn());
  game.Run();
}
