#pragma once

// What the game takes on its command line, on Linux and Windows alike.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

struct CommandLine {
  std::optional<std::string> scale;  // --scale N, or --scale=N; empty when no number followed
  bool help = false;
  bool version = false;
  bool runCode = false;                   // --run-code: print the kept best run's code
  std::optional<std::string> verify;      // --verify CODE or FILE
  std::optional<std::string> watch;       // --watch CODE or FILE
  std::string wrong;  // the first argument it does not know

  static CommandLine Parse(const std::vector<std::string>& args) {
    CommandLine line;
    for (std::size_t i = 0; i < args.size(); ++i) {
      const std::string& arg = args[i];
      if (arg == "--help" || arg == "-h") {
        line.help = true;
      } else if (arg == "--version") {
        line.version = true;
      } else if (arg == "--run-code") {
        line.runCode = true;
      } else if (arg == "--verify" || arg == "--watch") {
        (arg == "--verify" ? line.verify : line.watch) = i + 1 < args.size() ? args[++i] : std::string();
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

// What --help lists: the keys and options, and what each does.
struct UsageLine {
  const char* what;
  const char* does;
};
inline constexpr UsageLine kUsageLines[] = {
    {"Enter, gamepad A", "start a game; jump high"},
    {"Space, gamepad B or X", "jump low"},
    {"F11", "full screen (F11 or Escape leaves it)"},
    {"W, gamepad Y", "on the title: watch the best run again (Enter or Escape stops it)"},
    {"--scale N", "show each game pixel as N x N screen pixels"},
    {"--run-code", "print the best run's code, to share it, and exit"},
    {"--watch CODE", "play the run a code (or a file holding one) names, then exit"},
    {"--verify CODE", "print the score the run a code names reaches when played again, and exit "
                      "(a code can be made up: this proves the run possible, not played)"},
    {"--help", "show this and exit"},
    {"--version", "show the version and exit"},
};

// The usage, as --help shows it in a terminal, in columns; `bestScore` says where the best
// score lives.
inline std::string Usage(const std::string& program, const std::string& bestScore) {
  std::string text = "Usage: " + program + " [--scale N] [--watch CODE]\n"
                     "       " + program + " --verify CODE | --run-code\n"
                     "Quillon: jump a broken car over bullets and catch coins.\n\n";
  for (const UsageLine& line : kUsageLines) {
    std::string what = line.what;
    what.resize(std::max<std::size_t>(what.size() + 2, 23), ' ');
    text += "  " + what + line.does + "\n";
  }
  return text + "\nThe best score is kept " + bestScore + ".\n";
}

// The same for a message box, whose font lines nothing up in columns and which breaks its own
// lines: one entry a line, and no breaks of ours inside a sentence.
inline std::string UsageForBox(const std::string& program, const std::string& bestScore) {
  std::string text = "Quillon: jump a broken car over bullets and catch coins.\n\n" + program + " [--scale N]\n\n";
  for (const UsageLine& line : kUsageLines) text += std::string(line.what) + ": " + line.does + "\n";
  return text + "\nThe best score is kept " + bestScore + ".";
}

}  // namespace quillon
