#pragma once

#include <cstdint>
#include <string>

#include "game/FileSystem.h"
#include "game/IniText.h"

namespace quillon {

// The best score's file: "Quillon.ini" in the program's folder, or the player's own copy
// in their data folder where the program's folder cannot keep it.
class HighScoreStore {
 public:
  static constexpr std::size_t kBufferSize = 1024;

  explicit HighScoreStore(FileSystem& files) : files_(files) {}

  void SetFolder(const std::string& appPath);
  const std::string& ProgramFile() const { return programFile_; }
  // Empty when the player has no data folder.
  const std::string& PlayerFile() const { return playerFile_; }
  // Leaves highScore unchanged when the stored value is not a number.
  void Read(std::int32_t& highScore) const;
  bool Write(std::int32_t highScore) const;

 private:
  // Sets the score in the text read from one file and writes it to another.
  WriteOutcome Store(const FileText& from, const std::string& to, std::string_view digits) const;

  FileSystem& files_;
  std::string programFile_;
  std::string playerFolder_;
  std::string playerFile_;
};

}  // namespace quillon
