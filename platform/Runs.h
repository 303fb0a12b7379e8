#pragma once

// Run codes on the command line, on Linux and Windows alike.
#include <optional>
#include <string>

#include "game/Daily.h"
#include "game/HighScoreStore.h"
#include "game/Replay.h"

#ifdef _WIN32
#include <filesystem>
#include <fstream>

#include "platform/windows/WinFileSystem.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillon {

// The first `limit` bytes of `path` when it names a regular file; nothing for anything else (a
// fifo, a device, a folder), which is never opened for reading or never waited on.
inline std::optional<std::string> RegularFileStart(const std::string& path, std::size_t limit) {
  std::string text(limit, '\0');
  std::size_t got = 0;
#ifdef _WIN32
  std::error_code error;
  const std::filesystem::path name(Widen(path));
  if (!std::filesystem::is_regular_file(name, error)) return std::nullopt;
  std::ifstream file(name, std::ios::binary);
  if (!file) return std::nullopt;
  file.read(text.data(), static_cast<std::streamsize>(limit));
  got = static_cast<std::size_t>(file.gcount());
#else
  // Non-blocking, so that a fifo with no writer can't hold the open; then only a regular file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  while (got < limit) {
    const ssize_t n = ::read(fd, text.data() + got, limit - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
#endif
  text.resize(got);
  return text;
}

// The run a command line's CODE or FILE names, played again: a code as given, or the first line
// of the regular file it names (of which no more is read than a code may hold). Nothing, with
// the reason in `problem`, for anything else.
inline std::optional<CheckedRun> RunArgument(const std::string& arg, std::string* problem) {
  if (auto text = RegularFileStart(arg, kMaxRunCodeLength + 1)) {
    text->resize(std::min(text->size(), text->find_first_of("\r\n")));
    return CheckRun(*text, problem);
  }
  return CheckRun(arg, problem);
}

// The code of the best run the player's places keep; nothing where none does.
inline std::optional<std::string> KeptRunCode(FileSystem& files, const std::string& programFolder) {
  HighScoreStore store(files);
  store.SetFolder(programFolder);
  return store.ReadRun(ScoreOfRun);
}

// Why --run-code has nothing to print.
inline std::string NoRunKept(bool daily) {
  return daily ? "no daily run is kept for today (UTC) yet: D on the title plays it"
               : "no run is kept yet: a round that sets a new best keeps its run";
}

// The code of the best daily run of the UTC day at `utcSeconds` that the player's places keep.
inline std::optional<std::string> KeptDailyCode(FileSystem& files, const std::string& programFolder,
                                                std::int64_t utcSeconds) {
  HighScoreStore store(files);
  store.SetFolder(programFolder);
  const Date today = UtcDate(utcSeconds);
  return store.ReadDaily([today](std::string_view code) { return ScoreOfDailyRun(code, today); });
}

}  // namespace quillon
