#pragma once

#include <optional>
#include <string>

#include "game/FileSystem.h"

namespace quillon {

// Files on Windows. Paths are UTF-8 here and wide for the system, so any folder name works.
// The player's data folder is %LOCALAPPDATA%\Quillon\.
class WinFileSystem final : public FileSystem {
 public:
  // Without a data folder given, the player's own; an empty one means none.
  explicit WinFileSystem(std::optional<std::string> dataFolder = std::nullopt)
      : dataFolder_(std::move(dataFolder)) {}

  FileText Read(const std::string& path, Patience patience = Patience::Long) override;
  WriteOutcome Update(const std::string& path, const Change& change, Patience patience, Companion* companion = nullptr,
                      bool shared = false) override;
  std::string LastError() const override { return lastError_; }
  std::optional<std::string> Leftover(const std::string& path) override;
  void DropLeftover(const std::string& path) override;
  std::string DataFolder() override;
  bool MakeFolder(const std::string& folder) override;
  // The program's folder first, as the game has always kept its file; one the player may not
  // write in passes the best to their own folder.
  bool DataFolderOnly() const override { return false; }

 private:
  WriteOutcome Fail(WriteOutcome outcome, unsigned long error);
  // The companion's write, once the first file's is done (or has nothing to do); how it went.
  WriteOutcome WriteCompanion(Companion& companion, unsigned long long waitMs, bool& wrote);

  std::optional<std::string> dataFolder_;
  std::string lastError_;
};

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

}  // namespace quillon
