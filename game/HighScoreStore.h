#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "game/FileSystem.h"

namespace quillon {

// The best score's file: "Quillon.ini" in the program's folder, or the player's own copy
// in their data folder where the program's folder cannot keep it.
class HighScoreStore {
 public:
  static constexpr std::size_t kBufferSize = 1024;

  explicit HighScoreStore(FileSystem& files) : files_(files) {}

  void SetFolder(const std::string& appPath);
  // Empty where the program's folder is not the player's to keep it in.
  const std::string& ProgramFile() const { return programFile_; }
  // Empty when the player has no data folder.
  const std::string& PlayerFile() const { return playerFile_; }
  // The largest best of every place the player's is kept; highScore is left unchanged when
  // none reads as a number. Rolls forward a new best that a run which died in the middle of its
  // write left behind.
  void Read(std::int32_t& highScore);
  // Keeps the larger of `best` and what every place holds now (another copy of the game may
  // have stored more since this one started) and returns it; nothing when it could not be
  // kept, and Problem() then says where and why, and Busy() whether only the turn never came
  // (try again later).
  std::optional<std::int32_t> Write(std::int32_t best, Patience patience = Patience::Brief);
  const std::string& Problem() const { return problem_; }
  bool Busy() const { return busy_; }

  // The score a run code reaches when played again; nothing for a code that plays no round.
  using Scorer = std::function<std::optional<std::int32_t>(std::string_view code)>;
  // Keeps the run that reached `score`, the best now kept, as a code in "Quillon.run" beside
  // that best, with the same care (a whole file or none, one copy at a time); a run another
  // copy kept that reaches the same score stays, any other is replaced. False when it could
  // not be kept.
  bool KeepRun(const std::string& code, std::int32_t score, const Scorer& scorer, Patience patience);
  // The kept run that reaches the most, of every place; nothing where none plays a round.
  std::optional<std::string> ReadRun(const Scorer& scorer);

 private:
  // The stored best in a file's text; nothing when there is none that reads as a number.
  static std::optional<std::int32_t> StoredBest(const FileText& file);
  // Stores `best` into `path` unless what it holds is as good; raises `best` to what it holds.
  WriteOutcome Merge(const std::string& path, std::int32_t& best, Patience patience,
                     const FileText* start = nullptr);
  void RecoverLeftover(const std::string& path);
  // The run file beside a best's file.
  static std::string RunFile(const std::string& iniPath);
  // A run file's code and the score it reaches; nothing for a missing or foreign file.
  static std::optional<std::pair<std::string, std::int32_t>> StoredRun(const FileText& file, const Scorer& scorer);
  bool Finish(WriteOutcome outcome, const std::string& path);
  bool Keep(std::int32_t& best, Patience patience);

  FileSystem& files_;
  std::string programFile_;
  std::string playerFolder_;
  std::string playerFile_;
  std::string problem_;
  bool busy_ = false;
};

}  // namespace quillon
