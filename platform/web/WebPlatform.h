#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "display/Pictures.h"
#include "game/Platform.h"
#include "platform/posix/PosixFileSystem.h"

namespace quillon {

// Files in the browser: the game's folder in Emscripten's memory, brought in from the page's
// IndexedDB before the game starts (storage.js) and written back to it, each write one
// transaction from the read to the put, so that another tab's larger best is never lost.
class WebFileSystem final : public FileSystem {
 public:
  FileText Read(const std::string& path) override { return files_.Read(path); }
  // The browser's transaction is the turn: the read, the decision and the write in one, however
  // long it takes, so the patience has nothing to wait for.
  WriteOutcome Update(const std::string& path, const Change& change, Patience patience) override;
  std::string LastError() const override { return lastError_; }
  // What a page that went away in the middle of a write left (kept in localStorage); looked at
  // only once the stored file it was meant for is there.
  std::optional<std::string> Leftover(const std::string& path) override;
  void DropLeftover(const std::string& path) override;
  std::string DataFolder() override { return {}; }
  bool MakeFolder(const std::string& folder) override { return files_.MakeFolder(folder); }

 private:
  PosixFileSystem files_{std::string()};
  std::string lastError_;
};

// The page: a canvas of 425 x 300 pixels, the keyboard, the browser's clock and storage.
class WebPlatform final : public Platform {
 public:
  static constexpr const char* kFolder = "/quillon/";

  // Prepares the canvas and the keys.
  void Open(const Pictures& pictures);

  std::int32_t Clock() override;
  void PumpEvents(WindowEvents& events) override;
  void WaitForEvents(std::int32_t timeoutMs) override;
  std::string ProgramFolder() override { return kFolder; }
  FileSystem& Files() override { return files_; }
  std::uint32_t RandomSeed() override;
  void SetCaption(const std::string& caption) override;
  void SetClientSize(int width, int height) override;
  void ShowWindow() override;
  void ReportUnkeptBest(const std::string& message) override;
  // A page can be closed with no word to the game: the banner's best is stored at once.
  bool StoresBestAtOnce() const override { return true; }
  void Present(const Surface& surface) override;
  [[noreturn]] void EndProgram() override;

  // Called by the page's key handler; true when the key is the game's.
  bool KeyDown(std::int16_t code);
  // Called when the browser's storage answers after the game started; told at the next pump.
  void StorageReady() { storageReady_ = true; }

 private:
  void SetIcon(const Surface& icon);

  // Keys wait here between two pumps; a full queue drops the newest, as a busy window would.
  std::array<std::int16_t, 64> keys_{};
  std::size_t keyHead_ = 0, keyCount_ = 0;
  std::vector<std::uint8_t> rgba_;
  std::vector<Colour> shown_;  // what the canvas shows now
  WebFileSystem files_;
  bool storageReady_ = false;
};

}  // namespace quillon
