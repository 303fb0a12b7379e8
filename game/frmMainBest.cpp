// Keeping the best score: at the round's end, at once where the platform wants that, when
// storage answers late, and at the very end for a best that had to wait for its turn.
#include <string>

#include "game/Replay.h"
#include "game/frmMain.h"

namespace quillon {

std::int32_t frmMain::StoreBest(std::int32_t best, Patience patience) {
  // Another copy may have stored more meanwhile: the larger comes back.
  if (const auto kept = Store.Write(best, patience)) {
    unkept_ = false;
    return *kept;
  }
  unkept_ = true;
  // A store that only waited for its turn is tried again; the player hears of it only if it
  // never comes before the program ends.
  if (!toldUnkept_ && (!Store.Busy() || patience == Patience::Long)) {
    toldUnkept_ = true;
    platform_.ReportUnkeptBest("cannot keep the best score " + std::to_string(best) + " in " + Store.Problem());
  }
  return best;
}

void frmMain::KeepRunOf(std::int32_t kept) {
  // A round whose jumps outgrew their room can't be played again: no run rather than a wrong one.
  if (kept != R.Score || !R.Whole) return;
  Store.KeepRun(RunCode(R.Record), R.Score, ScoreOfRun, Patience::Brief);
}

void frmMain::KeepNewBest() {
  if (R.Score > HighScore) {
    const bool early = storedEarly_ && storedScore_ == R.Score;
    HighScore = early ? storedBest_ : StoreBest(R.Score, Patience::Brief);
    if (!early) KeepRunOf(HighScore);
  } else if (unkept_) {
    HighScore = StoreBest(HighScore, Patience::Brief);
  }
  storedEarly_ = false;
}

void frmMain::Store_Ready() {
  // The larger of the stored best and this run's own counts; one this run could not store
  // yet is stored now.
  std::int32_t stored = HighScore;
  Store.Read(stored);
  if (stored > HighScore) HighScore = stored;
  if (unkept_) HighScore = StoreBest(HighScore, Patience::Brief);
  // A round under way is measured against the best as now known.
  if (Phase != PhaseTitle) R.RaiseBest(HighScore);
}

}  // namespace quillon
