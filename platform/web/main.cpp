#include "display/Font.h"
#include "display/Pictures.h"
#include "game/Game.h"
#include "platform/web/WebPlatform.h"

int main() {
  static const quillon::Pictures pictures = quillon::LoadPictures();
  static quillon::WebPlatform platform;
  platform.Open(pictures);
  quillon::RunGame(platform, pictures, &quillon::Font::BuiltIn());
}
