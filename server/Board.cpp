#include "server/Board.h"

#include <cstdio>
#include <ctime>

#include "game/Replay.h"

namespace quillon::board {

DayOf OpenDayOf(const RunRecord& run, std::int64_t utcSeconds) {
  if (run.draws != 0) return {std::nullopt, "the run is not a daily run"};
  const Date today = UtcDate(utcSeconds);
  const std::int64_t days = DaysFromCivil(today);
  const bool yesterdayOpen = utcSeconds - days * 86400 < kGraceHours * 3600;
  // Days near today are named for what they are; any other seed is nobody's daily run.
  for (std::int64_t d = days - 31; d <= days + 31; ++d) {
    const Date day = CivilFromDays(d);
    if (run.seed != DailySeed(day)) continue;
    if (d == days || (d == days - 1 && yesterdayOpen)) return {day, ""};
    if (d > days) return {std::nullopt, "the daily run of " + DateText(day) + " has not begun yet (UTC)"};
    return {std::nullopt, "the daily run of " + DateText(day) + " is closed"};
  }
  return {std::nullopt, "the run is not a daily run of these days"};
}

std::optional<std::string> NameProblem(const std::string& name) {
  if (name.empty()) return "the name is empty";
  if (name.size() > kMaxNameBytes) return "the name is too long";
  std::size_t characters = 0;
  bool seen = false;
  for (std::size_t i = 0; i < name.size();) {
    const auto c = static_cast<unsigned char>(name[i]);
    std::uint32_t code = 0;
    std::size_t length = 0;
    if (c < 0x80) {
      code = c;
      length = 1;
    } else if ((c & 0xE0) == 0xC0) {
      code = c & 0x1F;
      length = 2;
    } else if ((c & 0xF0) == 0xE0) {
      code = c & 0x0F;
      length = 3;
    } else if ((c & 0xF8) == 0xF0) {
      code = c & 0x07;
      length = 4;
    } else {
      return "the name is not UTF-8";
    }
    if (i + length > name.size()) return "the name is not UTF-8";
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(name[i + k]);
      if ((next & 0xC0) != 0x80) return "the name is not UTF-8";
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and past the last code point are no characters.
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return "the name is not UTF-8";
    if (code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x2028 || code == 0x2029) {
      return "the name holds a control character";
    }
    if (code != ' ') seen = true;
    ++characters;
    i += length;
  }
  if (!seen) return "the name is empty";
  if (characters > kMaxNameCharacters) return "the name is too long";
  return std::nullopt;
}

std::string IsoTime(std::chrono::system_clock::time_point at) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
  std::int64_t seconds = ms / 1000, part = ms % 1000;
  if (part < 0) {
    part += 1000;
    --seconds;
  }
  std::int64_t days = seconds / 86400, inDay = seconds % 86400;
  if (inDay < 0) {
    inDay += 86400;
    --days;
  }
  char text[48];
  std::snprintf(text, sizeof text, "%sT%02d:%02d:%02d.%03dZ", DateText(CivilFromDays(days)).c_str(),
                static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60), static_cast<int>(inDay % 60),
                static_cast<int>(part));
  return text;
}

bool RateLimit::Allow(const std::string& address, std::chrono::steady_clock::time_point now) {
  if (perMinute_ <= 0) return true;
  const auto minute = std::chrono::minutes(1);
  const std::lock_guard lock(mutex_);
  if (now - lastSweep_ > minute) {
    for (auto it = seen_.begin(); it != seen_.end();) {
      it = (it->second.empty() || now - it->second.back() >= minute) ? seen_.erase(it) : std::next(it);
    }
    lastSweep_ = now;
  }
  auto& times = seen_[address];
  while (!times.empty() && now - times.front() >= minute) times.pop_front();
  if (times.size() >= static_cast<std::size_t>(perMinute_)) return false;
  times.push_back(now);
  return true;
}

Verifier::Verifier(unsigned workers, std::size_t queueLimit) : queueLimit_(queueLimit) {
  for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
}

Verifier::~Verifier() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_all();
  for (std::thread& t : threads_) t.join();
}

std::optional<std::future<Verdict>> Verifier::Submit(RunRecord run) {
  std::promise<Verdict> promise;
  auto future = promise.get_future();
  {
    const std::lock_guard lock(mutex_);
    if (queue_.size() >= queueLimit_) return std::nullopt;
    queue_.emplace_back(std::move(run), std::move(promise));
  }
  ready_.notify_one();
  return future;
}

void Verifier::Work() {
  for (;;) {
    std::pair<RunRecord, std::promise<Verdict>> job;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    Verdict verdict;
    if (const auto replayed = Simulate(job.first, &verdict.problem)) verdict.score = replayed->score;
    job.second.set_value(std::move(verdict));
  }
}

}  // namespace quillon::board
