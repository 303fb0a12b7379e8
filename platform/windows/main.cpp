#include "display/Font.h"
#include "display/Pictures.h"
#include "game/frmMain.h"
#include "platform/windows/WinPlatform.h"

// After the game's headers: it defines macros named like the game's raster operations.
#include <windows.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // --scale N (or --scale=N): each game pixel N x N screen pixels.
  std::string scale;
  bool scaleGiven = false;
  int argc = 0;
  if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
    for (int i = 1; i < argc; ++i) {
      const std::string arg = quillon::Narrow(argv[i]);
      if (arg == "--scale") {
        scaleGiven = true;
        scale = i + 1 < argc ? quillon::Narrow(argv[++i]) : "";
      } else if (arg.rfind("--scale=", 0) == 0) {
        scaleGiven = true;
        scale = arg.substr(8);
      }
    }
    LocalFree(argv);
  }
  static const quillon::Pictures pictures = quillon::LoadPictures();
  static quillon::WinPlatform platform;
  std::string error;
  if (const int status = platform.Open(instance, pictures, scaleGiven ? scale.c_str() : nullptr, &error); status != 0) {
    MessageBoxW(nullptr, quillon::Widen("Quillon: " + error).c_str(), L"Quillon",
                status == 2 ? MB_ICONWARNING : MB_ICONERROR);
    return status;
  }
  static quillon::frmMain game(platform, pictures, &quillon::Font::BuiltIn());
  game.Run();
}
