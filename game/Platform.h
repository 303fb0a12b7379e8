#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "display/Surface.h"
#include "game/Daily.h"
#include "game/FileSystem.h"
#include "game/RunCode.h"

namespace quillon {

// The handlers that the event pump calls.
class HighScoreStore;

class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  virtual void Form_KeyDown(std::int16_t KeyCode) = 0;
  virtual void Form_Unload() = 0;
  // The stored best can be read now, where it could not at start-up (a browser's storage that
  // answered late).
  virtual void Store_Ready() {}
  // A run to play on the title (a shared link's), checked already.
  virtual void Watch_Run(const RunRecord& /*run*/) {}
};

// Everything the game needs of the machine it runs on.
class Platform : public Presenter {
 public:
  // Shows a finished frame, scaled as the machine shows it; the frame's pixels are the game's.
  void Present(const Surface& surface) override = 0;
  // Milliseconds, advancing by one, read as a signed 32-bit value that wraps.
  virtual std::int32_t Clock() = 0;
  // Delivers every queued event to its handler, then returns.
  virtual void PumpEvents(WindowEvents& events) = 0;
  // Sleeps until an event is queued or timeoutMs have passed; delivers nothing.
  virtual void WaitForEvents(std::int32_t timeoutMs) = 0;
  // The running program's folder, ending in the platform's separator.
  virtual std::string ProgramFolder() = 0;
  virtual FileSystem& Files() = 0;
  virtual std::uint32_t RandomSeed() = 0;
  // Seconds since 1970 by the wall clock, for the daily run's UTC date and nothing else.
  virtual std::int64_t UtcSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }
  // A daily round of `day` just ended, whole, reaching `score`: kept where it is the day's best,
  // for the player to get again. True when the day's best is kept. The desktops keep it in a
  // file (KeepDailyRunFile); the page keeps its own for its board, with no file, so that its
  // download carries no code to store one. Kept nowhere unless a platform says where.
  virtual bool KeepDailyRun(HighScoreStore& /*store*/, const std::string& /*code*/, std::int32_t /*score*/,
                            const Date& /*day*/, Patience /*patience*/) {
    return false;
  }
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void SetClientSize(int width, int height) = 0;
  virtual void ShowWindow() = 0;
  // Tells the player, outside the game's picture, that a new best score could be kept nowhere.
  virtual void ReportUnkeptBest(const std::string& message) = 0;
  // True where the program can end with no close request (a browser tab): a new best is then
  // stored as soon as the banner announces it, not only when the round ends.
  virtual bool StoresBestAtOnce() const { return false; }
  // Whether RunAside runs a job beside the frame loop, so that a slow disk never holds up a
  // frame; where it doesn't (a page, whose storage already waits without holding the page up),
  // the game stores in the frame itself.
  virtual bool RunsAside() const { return false; }
  // Hands `job` over; one at a time: only once the last has ended.
  virtual void RunAside(const std::function<void()>& job) { job(); }
  // True once the job handed over last has ended.
  virtual bool AsideDone() { return true; }
  virtual void WaitAside() {}
  // Ends the program at once; no statement after the call runs.
  [[noreturn]] virtual void EndProgram() = 0;
};

}  // namespace quillon
