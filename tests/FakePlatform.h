#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "display/Font.h"
#include "display/Pictures.h"
#include "game/frmMain.h"
#ifdef _WIN32
#include "platform/windows/WinFileSystem.h"
#else
#include "platform/posix/PosixFileSystem.h"
#endif

namespace quillon::testing {

#ifdef _WIN32
using TestFileSystem = WinFileSystem;
#else
using TestFileSystem = PosixFileSystem;
#endif

// Thrown where the real platform would end the process.
struct ProgramEnded {};

// A platform in memory: a clock that moves only while the game waits, key presses and
// close requests scripted by the number of frames presented, and every frame observable.
class FakePlatform : public Platform {
 public:
  struct Scripted {
    int afterPresent;  // delivered in the first pump after this many presents
    bool close;
    std::int16_t key;
  };

  std::uint32_t now = 1000;
  std::string folder = "/nonexistent-quillon-folder/";
  std::uint32_t seed = 12345;
  std::int64_t utc = 1796774400 + 23 * 3600 + 3599;  // 2026-12-09, its last second in UTC
  TestFileSystem files{std::string()};  // no data folder of the player's unless a test gives one
  std::vector<Scripted> script;
  std::function<void(const Surface&)> onPresent;  // runs after each present is counted
  std::function<void(WindowEvents&)> onPump;      // runs in each pump, after it is counted
  std::uint32_t presentCost = 0;                  // ms a present takes: a slow machine
  int presentLimit = 0;                           // if set, the program ends past it: no hang
  const Surface* watched = nullptr;                // picWork, to see it at ShowWindow
  // A job handed aside ends at once (0), after this many pumps, or (-1) only when waited for:
  // a disk slower than any round.
  int asideFrames = 0;
  int asides = 0;  // jobs handed aside
  std::function<void()> afterAside;  // runs after each job handed aside has ended

  int presents = 0;
  int pumps = 0;
  int waits = 0;
  bool shownBlack = false;

  void Key(int afterPresent, std::int16_t code) { script.push_back({afterPresent, false, code}); }
  void Close(int afterPresent) { script.push_back({afterPresent, true, 0}); }

  std::int32_t Clock() override { return static_cast<std::int32_t>(now); }
  void WaitForEvents(std::int32_t timeoutMs) override {
    ++waits;
    now += static_cast<std::uint32_t>(timeoutMs);
  }
  void PumpEvents(WindowEvents& events) override {
    ++pumps;
    if (pending_ && pendingFor_ > 0 && --pendingFor_ == 0) EndAside();
    if (onPump) onPump(events);
    // Index loop: a handler may end the program, and the script must not be reallocated.
    for (std::size_t i = next_; i < script.size() && script[i].afterPresent <= presents; ++i) {
      next_ = i + 1;
      Scripted s = script[i];
      if (s.close) {
        events.Form_Unload();
      } else {
        events.Form_KeyDown(s.key);
      }
    }
  }
  std::string ProgramFolder() override { return folder; }
  FileSystem& Files() override { return files; }
  std::uint32_t RandomSeed() override { return seed; }
  std::int64_t UtcSeconds() override { return utc; }
  bool KeepDailyRun(HighScoreStore& store, const std::string& code, std::int32_t, const Date& day,
                    Patience patience) override {
    return store.KeepDailyRunFile(code, day, patience);
  }
  void SetCaption(const std::string& c) override { caption = c; }
  void SetClientSize(int w, int h) override {
    clientW = w;
    clientH = h;
  }
  void ShowWindow() override {
    if (watched == nullptr) return;
    shownBlack = true;
    for (Colour c : watched->Pixels()) shownBlack = shownBlack && c == kBlack;
  }
  void ReportUnkeptBest(const std::string& message) override { reported.push_back(message); }
  // Unless told to play a page, what a desktop does.
  bool StoresBestAtOnce() const override { return storesAtOnce || Platform::StoresBestAtOnce(); }
  void Present(const Surface& surface) override {
    ShowTouchedRows(surface);
    ++presents;
    now += presentCost;
    if (presentLimit > 0 && presents > presentLimit) throw ProgramEnded{};
    if (onPresent) onPresent(surface);
  }
  [[noreturn]] void EndProgram() override { throw ProgramEnded{}; }
  bool RunsAside() const override { return asideFrames != 0; }
  void RunAside(const std::function<void()>& job) override {
    if (pending_) throw std::logic_error("a job handed aside while the last one runs");
    // What the last one kept, or why not, would be lost.
    if (unseen_) throw std::logic_error("a job handed aside before the game saw the last one end");
    pending_ = job;
    pendingFor_ = asideFrames;
    ++asides;
    if (asideFrames == 0) EndAside();
  }
  bool AsideDone() override {
    if (!pending_) unseen_ = false;
    return !pending_;
  }
  void WaitAside() override {
    if (pending_) EndAside();
  }

  std::string caption;
  std::vector<std::string> reported;
  bool storesAtOnce = false;
  int clientW = 0, clientH = 0;

 private:
  // As the page shows a frame: only the rows the surface says were written since it was last
  // shown. Every frame of every game a test plays must come out whole that way.
  void ShowTouchedRows(const Surface& surface) {
    auto [from, to] = &surface == lastShown_ ? surface.TouchedRows() : std::pair{0, surface.Height() - 1};
    surface.ForgetTouched();
    lastShown_ = &surface;
    shown_.resize(surface.Pixels().size());
    for (int y = std::max(from, 0); y <= std::min(to, surface.Height() - 1); ++y) {
      std::copy_n(surface.Row(y), surface.Width(), shown_.begin() + static_cast<std::ptrdiff_t>(y) * surface.Width());
    }
    EXPECT_TRUE(shown_ == surface.Pixels()) << "frame " << presents << " has rows written without a touch";
  }
  const Surface* lastShown_ = nullptr;
  std::vector<Colour> shown_;

  void EndAside() {
    const std::function<void()> job = std::move(pending_);
    pending_ = nullptr;
    unseen_ = true;
    job();
    if (afterAside) afterAside();
  }

  std::size_t next_ = 0;
  std::function<void()> pending_;
  int pendingFor_ = 0;
  bool unseen_ = false;  // a job has ended that the game has not yet seen end
};

// Pictures and the system font, made once for the whole test run.
const Pictures& TestPictures();
const Font* TestFont();

// Runs the game from start-up until the script closes the window.
void RunUntilClosed(frmMain& game);

}  // namespace quillon::testing
