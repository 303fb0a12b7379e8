#pragma once

#include <functional>
#include <optional>
#include <string>

#include "game/FileSystem.h"

namespace quillon {

// Files on a POSIX system. The player's data folder is $XDG_DATA_HOME/quillon/, by default
// ~/.local/share/quillon/, unless one is given.
class PosixFileSystem final : public FileSystem {
 public:
  explicit PosixFileSystem(std::optional<std::string> dataFolder = std::nullopt)
      : dataFolder_(std::move(dataFolder)) {}

  FileText Read(const std::string& path) override;
  WriteOutcome Replace(const std::string& path, std::string_view contents) override;
  std::string DataFolder() override;
  bool MakeFolder(const std::string& folder) override;

  // Told the path of everything flushed to disk; lets tests see the order of flushes.
  std::function<void(const std::string&)> onFlush;

 private:
  bool Flush(int fd, const std::string& path);
  WriteOutcome ReplaceThroughTemp(const std::string& target, std::string_view contents, unsigned mode,
                                  int& error);
  WriteOutcome RewriteInPlace(const std::string& target, std::string_view contents);

  std::optional<std::string> dataFolder_;
};

}  // namespace quillon
