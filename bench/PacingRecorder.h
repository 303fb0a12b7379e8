// A recorder between the real game and its platform: on close it prints how late each frame
// started after its deadline, how long the first title frame took to reach the screen, and
// the peak memory. Used by the pacing probes of each platform; driven by bench/report.py.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "display/Pictures.h"
#include "game/frmMain.h"

namespace quillon {

using Ns = std::chrono::nanoseconds;
inline const auto g_start = std::chrono::steady_clock::now();

inline long long NowNs() {
  return std::chrono::duration_cast<Ns>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class Recorder final : public Platform {
 public:
  explicit Recorder(Platform& inner, std::string (*peakMemory)()) : inner_(inner), peakMemory_(peakMemory) { lateness_.reserve(1 << 20); }
  frmMain* game = nullptr;

  std::int32_t Clock() override {
    const std::int32_t value = inner_.Clock();
    if (awaitingStart_) {
      awaitingStart_ = false;
      // The first reading past a deadline d is the millisecond that begins at d + 1.
      if (lastPeriod_ > 0) {
        const long long now = NowNs();
        const long long nowMs = now / 1000000LL;
        const auto due = static_cast<std::uint32_t>(lastStart_ + static_cast<std::uint32_t>(lastPeriod_) + 1u);
        const auto wholeMs = static_cast<std::int32_t>(static_cast<std::uint32_t>(nowMs) - due);
        lateness_.push_back(wholeMs + static_cast<double>(now - nowMs * 1000000LL) / 1e6);
      }
      frameValue_ = value;
    }
    return value;
  }
  void PumpEvents(WindowEvents& events) override { inner_.PumpEvents(events); }
  void WaitForEvents(std::int32_t t) override { inner_.WaitForEvents(t); }
  std::string ProgramFolder() override { return inner_.ProgramFolder(); }
  FileSystem& Files() override { return inner_.Files(); }
  std::uint32_t RandomSeed() override { return inner_.RandomSeed(); }
  void SetCaption(const std::string& c) override { inner_.SetCaption(c); }
  void SetClientSize(int w, int h) override { inner_.SetClientSize(w, h); }
  void ShowWindow() override { inner_.ShowWindow(); }
  void ReportUnkeptBest(const std::string& m) override { inner_.ReportUnkeptBest(m); }
  void Present(const Surface& s) override {
    inner_.Present(s);
    if (firstFrameMs_ < 0) {
      firstFrameMs_ = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - g_start).count();
    }
    const bool play = s.Pixel(300, 100) == kSky;
    lastPeriod_ = play ? 50 : (game->Phase == PhaseTitle ? 20 : 0);
    lastStart_ = static_cast<std::uint32_t>(frameValue_);
    awaitingStart_ = true;
  }
  [[noreturn]] void EndProgram() override {
    std::vector<double> l = lateness_;
    std::sort(l.begin(), l.end());
    auto at = [&](double q) { return l.empty() ? 0.0 : l[static_cast<std::size_t>(q * static_cast<double>(l.size() - 1))]; };
    const std::string peak = peakMemory_();
    std::printf("frames %zu\nlate_median_ms %.3f\nlate_p99_ms %.3f\nlate_max_ms %.3f\n"
                "first_frame_ms %.1f\npeak_memory %s\n",
                l.size(), at(0.5), at(0.99), l.empty() ? 0.0 : l.back(), firstFrameMs_, peak.c_str());
    std::fflush(stdout);
    inner_.EndProgram();
    std::abort();  // not reached
  }

 private:
  Platform& inner_;
  std::string (*peakMemory_)();
  std::vector<double> lateness_;
  bool awaitingStart_ = true;
  std::int32_t frameValue_ = 0;
  std::uint32_t lastStart_ = 0;
  int lastPeriod_ = 0;
  double firstFrameMs_ = -1;
};

}  // namespace quillon
