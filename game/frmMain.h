#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "display/Pictures.h"
#include "display/Surface.h"
#include "game/Daily.h"
#include "game/HighScoreStore.h"
#include "game/Input.h"
#include "game/Platform.h"
#include "game/Round.h"
#include "game/RunCode.h"

// The game's own names come from the program it reproduces; they are kept as they were:
//   frmMain       the game's window: the shell around a round (a "form"): the title, keys into
//                 jumps, drawing a round, the banner's store, watching
//   Module1       the program-wide state (a "module"): the folder, the frame's start
//   Round         the rules of one round (game/Round.h): the car, coins and balls, hits, the
//                 score, the slow-down, the random draws, and the record of its jumps
//   MainR         the endless cycle of the three stages: OpeningR, then Prepare and GameR
//   OpeningR      the title screen ("opening"); picPek the blinking prompt's eight frames
//   Prepare       a round's start: every object placed anew beyond the right edge
//   GameR         the round: PlayFrame for each frame, Round::OverStep through the slow-down
//   Hantei        the collision check ("judgement"): coins caught, bullets that hit
//   Tama          a bullet ("ball"): TamaPos, picTama; CoinPos, picCoin the coins
//   Hscr          the "You Got High Score!" banner: picHscr
//   picCar        the car's five pictures: whole, then more damaged with each hit
//   Form_KeyDown, Form_Unload, Timer1_Timer
//                 the window's handlers: a key, a close request, the one-shot timer
// The calls, from the start: main (platform/*/main.cpp) opens the platform and calls RunGame,
// which makes the frmMain and calls Run: Form_Load, then Timer1_Timer, which enters MainR for
// good. A key in play becomes the jump asked for the next frame (Form_KeyDown); PlayFrame
// hands it to Round::Step, which records it where it takes effect, then DrawRound draws the
// round into picWork and Refresh hands that to the platform's Present (SdlPresent.cpp,
// WinPresent.cpp, WebPlatform.cpp), which shows it scaled. A new best goes through
// frmMainBest.cpp to HighScoreStore. Watching (W, --watch, a shared link: frmMainWatch.cpp)
// steps a Replayer's round of its own and draws it the same way; --verify and the store's
// scorer step a bare one (game/Replay.h) and draw nothing.
namespace quillon {

// Program-wide state.
struct Module1 {
  std::string AppPath;
  std::int32_t FrameStart = 0;
  std::int16_t ScreenW = 0;
  std::int16_t ScreenH = 0;
};

// The frame periods, in milliseconds.
constexpr std::int32_t kTitlePeriod = 20;
constexpr std::int32_t kPlayPeriod = 50;

// The game window: the shell around the round being played.
class frmMain : public WindowEvents {
 public:
  frmMain(Platform& platform, const Pictures& pictures, const Font* font);

  // Start-up, then the one-shot start of the endless cycle. Never returns.
  [[noreturn]] void Run();
  // Start-up, then `run` played in the window, and the end: nothing is ever stored.
  [[noreturn]] void WatchOnly(const RunRecord& run);
  // Plays a recorded round in the window as it was played, until its end or until Enter or
  // Escape stops it; the live round and the best are not touched.
  void WatchRun(const RunRecord& run, bool best);
  // The round being watched, while one is.
  const Round* Watched() const { return watched_; }

  void Form_Load();
  [[noreturn]] void Timer1_Timer();
  [[noreturn]] void MainR();
  void OpeningR();
  void Prepare();
  void GameR();
  // One play frame stepped and drawn, up to its present; true when it ended the round.
  bool PlayFrame();
  // A round's frame as it was shown, into picWork.
  void DrawRound(const Round& round);
  void RoundEnd();
  void Form_KeyDown(std::int16_t KeyCode) override;
  void Form_Unload() override;
  void Store_Ready() override;
  void Watch_Run(const RunRecord& run) override;

  Module1 M;
  // What the window shows: the title, play, or the slow-down (the live round's phase).
  std::int16_t Phase = PhaseTitle;
  std::int32_t HighScore = 0;
  Round R{4096};  // the round being played; room for the jumps of a round of hours

  Surface picWork;
  HighScoreStore Store;

 private:
  // Sleeps out the frame's period, then pumps once more.
  void EndFrame(std::int32_t period);
  void PrintNumber(std::string_view label, std::int32_t value);
  // Raises and stores the best score, with its run, when this round's score beats it; tries
  // again a best that an earlier store could not keep.
  void KeepNewBest();
  // One store of the best and the run that reached it, and what came of it.
  struct StoreJob {
    std::int32_t best = 0;
    std::string run;
    Patience patience = Patience::Long;
    bool bestToo = true;  // else only the day's run is kept
    std::string daily;    // the day's run just played, kept where it is the day's best
    Date day;
    std::int32_t dailyScore = 0;
    std::optional<std::int32_t> kept;
    bool dailyKept = false;
    std::string dailyProblem;
    bool busy = false, runKept = false;
    std::string problem;
    void Run(HighScoreStore& store, Platform& platform);
  };
  // Stores `best` now; returns the best now kept, or `best` itself when it could not be kept yet.
  std::int32_t StoreBest(std::int32_t best, Patience patience, const std::string& run);
  // Stores `best` beside the frame loop, so that a slow disk never keeps the title waiting.
  void StoreAside(StoreJob job);
  // Takes in what a store beside the frame loop came to, once it has ended; waits for it first.
  void TakeStored();
  void WaitStored();
  void Stored(const StoreJob& job);
  // The round's run, when it can be played again.
  std::string RunOf(const Round& round) const;
  // Reads the stored best again while it is not known yet (a file held at the start).
  void LookAgain();

  Platform& platform_;
  const Pictures& pictures_;
  Jump asked_ = Jump::None;    // the jump a key asked for, taken by the next frame
  bool watchAsked_ = false;    // W on the title
  bool dailyAsked_ = false;    // D on the title: the next round is the day's
  bool daily_ = false;         // the round under way (or just ended) is the day's
  Date dailyDay_;
  const Round* watched_ = nullptr;
  bool stopWatching_ = false;  // Enter or Escape while it plays
  std::optional<RunRecord> runToWatch_;  // handed over by the platform, played on the title
  bool toldUnkept_ = false;  // the player hears it once a run
  bool toldRun_ = false;
  bool toldDaily_ = false;
  bool unkept_ = false;      // HighScore is this run's own, and no store has taken it yet
  std::string unkeptRun_;    // the run that reached it, to go with it
  // False while a place of the best's could not be read: the title shows no best and the
  // banner hails nothing until it has been.
  bool bestKnown_ = true;
  int sinceLook_ = 0;
  StoreJob job_;
  bool storing_ = false;  // job_ is under way beside the frame loop
  // What the banner's frames stored at once, where the platform wants that.
  bool storedEarly_ = false;
  std::int32_t storedScore_ = 0;
  std::int32_t storedBest_ = 0;
};

}  // namespace quillon
