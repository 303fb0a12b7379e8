// Rounds played again: in the window (W on the title, --watch) and with no window (a code's
// score). Nothing is stored while a round is watched.
#include "game/Replay.h"
#include "game/frmMain.h"

namespace quillon {

namespace {

constexpr std::int32_t kPlayPeriod = 50;

}  // namespace

void frmMain::StartRecorded(const RunRecord& run) {
  HighScore = run.bestBefore;
  Rnd.Restore(run.seed, run.draws);
  Phase = PhasePlay;
  InAir = Rising = BobDown = false;
  JumpSpeed = 0;
  OverTimer = 0;
  Prepare();
}

frmMain::Step frmMain::PlayRecordedFrame(const RunRecord& run, std::size_t& next) {
  if (next < run.keys.size() && run.keys[next].frame == FramesPlayed) {
    // A recorded jump is one that took effect: anywhere else the code is not a played round.
    if (Phase != PhasePlay || InAir) return Step::Impossible;
    std::int16_t code = run.keys[next].high ? kKeyEnter : kKeySpace;
    const bool watched = watching_;
    watching_ = false;  // the jump is the round's own, not a key that stops it
    Form_KeyDown(code, 0);
    watching_ = watched;
    ++next;
  }
  return PlayFrame() ? Step::Ended : Step::Shown;
}

std::optional<std::int32_t> frmMain::ScoreOf(std::string_view code) const {
  std::string problem;
  const auto run = CheckedRun(code, pictures_, font_, &problem);
  if (!run) return std::nullopt;
  return run->second;
}

void frmMain::WatchRun(const RunRecord& run, bool best) {
  // What the title and the next round need, as it was.
  const Random draws = Rnd;
  const RunRecord played = Played;
  const std::int32_t highScore = HighScore, score = Score;
  const bool whole = PlayedWhole;
  platform_.SetCaption(best ? "Quillon - watching the best run" : "Quillon - watching a run");
  watching_ = true;
  stopWatching_ = false;
  StartRecorded(run);
  std::size_t next = 0;
  while (!stopWatching_ && PlayRecordedFrame(run, next) == Step::Shown) {
    picWork.Refresh();
    EndFrame(kPlayPeriod);
  }
  watching_ = false;
  Rnd = draws;
  Played = played;
  PlayedWhole = whole;
  HighScore = highScore;
  Score = score;
  Phase = PhaseTitle;
  InAir = Rising = BobDown = false;
  platform_.SetCaption("Quillon");
}

void frmMain::Watch_Run(const RunRecord& run) {
  if (!watching_) runToWatch_ = run;
}

void frmMain::WatchOnly(const RunRecord& run) {
  Form_Load();
  platform_.PumpEvents(*this);
  WatchRun(run, false);
  platform_.EndProgram();
  __builtin_unreachable();  // a platform's EndProgram never comes back
}

}  // namespace quillon
