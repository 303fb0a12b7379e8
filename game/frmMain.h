#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "display/Pictures.h"
#include "display/Surface.h"
#include "game/HighScoreStore.h"
#include "game/Input.h"
#include "game/Platform.h"
#include "game/Random.h"
#include "game/RunCode.h"

// The game's own names come from the program it reproduces; they are kept as they were:
//   frmMain       the game's window: its state, stages and event handlers (a "form")
//   Module1       the program-wide state (a "module"): the folder, the frame's start, the objects
//   MainR         the endless cycle of the three stages: OpeningR, then Prepare and GameR
//   OpeningR      the title screen ("opening"); picPek the blinking prompt's eight frames
//   Prepare       a round's start: every object placed anew beyond the right edge
//   GameR         the round: PlayFrame for each frame, OverStep through the slow-down after
//   Hantei        the collision check ("judgement"): coins caught, bullets that hit
//   Tama          a bullet ("ball"): TamaPos, picTama; CoinPos, picCoin the coins
//   Hscr          the "You Got High Score!" banner: picHscr
//   picCar        the car's five pictures: whole, then more damaged with each hit
//   Form_KeyDown, Form_Unload, Timer1_Timer
//                 the window's handlers: a key, a close request, the one-shot timer
// The calls, from the start: main (platform/*/main.cpp) opens the platform and calls RunGame,
// which makes the frmMain and calls Run: Form_Load, then Timer1_Timer, which enters MainR for
// good. Each frame is drawn into picWork; Refresh hands it to the platform's Present (its
// presenter: SdlPresent.cpp, WinPresent.cpp, WebPlatform.cpp), which shows it scaled.
namespace quillon {

struct PosXY {
  std::int16_t X = 0;
  std::int16_t Y = 0;
};

enum : std::int16_t { PhaseTitle = 0, PhasePlay = 1, PhaseOver = 2 };

// Program-wide state.
struct Module1 {
  std::string AppPath;
  std::int32_t FrameStart = 0;
  PosXY CoinPos[6];
  PosXY TamaPos[3];
  std::int16_t ScreenW = 0;
  std::int16_t ScreenH = 0;
  std::int16_t CarX = 0;
  std::int16_t CarY = 0;
};

// The game window: its state, its stages and its event handlers.
class frmMain : public WindowEvents {
 public:
  frmMain(Platform& platform, const Pictures& pictures, const Font* font);

  // Start-up, then the one-shot start of the endless cycle. Never returns.
  [[noreturn]] void Run();
  // Start-up, then `run` played in the window, and the end: nothing is ever stored.
  [[noreturn]] void WatchOnly(const RunRecord& run);
  // Plays a recorded round in the window as it was played, until its end or until Enter or
  // Escape stops it; stores nothing, and leaves the game as it found it.
  void WatchRun(const RunRecord& run, bool best);
  // The score a run code reaches, played again with no window; nothing for a code that plays
  // no round.
  std::optional<std::int32_t> ScoreOf(std::string_view code) const;
  // A recorded round from its start: the draws, the best and the car as they were.
  void StartRecorded(const RunRecord& run);
  // One frame of it, its jumps first (`next` the first not yet taken): Ended after its last
  // frame, Impossible where a jump could not have taken effect.
  enum class Step { Shown, Ended, Impossible };
  Step PlayRecordedFrame(const RunRecord& run, std::size_t& next);

  void Form_Load();
  [[noreturn]] void Timer1_Timer();
  [[noreturn]] void MainR();
  void OpeningR();
  void Prepare();
  void GameR();
  // One play frame up to, not including, its present; true when it ended the round.
  bool PlayFrame();
  void Hantei();
  void CarStep();
  // The game-over step; true when the round has ended.
  bool OverStep();
  void RoundEnd();
  void Form_KeyDown(std::int16_t& KeyCode, std::int16_t Shift) override;
  void Form_Unload() override;
  void Store_Ready() override;
  void Watch_Run(const RunRecord& run) override;

  Module1 M;
  std::int16_t Phase = PhaseTitle;
  std::int16_t JumpSpeed = 0;
  bool InAir = false;
  bool Rising = false;
  std::int32_t Score = 0;
  std::int32_t HighScore = 0;
  std::int16_t HitCount = 0;
  bool BobDown = false;
  double Brake = 0;
  std::int16_t OverTimer = 0;

  Surface picWork;
  HighScoreStore Store;
  Random Rnd;
  // This round as it is being played (what a replay needs), and its frames played so far.
  RunRecord Played;
  std::uint32_t FramesPlayed = 0;
  bool PlayedWhole = true;  // false once a round's jumps outgrew the room kept for them

 private:
  // Sleeps out the frame's period, then pumps once more.
  void EndFrame(std::int32_t period);
  std::int16_t NewX();
  void PlaceCoin(PosXY& coin);
  void PlaceBall(PosXY& ball);
  void PrintNumber(std::string_view label, std::int32_t value);
  // A jump that took effect, into this round's record; never allocates.
  void RecordJump(bool high);
  // Raises and stores the best score when this round's score beats it; tries again a best
  // that an earlier store could not keep.
  void KeepNewBest();
  // Stores `best`; returns the best now kept, or `best` itself when it could not be kept yet.
  std::int32_t StoreBest(std::int32_t best, Patience patience);

  // Keeps this round's run beside the best when the best kept is its score.
  void KeepRunOf(std::int32_t kept);

  Platform& platform_;
  const Pictures& pictures_;
  const Font* font_;
  bool watchAsked_ = false;    // W on the title
  bool watching_ = false;      // a recorded round is playing in the window
  bool stopWatching_ = false;  // Enter or Escape while it plays
  std::optional<RunRecord> runToWatch_;  // handed over by the platform, played on the title
  bool toldUnkept_ = false;  // the player hears it once a run
  bool unkept_ = false;      // HighScore is this run's own, and no store has taken it yet
  // What the banner's frames stored at once, where the platform wants that.
  bool storedEarly_ = false;
  std::int32_t storedScore_ = 0;
  std::int32_t storedBest_ = 0;
};

// Ties to even, as every fractional value stored into an integer is rounded.
std::int16_t RoundToInteger(double value);

}  // namespace quillon
