// What a round's end costs the title, and what the store itself takes beside the frame loop:
// the best and its run in one turn, alone and with eight copies of the game ending rounds at
// once into the same folder, on the disk given and on one whose every flush takes 150 ms.
// Prints figures; asserts nothing.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "game/HighScoreStore.h"
#include "game/Replay.h"
#include "game/Round.h"
#include "platform/AsideThread.h"
#include "platform/posix/PosixFileSystem.h"

namespace {

using namespace quillon;
using Clock = std::chrono::steady_clock;

// The round ends one copy has: far closer together than real rounds, which last five seconds
// and more.
constexpr int kRoundEnds = 12;
constexpr auto kRoundGap = std::chrono::milliseconds(400);

// A real round's code, so that checking the run costs what it costs in the game.
std::string PlayedRun(std::uint32_t seed) {
  Round round(4096);
  round.Rnd.Seed(seed);
  round.Prepare(0);
  for (std::uint32_t frame = 0; !round.Step(frame % 17 == 0 ? Jump::High : Jump::None); ++frame) {
  }
  return RunCode(round.Record);
}

struct Sample {
  long titleUs;  // how long the round's end held the title
  long storeUs;  // how long the store took beside it
  bool waited;   // the turn never came: tried again at a later round's end
};

void Copy(const std::string& folder, int who, std::chrono::milliseconds flush, int out) {
  PosixFileSystem files{std::string()};
  if (flush.count() > 0) files.onFlush = [flush](const std::string&) { std::this_thread::sleep_for(flush); };
  HighScoreStore store(files);
  store.SetFolder(folder);
  AsideThread aside;
  Sample sample{};
  for (int i = 0; i < kRoundEnds; ++i) {
    // Each round a new best of this copy's, with its run.
    const std::string run = PlayedRun(static_cast<std::uint32_t>(who * 1000 + i));
    const std::int32_t best = ScoreOfRun(run).value_or(0) + i * 100000;
    const auto ended = Clock::now();
    aside.Run([&, run, best] {
      const auto start = Clock::now();
      // The code reaches its own score; the bench raises it so that every store is a new best.
      const auto kept = store.Write(best, Patience::Brief, run, [best](std::string_view) { return best; });
      sample.storeUs = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
      sample.waited = !kept;
    });
    const long title = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - ended).count();
    std::this_thread::sleep_for(kRoundGap);
    aside.Wait();
    sample.titleUs = title;
    (void)!::write(out, &sample, sizeof sample);
  }
}

double At(std::vector<long> v, double q) {
  std::sort(v.begin(), v.end());
  return static_cast<double>(v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))]) / 1000.0;
}

void Measure(const std::string& folder, int copies, std::chrono::milliseconds flush) {
  std::filesystem::remove(folder + "Quillon.ini");
  std::filesystem::remove(folder + "Quillon.run");
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return;
  std::fflush(nullptr);
  for (int who = 0; who < copies; ++who) {
    if (::fork() == 0) {
      ::close(pipeFds[0]);
      Copy(folder, who, flush, pipeFds[1]);
      ::_exit(0);
    }
  }
  ::close(pipeFds[1]);
  std::vector<long> title, store;
  int waited = 0;
  for (Sample s; ::read(pipeFds[0], &s, sizeof s) == sizeof s;) {
    title.push_back(s.titleUs);
    store.push_back(s.storeUs);
    waited += s.waited;
  }
  ::close(pipeFds[0]);
  while (::wait(nullptr) > 0) {
  }
  if (title.empty()) return;
  const std::string who = copies == 1 ? "one copy alone" : std::to_string(copies) + " copies at once";
  const std::string disk = flush.count() > 0 ? ", flushes of " + std::to_string(flush.count()) + " ms" : "";
  std::printf("%s%s: %zu round ends; the title waited median %.2f ms, p99 %.2f ms; the store of best and run "
              "beside it took median %.2f ms, p99 %.2f ms; %d waited for a later turn\n",
              who.c_str(), disk.c_str(), title.size(), At(title, 0.5), At(title, 0.99), At(store, 0.5), At(store, 0.99),
              waited);
}

}  // namespace

int main(int argc, char** argv) {
  // On the disk a player's game would use, not in memory: the flushes are most of the cost.
  const std::filesystem::path folder =
      argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::current_path() / "store-bench";
  std::filesystem::create_directories(folder);
  for (auto flush : {std::chrono::milliseconds(0), std::chrono::milliseconds(150)}) {
    for (int copies : {1, 8}) Measure((folder / "").string(), copies, flush);
  }
  std::filesystem::remove_all(folder);
}
