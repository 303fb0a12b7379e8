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
  explicit PosixFileSystem(std::optional<std::string> dataFolder = std::nullopt, bool dataFolderOnly = false)
      : dataFolder_(std::move(dataFolder)), dataFolderOnly_(dataFolderOnly) {}

  FileText Read(const std::string& path) override;
  WriteOutcome Update(const std::string& path, const Change& change) override;
  std::string LastError() const override { return lastError_; }
  std::optional<std::string> Leftover(const std::string& path) override;
  void DropLeftover(const std::string& path) override;
  std::string DataFolder() override;
  bool MakeFolder(const std::string& folder) override;
  bool DataFolderOnly() const override { return dataFolderOnly_; }

  // Told the path of everything flushed to disk; lets tests see the order of flushes.
  std::function<void(const std::string&)> onFlush;

 private:
  bool Flush(int fd, const std::string& path);
  WriteOutcome Replace(const std::string& target, std::string_view contents);
  WriteOutcome ReplaceThroughTemp(const std::string& target, std::string_view contents, unsigned mode,
                                  int& error);
  WriteOutcome RewriteInPlace(const std::string& target, std::string_view contents);
  WriteOutcome Fail(WriteOutcome outcome, int error);

  std::optional<std::string> dataFolder_;
  bool dataFolderOnly_;
  std::string lastError_;
};

}  // namespace quillon
