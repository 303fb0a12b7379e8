#include "game/HighScoreStore.h"

#include <charconv>

#include "game/IniText.h"
#include "game/RunCode.h"
#include "game/ScoreText.h"
#include "game/TextEncoding.h"

namespace quillon {

namespace {

constexpr std::string_view kSection = "QUILLON";
constexpr std::string_view kKey = "HighScore";
constexpr std::string_view kFileName = "Quillon.ini";
constexpr std::string_view kRunFileName = "Quillon.run";
constexpr std::string_view kDailyFileName = "Quillon.daily";

std::string Digits(std::int32_t value) {
  char buffer[16];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

const std::string& TextOf(const FileText& file) {
  static const std::string none;
  return file.kind == FileText::Kind::Text ? file.text : none;
}

// The file's text with another best score in it, every other byte as it was.
std::string WithBest(const FileText& file, std::int32_t best) {
  DecodedText text = DecodeIni(TextOf(file));
  text.body = SetIniValue(text.body, kSection, kKey, Digits(best));
  return EncodeIni(text);
}

}  // namespace

void HighScoreStore::SetFolder(const std::string& appPath) {
  programFile_ = files_.DataFolderOnly() ? std::string() : appPath + std::string(kFileName);
  playerFolder_ = files_.DataFolder();
  playerFile_ = playerFolder_.empty() ? std::string() : playerFolder_ + std::string(kFileName);
}

std::optional<std::int32_t> HighScoreStore::StoredBest(const FileText& file) {
  return ParseScore(FindIniValue(DecodeIni(TextOf(file)).body, kSection, kKey, "", kBufferSize));
}

void HighScoreStore::RecoverLeftover(const std::string& path, Patience patience) {
  if (path.empty()) return;
  const std::optional<std::string> left = files_.Leftover(path);
  if (!left) return;
  const FileText now = files_.Read(path, patience);
  const auto best = StoredBest(FileText{FileText::Kind::Text, *left});
  // Only a whole one counts: exactly the stored file with another best in it.
  if (best && (now.kind == FileText::Kind::Text || now.kind == FileText::Kind::Absent) &&
      WithBest(now, *best) == *left) {
    std::int32_t kept = *best;
    // Kept for another try when the file's turn did not come.
    if (Merge(path, kept, Patience::Brief) == WriteOutcome::Busy) return;
  }
  if (now.kind != FileText::Kind::Busy) files_.DropLeftover(path);
}

bool HighScoreStore::Read(std::int32_t& highScore, Patience patience) {
  RecoverLeftover(playerFile_, patience);
  RecoverLeftover(programFile_, patience);
  // Every place counts, the largest shown; one that can't be read now is read again next time,
  // so a moment when it couldn't never hides its best for good. One held past the wait may
  // hold more than all the others: the best is not known until it is read.
  bool found = false, known = true;
  std::optional<std::int32_t> best;
  for (const std::string* path : {&playerFile_, &programFile_}) {
    if (path->empty()) continue;
    const FileText file = files_.Read(*path, patience);
    if (file.kind == FileText::Kind::Busy) known = false;
    if (file.kind != FileText::Kind::Text) continue;
    found = true;
    const auto score = ParseScore(FindIniValue(DecodeIni(file.text).body, kSection, kKey, "0", kBufferSize));
    if (score && (!best || *score > *best)) best = score;
  }
  if (!found && known) best = 0;  // no file anywhere: the default
  if (best) highScore = *best;
  return known;
}

WriteOutcome HighScoreStore::Merge(const std::string& path, std::int32_t& best, Patience patience,
                                   const FileText* start, FileSystem::Companion* run) {
  return files_.Update(path, [&](const FileText& now) -> std::optional<std::string> {
    // A copy of its own starts from the file beside the program.
    const FileText& from = start != nullptr && now.kind == FileText::Kind::Absent ? *start : now;
    if (const auto stored = StoredBest(from); stored && *stored >= best) {
      best = *stored;
      if (&from == &now) return std::nullopt;
    }
    return WithBest(from, best);
  }, patience, run, &path == &programFile_);
}

bool HighScoreStore::Finish(WriteOutcome outcome, const std::string& path) {
  busy_ = outcome == WriteOutcome::Busy;
  switch (outcome) {
    case WriteOutcome::Written:
    case WriteOutcome::Kept:
      return true;
    case WriteOutcome::Refused:
      problem_ = path + ": the file is read-only";
      break;
    case WriteOutcome::NotHere:
      problem_ = path + ": " + (files_.LastError().empty() ? "cannot be written there" : files_.LastError());
      break;
    case WriteOutcome::Failed:
    case WriteOutcome::Busy:
      problem_ = path + ": " + (files_.LastError().empty() ? "the write failed" : files_.LastError());
      break;
  }
  return false;
}

std::optional<std::int32_t> HighScoreStore::Write(std::int32_t best, Patience patience, const std::string& run,
                                                  const Scorer& scorer) {
  problem_.clear();
  busy_ = runKept_ = keptBest_ = false;
  // A run that does not reach the best it is kept for would only mislead whoever watches it.
  run_ = &run;
  scorer_ = &scorer;
  runScore_ = run.empty() || !scorer ? std::nullopt : scorer(run);
  if (runScore_ != best) runScore_.reset();
  // A place that can be read at once may hold more than this run has seen (one held now is
  // merged in its turn, or counts when it is read again).
  for (const std::string* path : {&playerFile_, &programFile_}) {
    if (path->empty()) continue;
    if (const auto stored = StoredBest(files_.Read(*path, Patience::Now)); stored && *stored > best) best = *stored;
  }
  const bool kept = Keep(best, patience);
  run_ = nullptr;
  scorer_ = nullptr;
  if (!kept) return std::nullopt;
  return best;
}

HighScoreStore::Went HighScoreStore::At(const std::string& path, std::int32_t& best, Patience patience,
                                        const FileText* start) {
  // The run goes in only where the best kept is the one it reaches; one another copy kept for
  // that same best stays. One that reaches another score is not this best's run (a planted or
  // forged code, or one a store left behind) and never blocks it.
  bool wanted = false, held = false;
  FileSystem::Companion run{RunFile(path), [&](const FileText& now) -> std::optional<std::string> {
    wanted = runScore_ == best;
    if (const auto stored = StoredRun(now, *scorer_); stored && stored->second == best) {
      held = true;
      return std::nullopt;
    }
    if (!wanted) return std::nullopt;
    return *run_ + "\n";
  }};
  const WriteOutcome outcome = Merge(path, best, patience, start, runScore_ ? &run : nullptr);
  if (!Finish(outcome, path)) {
    if (outcome == WriteOutcome::Busy) return Went::Busy;
    return outcome == WriteOutcome::Refused ? Went::Refused : Went::Elsewhere;
  }
  keptBest_ = true;
  if (!wanted || run.outcome == WriteOutcome::Written || held) {
    runKept_ = held || (wanted && run.outcome == WriteOutcome::Written);
    problem_.clear();
    return Went::Kept;
  }
  problem_ = run.path + ": " + (files_.LastError().empty() ? "cannot be written there" : files_.LastError());
  return Went::Elsewhere;
}

bool HighScoreStore::Keep(std::int32_t& best, Patience patience) {
  if (!playerFile_.empty()) {
    const FileText::Kind own = files_.Read(playerFile_, Patience::Now).kind;
    if (own == FileText::Kind::Text || own == FileText::Kind::Busy) {
      const Went went = At(playerFile_, best, patience, nullptr);
      return went == Went::Kept || keptBest_;
    }
  }
  if (!programFile_.empty()) {
    // Whoever holds the program's folder up can delay the best, not lose it: as the program
    // ends, it goes to the player's own copy instead; so does a best (or its run) that the
    // folder can't take, for want of room or right.
    const Went went = At(programFile_, best, patience, nullptr);
    if (went == Went::Kept || went == Went::Refused) return went == Went::Kept;
    if (went == Went::Busy && patience != Patience::Long) return false;
    busy_ = false;
  }
  // The program's folder cannot keep them: the player's own copy starts from what is there.
  if (playerFile_.empty()) {
    problem_ = (programFile_.empty() ? std::string() : problem_ + "; ") + "the player has no data folder";
    return keptBest_;
  }
  if (!files_.MakeFolder(playerFolder_)) {
    problem_ = playerFolder_ + ": the folder cannot be made";
    return keptBest_;
  }
  // The file beside the program may still be read, though not changed; only the text of a
  // file that was read whole goes along.
  FileText beside = programFile_.empty() ? FileText{} : files_.Read(programFile_, Patience::Now);
  if (beside.kind != FileText::Kind::Text) beside = FileText{};
  const std::string before = problem_;
  const Went went = At(playerFile_, best, patience, &beside);
  if (went != Went::Kept && !before.empty()) problem_ = before + "; " + problem_;
  return went == Went::Kept || keptBest_;
}

std::string HighScoreStore::RunFile(const std::string& iniPath) {
  return Beside(iniPath, kRunFileName);
}

std::string HighScoreStore::Beside(const std::string& iniPath, std::string_view name) {
  return iniPath.substr(0, iniPath.size() - kFileName.size()) + std::string(name);
}

std::optional<std::pair<std::string, std::int32_t>> HighScoreStore::StoredRun(const FileText& file,
                                                                               const Scorer& scorer) {
  if (file.kind != FileText::Kind::Text || !scorer) return std::nullopt;
  // The first line is the code; a code too long to be one is no run.
  std::string code = file.text.substr(0, file.text.find_first_of("\r\n"));
  if (code.size() > kMaxRunCodeLength) return std::nullopt;
  const auto score = scorer(code);
  if (!score) return std::nullopt;
  return std::pair{std::move(code), *score};
}

std::optional<std::string> HighScoreStore::ReadRun(const Scorer& scorer, Patience patience) {
  std::optional<std::pair<std::string, std::int32_t>> best;
  for (const std::string* path : {&playerFile_, &programFile_}) {
    if (path->empty()) continue;
    // Only the run of the best beside it: one left by a store that never got its best in
    // belongs to no best.
    const auto stored = StoredBest(files_.Read(*path, patience));
    if (!stored) continue;
    const auto run = StoredRun(files_.Read(RunFile(*path), patience), scorer);
    if (run && run->second == *stored && (!best || run->second > best->second)) best = run;
  }
  if (!best) return std::nullopt;
  return best->first;
}

std::vector<std::string> HighScoreStore::DailyFiles() const {
  std::vector<std::string> files;
  if (!playerFolder_.empty()) files.push_back(playerFolder_ + std::string(kDailyFileName));
  if (!programFile_.empty()) files.push_back(Beside(programFile_, kDailyFileName));
  return files;
}

bool HighScoreStore::KeepDaily(const std::string& run, const Scorer& scorer, Patience patience) {
  problem_.clear();
  const auto score = scorer(run);
  if (!score) {
    problem_ = "the run is not the day's";
    return false;
  }
  const std::vector<std::string> files = DailyFiles();
  if (files.empty()) {
    problem_ = "the player has no data folder";
    return false;
  }
  // The player's folder where there is one; beside the program only where there is none.
  const std::string& path = files.front();
  if (!playerFolder_.empty() && !files_.MakeFolder(playerFolder_)) {
    problem_ = playerFolder_ + ": the folder cannot be made";
    return false;
  }
  const WriteOutcome outcome = files_.Update(
      path,
      [&](const FileText& now) -> std::optional<std::string> {
        const auto stored = StoredRun(now, scorer);
        if (stored && stored->second >= *score) return std::nullopt;
        return run + "\n";
      },
      patience);
  return Finish(outcome, path);
}

bool HighScoreStore::KeepDailyRunFile(const std::string& run, const Date& day, Patience patience) {
  return KeepDaily(run, [day](std::string_view code) { return ScoreOfDailyRun(code, day); }, patience);
}

std::optional<std::string> HighScoreStore::ReadDaily(const Scorer& scorer, Patience patience) {
  std::optional<std::pair<std::string, std::int32_t>> best;
  for (const std::string& path : DailyFiles()) {
    const auto run = StoredRun(files_.Read(path, patience), scorer);
    if (run && (!best || run->second > best->second)) best = run;
  }
  if (!best) return std::nullopt;
  return best->first;
}

}  // namespace quillon
