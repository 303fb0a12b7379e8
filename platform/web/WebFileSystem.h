#pragma once

#include <optional>
#include <string>

#include "game/FileSystem.h"
#include "platform/posix/PosixFileSystem.h"

namespace quillon {

// Files in the browser: the game's folder in Emscripten's memory, brought in from the page's
// IndexedDB before the game starts (storage.js) and written back to it, each write one
// transaction from the read to the put (the run beside the best in the same one), so that another tab's larger best is never lost.
class WebFileSystem final : public FileSystem {
 public:
  // Before the browser's storage has answered, nothing stored is known yet.
  FileText Read(const std::string& path, Patience patience = Patience::Long) override;
  // The browser's transaction is the turn: the read, the decision and the write in one, however
  // long it takes, so the patience has nothing to wait for.
  WriteOutcome Update(const std::string& path, const Change& change, Patience patience, Companion* companion = nullptr,
                      bool shared = false) override;
  std::string LastError() const override { return lastError_; }
  // What a page that went away in the middle of a write left (kept in localStorage); looked at
  // only once the stored file it was meant for is there.
  std::optional<std::string> Leftover(const std::string& path) override;
  void DropLeftover(const std::string& path) override;
  std::string DataFolder() override { return {}; }
  bool MakeFolder(const std::string& folder) override { return files_.MakeFolder(folder); }
  // The page's storage is its one place.
  bool DataFolderOnly() const override { return false; }

 private:
  PosixFileSystem files_{std::string()};
  std::string lastError_;
};

}  // namespace quillon
