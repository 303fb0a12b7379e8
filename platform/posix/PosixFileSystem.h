#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "game/FileSystem.h"
#include "platform/posix/PosixFiles.h"

namespace quillon {

// Files on a POSIX system. The player's data folder is $XDG_DATA_HOME/quillon/, by default
// ~/.local/share/quillon/, unless one is given.
class PosixFileSystem final : public FileSystem {
 public:
  explicit PosixFileSystem(std::optional<std::string> dataFolder = std::nullopt, bool dataFolderOnly = false)
      : dataFolder_(std::move(dataFolder)), dataFolderOnly_(dataFolderOnly) {}

  FileText Read(const std::string& path, Patience patience = Patience::Long) override;
  WriteOutcome Update(const std::string& path, const Change& change, Patience patience, Companion* companion = nullptr,
                      bool shared = false) override;
  std::string LastError() const override { return lastError_; }
  std::optional<std::string> Leftover(const std::string& path) override;
  void DropLeftover(const std::string& path) override;
  std::string DataFolder() override;
  bool MakeFolder(const std::string& folder) override;
  bool DataFolderOnly() const override { return dataFolderOnly_; }

  // How long a lock is waited for: by a read, and by a write of each patience.
  struct Waits {
    std::chrono::milliseconds read{1000}, brief{250}, long_{5000};
  } waits;
  // Told the path of everything flushed to disk; lets tests see the order of flushes (and
  // play a slow disk).
  std::function<void(const std::string&)> onFlush;

 private:
  using Deadline = std::chrono::steady_clock::time_point;
  // A companion's new text, ready to go in once the first file has.
  struct Staged {
    Companion* companion = nullptr;
    bool ready = false;  // its text goes in once the first file's has
    std::string target, temp, text;
    posix::Fd fd{-1};
    bool inPlace = false;
    mode_t mode = 0;
  };

  Deadline Until(Patience patience, std::chrono::milliseconds longWait) const;
  void FlushFolder(const std::string& path);

  FileText ReadUntil(const std::string& path, Deadline deadline);
  bool Flush(int fd, const std::string& path);
  WriteOutcome ReplaceThroughTemp(const std::string& target, const Change& change, Companion* companion,
                                  Deadline deadline, int& error);
  WriteOutcome RewriteInPlace(const std::string& target, const Change& change, Companion* companion,
                              Deadline deadline, int tempError, bool shared);
  // Makes a companion's text ready to go in (nothing to do without one); false, its outcome
  // saying why, where it can't go here.
  bool Stage(Companion* companion, Deadline deadline, Staged& staged);
  WriteOutcome StageText(Companion& companion, Deadline deadline, Staged& staged);
  // Takes back what was made ready, when the first file could not be written.
  void Unstage(Staged& staged);
  // Puts the ready text in; its outcome says when it failed.
  void Finish(Staged& staged);
  WriteOutcome Busy();
  WriteOutcome Fail(WriteOutcome outcome, int error);

  std::optional<std::string> dataFolder_;
  bool dataFolderOnly_;
  std::string lastError_;
};

}  // namespace quillon
