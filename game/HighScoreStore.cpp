#include "game/HighScoreStore.h"

#include <charconv>

namespace quillon {

namespace {

constexpr std::string_view kSection = "QUILLON";
constexpr std::string_view kKey = "HighScore";
constexpr std::string_view kFileName = "Quillon.ini";

}  // namespace

void HighScoreStore::SetFolder(const std::string& appPath) {
  programFile_ = appPath + std::string(kFileName);
  playerFolder_ = files_.DataFolder();
  playerFile_ = playerFolder_.empty() ? std::string() : playerFolder_ + std::string(kFileName);
}

void HighScoreStore::Read(std::int32_t& highScore) const {
  // Once the player has a copy of their own, it is the one that counts.
  FileText file;
  if (!playerFile_.empty()) file = files_.Read(playerFile_);
  if (file.kind != FileText::Kind::Text) file = files_.Read(programFile_);
  if (file.kind != FileText::Kind::Text) file.text.clear();
  const std::string value = FindIniValue(DecodeIni(file.text).body, kSection, kKey, "0", kBufferSize);
  if (const auto score = ParseScore(value)) highScore = *score;
}

WriteOutcome HighScoreStore::Store(const FileText& from, const std::string& to,
                                   std::string_view digits) const {
  IniText text = DecodeIni(from.kind == FileText::Kind::Text ? from.text : std::string());
  text.body = SetIniValue(text.body, kSection, kKey, digits);
  return files_.Replace(to, EncodeIni(text));
}

bool HighScoreStore::Write(std::int32_t highScore) const {
  char buffer[16];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, highScore);
  const std::string_view digits(buffer, static_cast<std::size_t>(result.ptr - buffer));

  if (!playerFile_.empty()) {
    const FileText own = files_.Read(playerFile_);
    if (own.kind == FileText::Kind::Text) return Store(own, playerFile_, digits) == WriteOutcome::Written;
  }
  const FileText beside = files_.Read(programFile_);
  // What could not be read is never replaced.
  if (beside.kind == FileText::Kind::Unreadable) return false;
  const WriteOutcome outcome = beside.kind == FileText::Kind::Other
                                   ? WriteOutcome::NotHere
                                   : Store(beside, programFile_, digits);
  if (outcome != WriteOutcome::NotHere) return outcome == WriteOutcome::Written;
  // The program's folder cannot keep it: the player's own copy starts from what is there.
  if (playerFile_.empty() || !files_.MakeFolder(playerFolder_)) return false;
  return Store(beside, playerFile_, digits) == WriteOutcome::Written;
}

}  // namespace quillon
