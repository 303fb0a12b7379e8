#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace quillon {

// One job at a time on a thread of its own, beside the frame loop: a store that waits for a slow
// disk or another copy's turn never holds up a frame.
class AsideThread {
 public:
  AsideThread() = default;
  AsideThread(const AsideThread&) = delete;
  AsideThread& operator=(const AsideThread&) = delete;
  ~AsideThread() { Wait(); }

  void Run(const std::function<void()>& job) {
    Wait();
    done_ = false;
    thread_ = std::thread([this, job] {
      job();
      done_ = true;  // what the job wrote is seen by whoever sees this
    });
  }
  bool Done() const { return done_; }
  void Wait() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
  std::atomic<bool> done_{true};
};

}  // namespace quillon
