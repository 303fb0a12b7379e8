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

// The run a code names and the score it reaches, played again with no window; nothing, with
// the reason in `problem`, for a code that names no round that could have been played.
inline std::optional<std::pair<RunRecord, std::int32_t>> CheckedRun(const std::string& code, const Pictures& pictures,
                                                                  const Font* font, std::string* problem) {
  ParsedRun parsed = ParseRunCode(code);
  if (!parsed.run) {
    *problem = parsed.problem;
    return std::nullopt;
  }
  const auto replayed = Simulate(*parsed.run, pictures, font, nullptr, problem);
  if (!replayed) return std::nullopt;
  return std::pair{std::move(*parsed.run), replayed->score};
}

// The code of the best run the player's places keep; nothing where none does.
inline std::optional<std::string> KeptRunCode(FileSystem& files, const std::string& programFolder,
                                              const Pictures& pictures, const Font* font) {
  HighScoreStore store(files);
  store.SetFolder(programFolder);
  return store.ReadRun([&](std::string_view code) -> std::optional<std::int32_t> {
    std::string problem;
    const auto run = CheckedRun(std::string(code), pictures, font, &problem);
    if (!run) return std::nullopt;
    return run->second;
  });
}

}  // namespace quillon
