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
  bool daily = false;                     // with --run-code: the day's best daily run's instead
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
      } else if (arg == "--daily") {
        line.daily = true;
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
    // The day's run is only ever asked of --run-code.
    if (line.daily && !line.runCode && line.wrong.empty()) line.wrong = "--daily";
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

// What --help lists: the keys, the options, the environment (Linux's) and the exit statuses,
// and what each does. The manual, the metadata and the README say the same.
struct UsageLine {
  const char* what;
  const char* does;
};
inline constexpr UsageLine kUsageLines[] = {
    {"Enter, gamepad A", "start a game; jump high"},
    {"Space, gamepad B or X", "jump low"},
    {"F11", "full screen (F11 or Escape leaves it)"},
    {"W, gamepad Y", "on the title: watch the best run again (Enter or Escape stops it)"},
    {"--scale N, --scale=N", "show each game pixel as N x N screen pixels"},
    {"D, gamepad Start", "on the title: play the daily run, the same round for everyone on a UTC day"},
    {"--run-code", "print the best run's code, to share it, and exit"},
    {"--run-code --daily", "print the code of today's best daily run (UTC), and exit"},
    {"--watch CODE", "play the run a code (or a file holding one) names, then exit"},
    {"--verify CODE", "print the score the run a code names reaches when played again, and exit "
                      "(a code can be made up: this proves the run possible, not played)"},
    {"-h, --help", "show this and exit"},
    {"--version", "show the version and exit"},
};
inline constexpr UsageLine kEnvironmentLines[] = {
    {"WAYLAND_DISPLAY", "the Wayland display to open the window on (preferred)"},
    {"DISPLAY", "the X display, where there is no Wayland one or the game can't start on it"},
    {"SDL_VIDEODRIVER", "x11 or wayland: open the window there and nowhere else"},
    {"GDK_SCALE", "the desktop's scale, a whole number (else the X resource Xft.dpi: 96 is 1)"},
    {"XDG_DATA_HOME", "where the player's data folder lies (by default ~/.local/share)"},
};
inline constexpr UsageLine kExitLines[] = {
    {"0", "the window was closed, or an option did what it says"},
    {"1", "no display, or it was lost; standard output can't be written; a code that names no "
          "round (--verify, --watch); no run kept yet (--run-code, --run-code --daily)"},
    {"2", "an unknown option, or a --scale that is not a whole number the screen can show"},
};

// The usage, as --help shows it in a terminal, in columns; `bestScore` says where the best
// score lives, and `environment` whether the variables that choose a display count here.
inline std::string Usage(const std::string& program, const std::string& bestScore, bool environment = true) {
  std::string text = "Usage: " + program + " [--scale N] [--watch CODE]\n"
                     "       " + program + " --verify CODE | --run-code [--daily]\n"
                     "Quillon: jump a broken car over bullets and catch coins.\n\n";
  const auto table = [&text](const char* heading, const auto& lines) {
    text += heading;
    for (const UsageLine& line : lines) {
      std::string what = line.what;
      what.resize(std::max<std::size_t>(what.size() + 2, 23), ' ');
      text += "  " + what + line.does + "\n";
    }
  };
  table("", kUsageLines);
  if (environment) table("\nEnvironment:\n", kEnvironmentLines);
  table("\nExit status:\n", kExitLines);
  return text + "\nThe best score is kept " + bestScore + ".\n";
}

// The same for a message box, whose font lines nothing up in columns and which breaks its own
// lines: one entry a line, and no breaks of ours inside a sentence.
inline std::string UsageForBox(const std::string& program, const std::string& bestScore) {
  std::string text = "Quillon: jump a broken car over bullets and catch coins.\n\n" + program + " [--scale N]\n\n";
  for (const UsageLine& line : kUsageLines) text += std::string(line.what) + ": " + line.does + "\n";
  text += "\nExit status:\n";
  for (const UsageLine& line : kExitLines) text += std::string(line.what) + ": " + line.does + "\n";
  return text + "\nThe best score is kept " + bestScore + ".";
}

}  // namespace quillon
