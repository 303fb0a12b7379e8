#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/Font.h"
#include "display/Pictures.h"
#include "game/Game.h"
#include "platform/CommandLine.h"
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
  if (line.help || line.version) {
    const std::string text = line.help ? quillon::Usage("quillon", best) : "Quillon " QUILLON_VERSION "\n";
    // A full disk or a closed pipe is an error, not a silent success.
    if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
      std::fprintf(stderr, "quillon: cannot write to standard output (%s)\n", std::strerror(errno));
      return 1;
    }
    return 0;
  }
  if (const auto problem = line.ScaleProblem()) {
    std::fprintf(stderr, "quillon: %s\n", problem->c_str());
    return 2;
  }
  static const quillon::Pictures pictures = quillon::LoadPictures();
  static quillon::SdlPlatform platform;
  std::string error;
  if (const int status = platform.Open(pictures, line.scale ? line.scale->c_str() : nullptr, &error); status != 0) {
    std::fprintf(stderr, "quillon: %s\n", error.c_str());
    return status;
  }
  quillon::RunGame(platform, pictures, &quillon::Font::BuiltIn());
}
