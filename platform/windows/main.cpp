#include "display/Font.h"
#include "display/Pictures.h"
#include "game/Game.h"
#include "platform/CommandLine.h"
#include "platform/Runs.h"
#include "platform/windows/WinPlatform.h"

// After the game's headers: it defines macros named like the game's raster operations.
#include <windows.h>
#include <shellapi.h>

namespace {

int Say(const std::string& text, UINT icon) {
  MessageBoxW(nullptr, quillon::Widen(text).c_str(), L"Quillon", icon | MB_OK);
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Held from the first instruction to the last, message boxes too: while it is, the installer
  // and uninstaller touch no file, and this copy's program file is never half replaced.
  CreateMutexW(nullptr, FALSE, L"Quillon.Running");
  std::vector<std::string> args;
  int argc = 0;
  if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
    for (int i = 1; i < argc; ++i) args.push_back(quillon::Narrow(argv[i]));
    LocalFree(argv);
  }
  const auto line = quillon::CommandLine::Parse(args);
  // A window program has no console: what a console program prints goes into a message box.
  const std::string best = "in Quillon.ini beside quillon.exe, or in %LOCALAPPDATA%\\Quillon\\ where that folder "
                           "can't keep it";
  if (!line.wrong.empty()) {
    Say("Unknown option \"" + line.wrong + "\".\n\n" + quillon::UsageForBox("quillon.exe", best), MB_ICONWARNING);
    return 2;
  }
  if (line.help) return Say(quillon::UsageForBox("quillon.exe", best), MB_ICONINFORMATION);
  if (line.version) return Say("Quillon " QUILLON_VERSION, MB_ICONINFORMATION);
  static const quillon::Pictures pictures = quillon::LoadPictures();
  static quillon::WinPlatform platform;
  const quillon::Font* font = &quillon::Font::BuiltIn();
  // Runs: checked, shown (a message box's text can be copied with Ctrl+C) or watched; a code
  // that names no round is said before any window opens.
  std::optional<quillon::RunRecord> watch;
  if (line.verify || line.watch) {
    std::string problem;
    auto checked = quillon::RunArgument(line.verify ? *line.verify : *line.watch, &problem);
    if (!checked) {
      Say("Quillon: " + problem + ".", MB_ICONWARNING);
      return 1;
    }
    if (line.verify) return Say("This run reaches " + std::to_string(checked->score) + " points.", MB_ICONINFORMATION);
    watch = std::move(checked->run);
  }
  if (line.runCode) {
    const auto code = line.daily ? quillon::KeptDailyCode(platform.Files(), platform.ProgramFolder(), platform.UtcSeconds())
                                 : quillon::KeptRunCode(platform.Files(), platform.ProgramFolder());
    if (!code) {
      Say("Quillon: " + quillon::NoRunKept(line.daily) + ".", MB_ICONWARNING);
      return 1;
    }
    return Say(*code, MB_ICONINFORMATION);
  }
  if (const auto problem = line.ScaleProblem()) {
    MessageBoxW(nullptr, quillon::Widen("Quillon: " + *problem).c_str(), L"Quillon", MB_ICONWARNING);
    return 2;
  }
  std::string error;
  if (const int status = platform.Open(instance, pictures, line.scale ? line.scale->c_str() : nullptr, &error);
      status != 0) {
    MessageBoxW(nullptr, quillon::Widen("Quillon: " + error).c_str(), L"Quillon",
                status == 2 ? MB_ICONWARNING : MB_ICONERROR);
    return status;
  }
  if (watch) quillon::WatchGame(platform, pictures, font, *watch);
  quillon::RunGame(platform, pictures, font);
}
