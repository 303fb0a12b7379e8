#include "display/Font.h"
#include "display/Pictures.h"
#include "game/frmMain.h"
#include "platform/windows/WinPlatform.h"

// After the game's headers: it defines macros named like the game's raster operations.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  static const quillon::Pictures pictures = quillon::LoadPictures();
  static quillon::WinPlatform platform;
  std::string error;
  if (!platform.Open(instance, pictures, &error)) {
    MessageBoxW(nullptr, quillon::Widen("Quillon: " + error).c_str(), L"Quillon", MB_ICONERROR);
    return 1;
  }
  static quillon::frmMain game(platform, pictures, &quillon::Font::BuiltIn());
  game.Run();
}
