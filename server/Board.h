#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "game/Daily.h"

// The board's rules: which days take posts, which names are names, how often an address may
// post, and a bounded pool that plays runs again.
namespace quillon::board {

// Yesterday's round takes posts this long into today (UTC), for rounds begun before midnight
// and for players west of UTC whose evening is already tomorrow there.
constexpr int kGraceHours = 6;
constexpr std::size_t kMaxNameBytes = 64;
constexpr std::size_t kMaxNameCharacters = 24;
constexpr std::size_t kMaxBody = 64 * 1024;
constexpr int kBoardLimit = 1000;

// The day a code's run is the daily run of, or why it can't be posted: a day closed, one not
// come yet, or no daily run at all.
struct DayOf {
  std::optional<Date> day;
  std::string problem;
};
DayOf OpenDayOf(const RunRecord& run, std::int64_t utcSeconds);

// Why a name can't stand on the board; nothing for a good one. Names are text: any printable
// characters in UTF-8, none of them a control.
std::optional<std::string> NameProblem(const std::string& name);

// "2026-12-09T16:20:00.123Z".
std::string IsoTime(std::chrono::system_clock::time_point at);

// At most `perMinute` posts an address in any minute (0: no limit). Addresses seen no more in
// a minute are forgotten, so a flood from many addresses costs no more than a minute's worth.
class RateLimit {
 public:
  explicit RateLimit(int perMinute) : perMinute_(perMinute) {}
  bool Allow(const std::string& address, std::chrono::steady_clock::time_point now);

 private:
  int perMinute_;
  std::mutex mutex_;
  std::unordered_map<std::string, std::deque<std::chrono::steady_clock::time_point>> seen_;
  std::chrono::steady_clock::time_point lastSweep_{};
};

// What playing a run again gave.
struct Verdict {
  std::optional<std::int32_t> score;
  std::string problem;
};

// Plays runs again on a fixed number of threads, with a queue of a fixed length: a flood of
// posts waits its turn or is turned away, and never takes the threads that serve the board.
class Verifier {
 public:
  Verifier(unsigned workers, std::size_t queueLimit);
  ~Verifier();
  Verifier(const Verifier&) = delete;
  Verifier& operator=(const Verifier&) = delete;
  // Nothing while the queue is full.
  std::optional<std::future<Verdict>> Submit(RunRecord run);

 private:
  void Work();
  std::size_t queueLimit_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::pair<RunRecord, std::promise<Verdict>>> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace quillon::board
