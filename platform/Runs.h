#pragma once

// Run codes on the command line, on Linux and Windows alike.
#include <fstream>
#include <optional>
#include <string>

#include "game/HighScoreStore.h"
#include "game/Replay.h"

namespace quillon {

// A code as given: the text itself, or the first line of a file that holds one.
inline std::string CodeArgument(const std::string& arg) {
  std::ifstream file(arg, std::ios::binary);
  std::string line;
  if (arg.empty() || !file || !std::getline(file, line)) return arg;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// The code of the best run the player's places keep; nothing where none does.
inline std::optional<std::string> KeptRunCode(FileSystem& files, const std::string& programFolder,
                                              const Pictures& pictures, const Font* font) {
  HighScoreStore store(files);
  store.SetFolder(programFolder);
  return store.ReadRun([&](std::string_view code) -> std::optional<std::int32_t> {
    std::string problem;
    const auto run = CheckedRun(code, pictures, font, &problem);
    if (!run) return std::nullopt;
    return run->second;
  });
}

}  // namespace quillon
