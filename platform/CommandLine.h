#pragma once

// What the game takes on its command line, on Linux and Windows alike.
#include <optional>
#include <string>
#include <vector>

namespace quillon {

struct CommandLine {
  std::optional<std::string> scale;  // --scale N, or --scale=N; empty when no number followed
  bool help = false;
  bool version = false;
  std::string wrong;  // the first argument it does not know

  static CommandLine Parse(const std::vector<std::string>& args) {
    CommandLine line;
    for (std::size_t i = 0; i < args.size(); ++i) {
      const std::string& arg = args[i];
      if (arg == "--help" || arg == "-h") {
        line.help = true;
      } else if (arg == "--version") {
        line.version = true;
      } else if (arg == "--scale") {
        line.scale = i + 1 < args.size() ? args[++i] : std::string();
      } else if (arg.rfind("--scale=", 0) == 0) {
        line.scale = arg.substr(8);
      } else if (line.wrong.empty()) {
        line.wrong = arg;
      }
    }
    return line;
  }

  // What is wrong with --scale before any screen is asked (whether it fits one is known only
  // with a display); nothing when it is a whole number from 1 up, or not given.
  std::optional<std::string> ScaleProblem() const {
    if (!scale) return std::nullopt;
    if (scale->empty()) return "--scale needs a whole number";
    bool digits = true;
    for (char c : *scale) digits = digits && c >= '0' && c <= '9';
    if (digits && scale->find_first_not_of('0') != std::string::npos) return std::nullopt;
    return "--scale takes a whole number from 1 up, not \"" + *scale + "\"";
  }
};

// The usage, as --help shows it; `bestScore` says where the best score lives.
inline std::string Usage(const std::string& program, const std::string& bestScore) {
  return "Usage: " + program + " [--scale N]\n"
         "Quillon: jump a broken car over bullets and catch coins.\n"
         "\n"
         "  Enter, gamepad A       start a game; jump high\n"
         "  Space, gamepad B or X  jump low\n"
         "  F11                    full screen (F11 or Escape leaves it)\n"
         "  --scale N              show each game pixel as N x N screen pixels\n"
         "  --help                 show this and exit\n"
         "  --version              show the version and exit\n"
         "\n"
         "The best score is kept " + bestScore + ".\n";
}

}  // namespace quillon
