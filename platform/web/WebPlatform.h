#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "display/Pictures.h"
#include "game/Platform.h"
#include "platform/web/WebFileSystem.h"

namespace quillon {

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
  // A run code from the page (a shared link): checked now, played on the title; the reason
  // when it names no round, else empty.
  std::string Watch(const std::string& code);
  // The page's board offers the day's best daily run of this visit, kept here: no file, so the
  // page's download carries no code to store one.
  bool KeepDailyRun(HighScoreStore& store, const std::string& code, std::int32_t score, const Date& day,
                    Patience patience) override;
  const char* DailyRun();

 private:
  void SetIcon(const Surface& icon);

  // Keys wait here between two pumps; a full queue drops the newest, as a busy window would.
  std::array<std::int16_t, 64> keys_{};
  std::size_t keyHead_ = 0, keyCount_ = 0;
  std::vector<Colour> shown_;        // what the canvas shows now
  const Surface* lastShown_ = nullptr;
  std::vector<std::uint32_t> rgba_;  // the same, as the canvas's ImageData holds it
  WebFileSystem files_;
  bool storageReady_ = false;
  const Pictures* pictures_ = nullptr;
  std::optional<RunRecord> runToWatch_;
  std::string dailyCode_;
  std::int32_t dailyScore_ = 0;
  Date dailyDay_;
};

}  // namespace quillon
