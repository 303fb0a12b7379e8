#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "game/Daily.h"
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
  // none reads as a number. False while a place could not be read in time (another copy or
  // program holds it): the best is not known yet, however much the others hold, so read again
  // later. Rolls forward a new best that a run which died in the middle of its write left.
  bool Read(std::int32_t& highScore, Patience patience = Patience::Long);

  // The score a run code reaches when played again; nothing for a code that plays no round.
  using Scorer = std::function<std::optional<std::int32_t>(std::string_view code)>;
  // Keeps the larger of `best` and what every place holds now (another copy of the game may
  // have stored more since this one started) and returns it; nothing when it could not be
  // kept, and Problem() then says where and why, and Busy() whether only the turn never came
  // (try again later). `run`, a code that reaches `best` by `scorer`, goes into "Quillon.run"
  // beside it in the same turn, so that a kept run is always the best's beside it; where it
  // can't be kept there, both go to the player's own folder. RunKept() says whether the best
  // kept has its run now.
  std::optional<std::int32_t> Write(std::int32_t best, Patience patience = Patience::Brief, const std::string& run = {},
                                    const Scorer& scorer = {});
  const std::string& Problem() const { return problem_; }
  bool Busy() const { return busy_; }
  bool RunKept() const { return runKept_; }
  // The kept run that reaches the most, of every place, among those that reach the best kept
  // beside them; nothing where none does.
  std::optional<std::string> ReadRun(const Scorer& scorer, Patience patience = Patience::Brief);

  // The day's best daily run, in "Quillon.daily": in the player's data folder, or beside the
  // program where they have none. `scorer` scores the day's runs alone, so that one of another
  // day is replaced and never counts. True when the day's best is kept there (this run, or a
  // better one that was); Problem() says why not.
  bool KeepDaily(const std::string& run, const Scorer& scorer, Patience patience = Patience::Brief);
  // The day's best daily run of every place; nothing where none holds one of the day.
  std::optional<std::string> ReadDaily(const Scorer& scorer, Patience patience = Patience::Brief);
  // KeepDaily for the day's run of `day`: what the desktops keep.
  bool KeepDailyRunFile(const std::string& run, const Date& day, Patience patience);

 private:
  // How a store went in one place.
  enum class Went { Kept, Busy, Refused, Elsewhere };
  // The stored best in a file's text; nothing when there is none that reads as a number.
  static std::optional<std::int32_t> StoredBest(const FileText& file);
  // Stores `best` into `path` unless what it holds is as good; raises `best` to what it holds.
  // With a run to keep, the run goes beside it in the same turn.
  WriteOutcome Merge(const std::string& path, std::int32_t& best, Patience patience, const FileText* start = nullptr,
                     FileSystem::Companion* run = nullptr);
  Went At(const std::string& path, std::int32_t& best, Patience patience, const FileText* start);
  void RecoverLeftover(const std::string& path, Patience patience);
  // The run file beside a best's file, and any other file there.
  static std::string RunFile(const std::string& iniPath);
  static std::string Beside(const std::string& iniPath, std::string_view name);
  // A run file's code and the score it reaches; nothing for a missing or foreign file.
  // Where the daily run is kept: the player's own folder first.
  std::vector<std::string> DailyFiles() const;
  static std::optional<std::pair<std::string, std::int32_t>> StoredRun(const FileText& file, const Scorer& scorer);
  bool Finish(WriteOutcome outcome, const std::string& path);
  bool Keep(std::int32_t& best, Patience patience);

  FileSystem& files_;
  std::string programFile_;
  std::string playerFolder_;
  std::string playerFile_;
  std::string problem_;
  bool busy_ = false;
  bool runKept_ = false;
  bool keptBest_ = false;  // the best went in somewhere, though its run did not
  // The run being stored and what it reaches, for the length of one Write.
  const std::string* run_ = nullptr;
  const Scorer* scorer_ = nullptr;
  std::optional<std::int32_t> runScore_;
};

}  // namespace quillon
