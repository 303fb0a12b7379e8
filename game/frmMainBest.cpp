// Keeping the best score: at the round's end, at once where the platform wants that, when
// storage answers late, and at the very end for a best that had to wait for its turn.
#include <string>

#include "game/Replay.h"
#include "game/frmMain.h"

namespace quillon {

void frmMain::StoreJob::Run(HighScoreStore& store, Platform& platform) {
  if (bestToo) {
    kept = store.Write(best, patience, run, ScoreOfRun);
    busy = store.Busy();
    runKept = store.RunKept();
    problem = store.Problem();
  }
  if (daily.empty()) return;
  dailyKept = platform.KeepDailyRun(store, daily, dailyScore, day, patience);
  dailyProblem = store.Problem();
}

std::int32_t frmMain::StoreBest(std::int32_t best, Patience patience, const std::string& run) {
  StoreJob job;
  job.best = best;
  job.run = run;
  job.patience = patience;
  job.Run(Store, platform_);
  Stored(job);
  return job.kept.value_or(best);
}

void frmMain::StoreAside(StoreJob job) {
  WaitStored();
  job_ = std::move(job);
  if (!platform_.RunsAside()) {
    job_.Run(Store, platform_);
    Stored(job_);
    return;
  }
  storing_ = true;
  // Nothing else touches the store until TakeStored has seen the job end.
  platform_.RunAside([this] { job_.Run(Store, platform_); });
  TakeStored();
}

void frmMain::TakeStored() {
  if (!storing_ || !platform_.AsideDone()) return;
  storing_ = false;
  Stored(job_);
}

void frmMain::WaitStored() {
  if (!storing_) return;
  platform_.WaitAside();
  TakeStored();
}

void frmMain::Stored(const StoreJob& job) {
  if (!job.daily.empty() && !job.dailyKept && !toldDaily_) {
    toldDaily_ = true;
    platform_.ReportUnkeptBest("cannot keep the daily run in " + job.dailyProblem);
  }
  if (!job.bestToo) return;
  // Another copy may have stored more meanwhile: the larger comes back.
  unkept_ = !job.kept;
  unkeptRun_ = job.kept ? std::string() : job.run;
  if (job.kept && *job.kept > HighScore) HighScore = *job.kept;
  // A store that only waited for its turn is tried again; the player hears of it only if it
  // never comes before the program ends.
  if (!job.kept && !toldUnkept_ && (!job.busy || job.patience == Patience::Long)) {
    toldUnkept_ = true;
    platform_.ReportUnkeptBest("cannot keep the best score " + std::to_string(job.best) + " in " + job.problem);
  }
  // The best went in, its run nowhere.
  if (job.kept == job.best && !job.run.empty() && !job.runKept && !job.problem.empty() && !toldRun_) {
    toldRun_ = true;
    platform_.ReportUnkeptBest("cannot keep the run of the best score " + std::to_string(job.best) + " in " + job.problem);
  }
}

std::string frmMain::RunOf(const Round& round) const {
  // A round whose jumps outgrew their room can't be played again: no run rather than a wrong one.
  return round.Whole ? RunCode(round.Record) : std::string();
}

void frmMain::KeepNewBest() {
  StoreJob job;
  job.best = HighScore;
  job.patience = Patience::Brief;
  job.bestToo = false;
  if (daily_) job.daily = RunOf(R);
  job.dailyScore = R.Score;
  job.day = dailyDay_;
  if (R.Score > HighScore) {
    if (storedEarly_ && storedScore_ == R.Score) {
      HighScore = storedBest_;
    } else {
      // Shown at once; the store follows beside the frame loop.
      HighScore = job.best = R.Score;
      job.run = RunOf(R);
      job.bestToo = true;
    }
  } else if (unkept_ && !storing_) {
    job.run = unkeptRun_;
    job.bestToo = true;
  }
  if (job.bestToo || !job.daily.empty()) StoreAside(std::move(job));
  storedEarly_ = false;
}

void frmMain::LookAgain() {
  constexpr int kLookEvery = 20;  // frames: a second in play
  if (bestKnown_ || storing_ || ++sinceLook_ < kLookEvery) return;
  sinceLook_ = 0;
  std::int32_t stored = HighScore;
  const bool known = Store.Read(stored, Patience::Now);
  if (stored > HighScore) HighScore = stored;
  if (!known) return;
  bestKnown_ = true;
  if (Phase != PhaseTitle) R.RaiseBest(HighScore);
}

void frmMain::Store_Ready() {
  // The larger of the stored best and this run's own counts; one this run could not store
  // yet is stored now, with its run.
  WaitStored();
  std::int32_t stored = HighScore;
  bestKnown_ = Store.Read(stored);
  if (stored > HighScore) HighScore = stored;
  if (unkept_) HighScore = StoreBest(HighScore, Patience::Brief, unkeptRun_);
  // A round under way is measured against the best as now known.
  if (Phase != PhaseTitle && bestKnown_) R.RaiseBest(HighScore);
}

}  // namespace quillon
