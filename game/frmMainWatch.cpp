// Rounds played again in the window: W on the title, --watch, a shared link. The watched round
// is a Replayer's own; the live round, the draws and the best are never touched, and nothing
// is stored while it plays.
#include "game/Replay.h"
#include "game/frmMain.h"

namespace quillon {

void frmMain::WatchRun(const RunRecord& run, bool best) {
  platform_.SetCaption(best ? "Quillon - watching the best run" : "Quillon - watching a run");
  Replayer player(run);
  watched_ = &player.round();
  stopWatching_ = false;
  while (!stopWatching_) {
    M.FrameStart = platform_.Clock();
    if (player.Next() != Replayer::Step::Shown) break;
    DrawRound(player.round());
    picWork.Refresh();
    EndFrame(kPlayPeriod);
  }
  watched_ = nullptr;
  platform_.SetCaption("Quillon");
}

void frmMain::Watch_Run(const RunRecord& run) {
  if (watched_ == nullptr) runToWatch_ = run;
}

void frmMain::WatchOnly(const RunRecord& run) {
  Form_Load();
  platform_.PumpEvents(*this);
  WatchRun(run, false);
  platform_.EndProgram();
  __builtin_unreachable();  // a platform's EndProgram never comes back
}

}  // namespace quillon
