#include "game/Replay.h"

#include "game/frmMain.h"

namespace quillon {

namespace {

// The longest round a run may hold: about fourteen hours of play.
constexpr std::uint32_t kMaxFrames = 1000000;

// Files that hold nothing and take nothing.
class NoFiles final : public FileSystem {
 public:
  FileText Read(const std::string&) override { return {FileText::Kind::Absent, {}}; }
  WriteOutcome Update(const std::string&, const Change&, Patience) override { return WriteOutcome::Failed; }
  std::string LastError() const override { return "a replay stores nothing"; }
  std::optional<std::string> Leftover(const std::string&) override { return std::nullopt; }
  void DropLeftover(const std::string&) override {}
  std::string DataFolder() override { return {}; }
  bool MakeFolder(const std::string&) override { return false; }
};

// A machine with no window, no clock and no keys: only the rules run.
class NoMachine final : public Platform {
 public:
  void Present(const Surface&) override {}
  std::int32_t Clock() override { return 0; }
  void PumpEvents(WindowEvents&) override {}
  void WaitForEvents(std::int32_t) override {}
  std::string ProgramFolder() override { return {}; }
  FileSystem& Files() override { return files_; }
  std::uint32_t RandomSeed() override { return 0; }
  void SetCaption(const std::string&) override {}
  void SetClientSize(int, int) override {}
  void ShowWindow() override {}
  void ReportUnkeptBest(const std::string&) override {}
  [[noreturn]] void EndProgram() override { throw this; }

 private:
  NoFiles files_;
};

}  // namespace

std::optional<Replayed> Simulate(const RunRecord& run, const Pictures& pictures, const Font* font,
                                 const std::function<void(const Surface&)>& onFrame, std::string* problem) {
  NoMachine machine;
  frmMain game(machine, pictures, font);
  game.StartRecorded(run);
  std::size_t next = 0;
  for (;;) {
    if (game.FramesPlayed >= kMaxFrames) {
      *problem = "the run is longer than any round";
      return std::nullopt;
    }
    const frmMain::Step step = game.PlayRecordedFrame(run, next);
    if (step == frmMain::Step::Impossible) {
      *problem = "the run holds a jump no round could have taken";
      return std::nullopt;
    }
    if (step == frmMain::Step::Ended) break;
    if (onFrame) onFrame(game.picWork);
  }
  if (next < run.keys.size()) {
    *problem = "the run holds jumps past the round's end";
    return std::nullopt;
  }
  return Replayed{game.Score, game.FramesPlayed};
}

std::optional<std::pair<RunRecord, std::int32_t>> CheckedRun(std::string_view code, const Pictures& pictures,
                                                             const Font* font, std::string* problem) {
  ParsedRun parsed = ParseRunCode(code);
  if (!parsed.run) {
    *problem = parsed.problem;
    return std::nullopt;
  }
  const auto replayed = Simulate(*parsed.run, pictures, font, nullptr, problem);
  if (!replayed) return std::nullopt;
  return std::pair{std::move(*parsed.run), replayed->score};
}

std::uint64_t Fingerprint(const std::vector<Colour>& pixels) {
  std::uint64_t hash = 0xCBF29CE484222325ULL;
  for (const Colour c : pixels) {
    for (int shift = 0; shift < 32; shift += 8) {
      hash ^= (c >> shift) & 0xFFu;
      hash *= 0x100000001B3ULL;
    }
  }
  return hash;
}

}  // namespace quillon
