// How long storing a best takes, alone and with eight copies of the game storing at once
// into the same file: median and p99 of each store, as a round's end waits for it, and how
// many had to wait for a later turn. Prints figures; asserts nothing.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "game/HighScoreStore.h"
#include "platform/posix/PosixFileSystem.h"

namespace {

using namespace quillon;
using Clock = std::chrono::steady_clock;

constexpr int kStores = 60;

// One copy's stores; each store's time in microseconds, a negative one for a store that waited.
void Copy(const std::string& folder, int who, int copies, int out) {
  PosixFileSystem files{std::string()};
  HighScoreStore store(files);
  store.SetFolder(folder);
  for (int i = 0; i < kStores; ++i) {
    const auto start = Clock::now();
    const auto kept = store.Write((i * copies + who) * 10 + 1);
    long us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    if (!kept) us = -us;
    (void)!::write(out, &us, sizeof us);
  }
}

void Measure(const std::string& folder, int copies) {
  std::filesystem::remove(folder + "Quillon.ini");
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return;
  std::fflush(nullptr);
  for (int who = 0; who < copies; ++who) {
    if (::fork() == 0) {
      ::close(pipeFds[0]);
      Copy(folder, who, copies, pipeFds[1]);
      ::_exit(0);
    }
  }
  ::close(pipeFds[1]);
  std::vector<long> times;
  int waited = 0;
  for (long us; ::read(pipeFds[0], &us, sizeof us) == sizeof us;) {
    waited += us < 0;
    times.push_back(us < 0 ? -us : us);
  }
  ::close(pipeFds[0]);
  while (::wait(nullptr) > 0) {
  }
  std::sort(times.begin(), times.end());
  const auto at = [&](double q) { return static_cast<double>(times[static_cast<std::size_t>(q * static_cast<double>(times.size() - 1))]) / 1000.0; };
  std::printf("%s: %zu stores, median %.2f ms, p99 %.2f ms, longest %.2f ms; %d waited for a later turn\n",
              copies == 1 ? "one copy alone" : (std::to_string(copies) + " copies at once").c_str(), times.size(), at(0.5), at(0.99), static_cast<double>(times.back()) / 1000.0, waited);
}

}  // namespace

int main(int argc, char** argv) {
  // On the disk a player's game would use, not in memory: the flushes are most of the cost.
  const std::filesystem::path folder =
      argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::current_path() / "store-bench";
  std::filesystem::create_directories(folder);
  for (int copies : {1, 8}) Measure((folder / "").string(), copies);
  std::filesystem::remove_all(folder);
}
