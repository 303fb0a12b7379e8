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

void HighScoreStore::RecoverLeftover(const std::string& path) {
  if (path.empty()) return;
  const std::optional<std::string> left = files_.Leftover(path);
  if (!left) return;
  const FileText now = files_.Read(path);
  const auto best = StoredBest(FileText{FileText::Kind::Text, *left});
  // Only a whole one counts: exactly the stored file with another best in it.
  if (best && (now.kind == FileText::Kind::Text || now.kind == FileText::Kind::Absent) &&
      WithBest(now, *best) == *left) {
    std::int32_t kept = *best;
    // Kept for another try when the file's turn did not come.
    if (Merge(path, kept, Patience::Brief) == WriteOutcome::Busy) return;
  }
  files_.DropLeftover(path);
}

void HighScoreStore::Read(std::int32_t& highScore) {
  RecoverLeftover(playerFile_);
  RecoverLeftover(programFile_);
  // Every place counts, the largest shown: one that can't be read now is read again next time,
  // so a moment when it couldn't never hides its best for good.
  bool found = false;
  std::optional<std::int32_t> best;
  for (const std::string* path : {&playerFile_, &programFile_}) {
    if (path->empty()) continue;
    const FileText file = files_.Read(*path);
    if (file.kind != FileText::Kind::Text) continue;
    found = true;
    const auto score = ParseScore(FindIniValue(DecodeIni(file.text).body, kSection, kKey, "0", kBufferSize));
    if (score && (!best || *score > *best)) best = score;
  }
  if (!found) best = 0;  // no file anywhere: the default
  if (best) highScore = *best;
}

WriteOutcome HighScoreStore::Merge(const std::string& path, std::int32_t& best, Patience patience,
                                   const FileText* start) {
  return files_.Update(path, [&](const FileText& now) -> std::optional<std::string> {
    // A copy of its own starts from the file beside the program.
    const FileText& from = start != nullptr && now.kind == FileText::Kind::Absent ? *start : now;
    if (const auto stored = StoredBest(from); stored && *stored >= best) {
      best = *stored;
      if (&from == &now) return std::nullopt;
    }
    return WithBest(from, best);
  }, patience);
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

std::optional<std::int32_t> HighScoreStore::Write(std::int32_t best, Patience patience) {
  problem_.clear();
  busy_ = false;
  // A place that can be read again now may hold more than this run has seen.
  for (const std::string* path : {&playerFile_, &programFile_}) {
    if (path->empty()) continue;
    if (const auto stored = StoredBest(files_.Read(*path)); stored && *stored > best) best = *stored;
  }
  if (!Keep(best, patience)) return std::nullopt;
  return best;
}

bool HighScoreStore::Keep(std::int32_t& best, Patience patience) {
  if (!playerFile_.empty()) {
    const FileText::Kind own = files_.Read(playerFile_).kind;
    if (own == FileText::Kind::Text || own == FileText::Kind::Busy) {
      return Finish(Merge(playerFile_, best, patience), playerFile_);
    }
  }
  if (!programFile_.empty()) {
    const WriteOutcome outcome = Merge(programFile_, best, patience);
    // Whoever holds the program's folder up can delay the best, not lose it: as the program
    // ends, it goes to the player's own copy instead.
    const bool moveOn = outcome == WriteOutcome::NotHere || (outcome == WriteOutcome::Busy && patience == Patience::Long);
    if (!moveOn) return Finish(outcome, programFile_);
    Finish(outcome, programFile_);
    busy_ = false;
  }
  // The program's folder cannot keep it: the player's own copy starts from what is there.
  if (playerFile_.empty()) {
    problem_ = (programFile_.empty() ? std::string() : problem_ + "; ") + "the player has no data folder";
    return false;
  }
  if (!files_.MakeFolder(playerFolder_)) {
    problem_ = playerFolder_ + ": the folder cannot be made";
    return false;
  }
  // The file beside the program may still be read, though not changed; only the text of a
  // file that was read whole goes along.
  FileText beside = programFile_.empty() ? FileText{} : files_.Read(programFile_);
  if (beside.kind != FileText::Kind::Text) beside = FileText{};
  return Finish(Merge(playerFile_, best, patience, &beside), playerFile_);
}

std::string HighScoreStore::RunFile(const std::string& iniPath) {
  return iniPath.substr(0, iniPath.size() - kFileName.size()) + std::string(kRunFileName);
}

std::optional<std::pair<std::string, std::int32_t>> HighScoreStore::StoredRun(const FileText& file,
                                                                               const Scorer& scorer) {
  if (file.kind != FileText::Kind::Text) return std::nullopt;
  // The first line is the code; a code too long to be one is no run.
  std::string code = file.text.substr(0, file.text.find_first_of("\r\n"));
  if (code.size() > kMaxRunCodeLength) return std::nullopt;
  const auto score = scorer(code);
  if (!score) return std::nullopt;
  return std::pair{std::move(code), *score};
}

bool HighScoreStore::KeepRun(const std::string& code, std::int32_t score, const Scorer& scorer, Patience patience) {
  // Beside the best just kept: the player's own copy where there is one, else the program's.
  const bool own = !playerFile_.empty() && files_.Read(playerFile_).kind == FileText::Kind::Text;
  const std::string& ini = own ? playerFile_ : programFile_;
  // A run that does not reach the best it is kept for would only mislead whoever watches it.
  if (ini.empty() || scorer(code) != score) return false;
  const WriteOutcome outcome = files_.Update(RunFile(ini), [&](const FileText& now) -> std::optional<std::string> {
    // One another copy kept for this same best stays; one that reaches another score is not
    // this best's run (a planted or forged code) and never blocks it.
    if (const auto stored = StoredRun(now, scorer); stored && stored->second == score) return std::nullopt;
    return code + "\n";
  }, patience);
  return outcome == WriteOutcome::Written || outcome == WriteOutcome::Kept;
}

std::optional<std::string> HighScoreStore::ReadRun(const Scorer& scorer) {
  std::optional<std::pair<std::string, std::int32_t>> best;
  for (const std::string* path : {&playerFile_, &programFile_}) {
    if (path->empty()) continue;
    const auto run = StoredRun(files_.Read(RunFile(*path)), scorer);
    if (run && (!best || run->second > best->second)) best = run;
  }
  if (!best) return std::nullopt;
  return best->first;
}

}  // namespace quillon
