#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// Reads a key of an INI file the way Windows' profile calls do: section and key names
// match without regard to case, blanks around them and the value are dropped, and the
// value is cut to bufferSize - 1 characters. The default when anything is missing.
std::string ReadIniValue(const std::string& file, std::string_view section, std::string_view key,
                         std::string_view fallback, std::size_t bufferSize);

// The same lookup over text already in memory.
std::string FindIniValue(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view fallback, std::size_t bufferSize);

// Returns the text with the key set, creating section and key as needed; every other
// byte of the text stays as it was.
std::string SetIniValue(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value);

// Sets the key through a new file renamed over the old one, so the file on disk is always
// either the old one or the new one, never a torn mix. False when it could not be written.
bool WriteIniValue(const std::string& file, std::string_view section, std::string_view key,
                   std::string_view value);

// A stored best score: a decimal number with optional blanks, sign, fraction and exponent,
// read with a decimal point whatever the locale and rounded toward minus infinity.
// Empty when the text is not a number or the result does not fit 32 bits.
std::optional<std::int32_t> ParseScore(std::string_view text);

// The best score's file, "Quillon.ini" in the program's folder.
class HighScoreStore {
 public:
  static constexpr std::size_t kBufferSize = 1024;

  void SetFolder(const std::string& appPath) { file_ = appPath + "Quillon.ini"; }
  const std::string& File() const { return file_; }
  // Leaves highScore unchanged when the stored value is not a number.
  void Read(std::int32_t& highScore) const;
  bool Write(std::int32_t highScore) const;

 private:
  std::string file_;
};

}  // namespace quillon
