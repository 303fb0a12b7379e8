// The cost of one whole play frame against one plain copy of a 425 x 300 frame, measured in
// the same run and printed as a ratio: absolute times mean little on a shared machine.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "display/Font.h"
#include "display/Pictures.h"
#include "game/Replay.h"
#include "game/frmMain.h"
#include "platform/Scaling.h"
#include "platform/posix/PosixFileSystem.h"

namespace {

using namespace quillon;

// A platform that is never waited on or shown.
struct NullPlatform : Platform {
  std::int32_t Clock() override { return 0; }
  void PumpEvents(WindowEvents&) override {}
  void WaitForEvents(std::int32_t) override {}
  std::string ProgramFolder() override { return "/"; }
  FileSystem& Files() override { return files; }
  PosixFileSystem files{std::string()};
  std::uint32_t RandomSeed() override { return 7; }
  void SetCaption(const std::string&) override {}
  void SetClientSize(int, int) override {}
  void ShowWindow() override {}
  void ReportUnkeptBest(const std::string&) override {}
  void Present(const Surface&) override {}
  [[noreturn]] void EndProgram() override { std::abort(); }
};

const Pictures& Pics() {
  static const Pictures p = LoadPictures();
  return p;
}

const Font* UiFont() { return &Font::BuiltIn(); }

void FrameCopy(benchmark::State& state) {
  Surface work(kScreenW, kScreenH);
  for (auto _ : state) {
    BitBlt(work, 0, 0, kScreenW, kScreenH, Pics().playBackground, 0, 0, RasterOp::SRCCOPY);
    benchmark::DoNotOptimize(work.Row(0));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(FrameCopy);

// What presenting a whole frame at scale 3 costs beyond SDL's own: every game pixel a 3 x 3
// block in a 1275 x 900 window surface.
void ScaledPresent3(benchmark::State& state) {
  const Surface& frame = Pics().playBackground;
  std::vector<std::uint32_t> screen(static_cast<std::size_t>(kScreenW) * 3 * kScreenH * 3);
  const Placement place{3, 0, 0};
  for (auto _ : state) {
    ScaleRows(reinterpret_cast<const std::uint8_t*>(frame.Pixels().data()), kScreenW, 0, kScreenH - 1, 4,
              reinterpret_cast<std::uint8_t*>(screen.data()), kScreenW * 3 * 4, kScreenW * 3, kScreenH * 3, place);
    benchmark::DoNotOptimize(screen.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(ScaledPresent3);

void PlayFrame(benchmark::State& state) {
  NullPlatform platform;
  frmMain game(platform, Pics(), UiFont());
  game.Phase = PhasePlay;
  game.Prepare();
  // Every sprite on screen, so all ten masked draws touch pixels.
  for (int i = 0; i < 6; ++i) game.R.CoinPos[i] = {static_cast<std::int16_t>(60 + 50 * i), 20};
  for (int i = 0; i < 3; ++i) game.R.TamaPos[i] = {static_cast<std::int16_t>(200 + 60 * i), 80};
  const Round start = game.R;
  int frame = 0;
  for (auto _ : state) {
    if (++frame == 20) {  // keep the sprites in view
      state.PauseTiming();
      game.R = start;
      frame = 0;
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(game.PlayFrame());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(PlayFrame);

// A recorded round of several hundred frames, jumps of both heights.
RunRecord BenchRun() {
  RunRecord run{7, 123, 1000000, {}};
  for (std::uint32_t f = 12; f < 800; f += 47) run.keys.push_back({f, f % 2 == 0});
  return run;
}

// The round checked by the rules alone, as --verify, the store's scorer and the page do.
void VerifiedRound(benchmark::State& state) {
  const RunRecord run = BenchRun();
  std::string problem;
  std::uint32_t frames = 1;
  for (auto _ : state) {
    const auto replayed = Simulate(run, &problem);
    frames = replayed ? replayed->frames : 1;
    benchmark::DoNotOptimize(frames);
  }
  state.counters["frames"] = frames;
}
BENCHMARK(VerifiedRound)->Unit(benchmark::kMicrosecond);

// The same round played again with every frame drawn, as watching does (nothing presented).
void DrawnRound(benchmark::State& state) {
  const RunRecord run = BenchRun();
  NullPlatform platform;
  frmMain game(platform, Pics(), UiFont());
  std::uint32_t frames = 1;
  for (auto _ : state) {
    Replayer player(run);
    while (player.Next() == Replayer::Step::Shown) game.DrawRound(player.round());
    frames = player.round().Frames;
    benchmark::DoNotOptimize(game.picWork.Row(0));
  }
  state.counters["frames"] = frames;
}
BENCHMARK(DrawnRound)->Unit(benchmark::kMicrosecond);

// The worst start a code may name: the most draws it may start after.
void FarthestStart(benchmark::State& state) {
  std::string problem;
  for (auto _ : state) benchmark::DoNotOptimize(Simulate(RunRecord{1, kMaxDraws, 0, {}}, &problem));
}
BENCHMARK(FarthestStart)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      times[run.benchmark_name()] = run.GetAdjustedCPUTime();
      if (run.counters.count("frames")) frames[run.benchmark_name()] = run.counters.at("frames");
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
  std::map<std::string, double> frames;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (reporter.times.count("FrameCopy") && reporter.times.count("PlayFrame")) {
    std::printf("play frame / frame copy: %.2f (target: at most 2)\n",
                reporter.times["PlayFrame"] / reporter.times["FrameCopy"]);
  }
  if (reporter.times.count("FrameCopy") && reporter.times.count("ScaledPresent3")) {
    std::printf("scaled present at 3 / frame copy: %.2f\n",
                reporter.times["ScaledPresent3"] / reporter.times["FrameCopy"]);
  }
  if (reporter.times.count("VerifiedRound") && reporter.times.count("DrawnRound")) {
    // Rounds' times are in microseconds.
    const double perFrame = reporter.times["VerifiedRound"] * 1e3 / reporter.frames["VerifiedRound"];
    std::printf("drawn replay / verified round: %.1f (a round of %.0f frames; %.0f ns a verified frame, so "
                "the longest round a code may hold, %u frames, takes %.0f ms)\n",
                reporter.times["DrawnRound"] / reporter.times["VerifiedRound"], reporter.frames["VerifiedRound"],
                perFrame, kMaxFrames, perFrame * kMaxFrames / 1e6);
  }
  if (reporter.times.count("FarthestStart")) {
    std::printf("the farthest start a code may name (%llu draws): %.0f ms\n",
                static_cast<unsigned long long>(kMaxDraws), reporter.times["FarthestStart"]);
  }
  benchmark::Shutdown();
}
