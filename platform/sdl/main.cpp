#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "display/Font.h"
#include "display/Pictures.h"
#include "game/Game.h"
#include "platform/CommandLine.h"
#include "platform/Runs.h"
#include "platform/sdl/SdlPlatform.h"

int main(int argc, char** argv) {
  const auto line = quillon::CommandLine::Parse(std::vector<std::string>(argv + 1, argv + argc));
#ifdef QUILLON_SYSTEM_INSTALL
  const std::string best = "in $XDG_DATA_HOME/quillon/Quillon.ini (by default ~/.local/share/quillon/)";
#else
  const std::string best = "in Quillon.ini beside the program, or in $XDG_DATA_HOME/quillon/\n"
                           "(by default ~/.local/share/quillon/) where that folder can't keep it";
#endif
  if (!line.wrong.empty()) {
    std::fprintf(stderr, "quillon: unknown option \"%s\"\n%s", line.wrong.c_str(),
                 quillon::Usage("quillon", best).c_str());
    return 2;
  }
  static const quillon::Pictures pictures = quillon::LoadPictures();
  static quillon::SdlPlatform platform;
  const quillon::Font* font = &quillon::Font::BuiltIn();
  std::string say;  // what goes to standard output
  if (line.help || line.version) {
    say = line.help ? quillon::Usage("quillon", best) : "Quillon " QUILLON_VERSION "\n";
  } else if (line.verify) {
    std::string problem;
    const auto checked = quillon::RunArgument(*line.verify, &problem);
    if (!checked) {
      std::fprintf(stderr, "quillon: %s\n", problem.c_str());
      return 1;
    }
    say = std::to_string(checked->score) + "\n";
  } else if (line.runCode) {
    const auto code = line.daily ? quillon::KeptDailyCode(platform.Files(), platform.ProgramFolder(), platform.UtcSeconds())
                                 : quillon::KeptRunCode(platform.Files(), platform.ProgramFolder());
    if (!code) {
      std::fprintf(stderr, "quillon: %s\n", quillon::NoRunKept(line.daily).c_str());
      return 1;
    }
    say = *code + "\n";
  }
  if (!say.empty()) {
    // A full disk or a closed pipe is an error, not a silent success.
    if (std::fputs(say.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
      std::fprintf(stderr, "quillon: cannot write to standard output (%s)\n", std::strerror(errno));
      return 1;
    }
    return 0;
  }
  if (const auto problem = line.ScaleProblem()) {
    std::fprintf(stderr, "quillon: %s\n", problem->c_str());
    return 2;
  }
  std::optional<quillon::RunRecord> watch;
  if (line.watch) {
    // A code that names no round is said before any window opens.
    std::string problem;
    auto checked = quillon::RunArgument(*line.watch, &problem);
    if (!checked) {
      std::fprintf(stderr, "quillon: %s\n", problem.c_str());
      return 1;
    }
    watch = std::move(checked->run);
  }
  std::string error;
  if (const int status = platform.Open(pictures, line.scale ? line.scale->c_str() : nullptr, &error); status != 0) {
    std::fprintf(stderr, "quillon: %s\n", error.c_str());
    return status;
  }
  if (watch) quillon::WatchGame(platform, pictures, font, *watch);
  quillon::RunGame(platform, pictures, font);
}
