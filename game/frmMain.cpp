#include "game/frmMain.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

#include "game/Daily.h"
#include "game/FrameClock.h"
#include "game/Game.h"
#include "game/Replay.h"

namespace quillon {

namespace {

constexpr Colour kTitleText = Rgb(0, 255, 0);
constexpr Colour kScoreText = Rgb(230, 230, 230);
constexpr int kPromptX = 140;
constexpr int kPromptY = 235;

int ToPixels(float size) { return static_cast<int>(std::nearbyint(size)); }

// A sprite drawn whole where it stands, through its mask.
void DrawSprite(Surface& work, int x, int y, const Surface& mask, const Surface& picture) {
  MaskedDraw(work, x, y, ToPixels(picture.ScaleWidth()), ToPixels(picture.ScaleHeight()), mask, picture);
}

}  // namespace

frmMain::frmMain(Platform& platform, const Pictures& pictures, const Font* font)
    : picWork(kScreenW, kScreenH, kBlack), Store(platform.Files()), platform_(platform), pictures_(pictures) {
  picWork.SetPicture(&pictures.playBackground);
  picWork.SetFont(font);
  picWork.SetPresenter(&platform);
}

void RunGame(Platform& platform, const Pictures& pictures, const Font* font) {
  static frmMain game(platform, pictures, font);
  game.Run();
}

void WatchGame(Platform& platform, const Pictures& pictures, const Font* font, const RunRecord& run) {
  static frmMain game(platform, pictures, font);
  game.WatchOnly(run);
}

void frmMain::Run() {
  Form_Load();
  // What the window system does before the timer first fires.
  platform_.PumpEvents(*this);
  Timer1_Timer();
}

void frmMain::Form_Load() {
  M.AppPath = platform_.ProgramFolder();
  platform_.SetCaption("Quillon");
  R.Rnd.Seed(platform_.RandomSeed());
  M.ScreenW = RoundToInteger(pictures_.picTitle.ScaleWidth());
  M.ScreenH = RoundToInteger(pictures_.picTitle.ScaleHeight());
  platform_.SetClientSize(M.ScreenW, M.ScreenH);
  BitBlt(picWork, 0, 0, M.ScreenW, M.ScreenH, pictures_.picBlack, 0, 0, RasterOp::SRCCOPY);
  Store.SetFolder(M.AppPath);
  bestKnown_ = Store.Read(HighScore);
  platform_.ShowWindow();
  platform_.PumpEvents(*this);
}

void frmMain::Timer1_Timer() { MainR(); }

void frmMain::MainR() {
  for (;;) {
    OpeningR();
    Prepare();
    GameR();
    platform_.PumpEvents(*this);
  }
}

void frmMain::PrintNumber(std::string_view label, std::int32_t value) {
  char line[32];
  std::memcpy(line, label.data(), label.size());
  const auto result = std::to_chars(line + label.size(), line + sizeof line, value);
  picWork.Print(std::string_view(line, static_cast<std::size_t>(result.ptr - line)));
}

void frmMain::EndFrame(std::int32_t period) {
  WaitUntil(platform_, *this, FrameDeadline(M.FrameStart, period));
  platform_.PumpEvents(*this);
  TakeStored();
  LookAgain();
}

void frmMain::OpeningR() {
  int promptFrame = 0;
  bool promptForward = true;
  std::optional<std::pair<bool, std::int32_t>> shownBest;
  for (;;) {
    M.FrameStart = platform_.Clock();
    // Drawn again should the stored best arrive while the title shows; none until it is known.
    if (shownBest != std::pair{bestKnown_, HighScore}) {
      BitBlt(picWork, 0, 0, M.ScreenW, M.ScreenH, pictures_.picTitle, 0, 0, RasterOp::SRCCOPY);
      picWork.ForeColor = kTitleText;
      picWork.CurrentX = 3;
      picWork.CurrentY = 3;
      if (bestKnown_) {
        PrintNumber("High Score:", HighScore);
      } else {
        picWork.Print("High Score:");
      }
      shownBest = std::pair{bestKnown_, HighScore};
    }
    const Surface& prompt = pictures_.picPek[promptFrame];
    BitBlt(picWork, kPromptX, kPromptY, ToPixels(prompt.ScaleWidth()), ToPixels(prompt.ScaleHeight()),
           prompt, 0, 0, RasterOp::SRCCOPY);
    picWork.Refresh();
    promptFrame += promptForward ? 1 : -1;
    if (promptFrame == 8) {
      promptFrame = 7;
      promptForward = false;
    } else if (promptFrame == -1) {
      promptFrame = 0;
      promptForward = true;
    }
    if (Phase == PhasePlay) return;
    // The kept run is read once no store is under way beside the frame loop.
    if (runToWatch_ || (watchAsked_ && !storing_)) {
      std::optional<RunRecord> run;
      run.swap(runToWatch_);
      const bool best = !run;
      if (best) {
        const auto code = Store.ReadRun(ScoreOfRun);
        if (code) run = ParseRunCode(*code).run;
      }
      watchAsked_ = false;
      if (run) {
        WatchRun(*run, best);
        shownBest.reset();
        continue;
      }
    }
    EndFrame(kTitlePeriod);
  }
}

void frmMain::Prepare() {
  if (dailyAsked_) {
    // The day's round starts from the day's seed with no draw before it, wherever it is played.
    dailyDay_ = UtcDate(platform_.UtcSeconds());
    R.Rnd.Seed(DailySeed(dailyDay_));
    platform_.SetCaption("Quillon - daily run " + DateText(dailyDay_));
  } else if (daily_) {
    // What follows the day's round is the player's own again, not the day's stream drawn on.
    R.Rnd.Seed(platform_.RandomSeed());
  }
  daily_ = dailyAsked_;
  dailyAsked_ = false;
  // A session that has drawn more than any code may start after begins afresh, so that every
  // round it plays can be checked.
  if (R.Rnd.Draws() > kMaxDraws) R.Rnd.Seed(platform_.RandomSeed());
  R.Prepare(bestKnown_ ? HighScore : kBestUnknown);
  picWork.ForeColor = kScoreText;
}

void frmMain::GameR() {
  while (!PlayFrame()) {
    picWork.Refresh();
    EndFrame(kPlayPeriod);
  }
  RoundEnd();
}

bool frmMain::PlayFrame() {
  M.FrameStart = platform_.Clock();
  const Jump jump = asked_;
  asked_ = Jump::None;
  const bool ended = R.Step(jump);
  Phase = R.Phase;
  DrawRound(R);
  if (R.ShowsBanner() && platform_.StoresBestAtOnce() && !(storedEarly_ && storedScore_ == R.Score)) {
    // No more jump can take effect: the run is whole.
    storedBest_ = StoreBest(R.Score, Patience::Brief, RunOf(R));
    storedScore_ = R.Score;
    storedEarly_ = true;
  }
  return ended;
}

void frmMain::DrawRound(const Round& round) {
  picWork.Cls();
  picWork.ForeColor = kScoreText;
  for (const PosXY& coin : round.CoinShown)
    DrawSprite(picWork, coin.X, coin.Y, pictures_.picCoinM, pictures_.picCoin);
  for (const PosXY& ball : round.TamaShown)
    DrawSprite(picWork, ball.X, ball.Y, pictures_.picTamaM, pictures_.picTama);
  if (round.HitCount >= 0 && round.HitCount <= 4) {
    DrawSprite(picWork, round.CarX, round.CarShownY, pictures_.picCarM[round.HitCount], pictures_.picCar[round.HitCount]);
  }
  picWork.CurrentX = 3;
  picWork.CurrentY = 3;
  PrintNumber("Score:", round.Score);
  if (round.ShowsBanner()) DrawSprite(picWork, -1, 12, pictures_.picHscrM, pictures_.picHscr);
}

void frmMain::RoundEnd() {
  if (daily_) platform_.SetCaption("Quillon");
  KeepNewBest();
  Phase = PhaseTitle;
}

void frmMain::Form_KeyDown(std::int16_t KeyCode) {
  // A round being watched takes no jumps; Enter or Escape stops it.
  if (watched_ != nullptr) {
    if (KeyCode == kKeyEnter || KeyCode == kKeyEscape) stopWatching_ = true;
    return;
  }
  switch (Phase) {
    case PhaseTitle:
      if (KeyCode == kKeyEnter) Phase = PhasePlay;
      if (KeyCode == kKeyDaily) {
        Phase = PhasePlay;
        dailyAsked_ = true;
      }
      if (KeyCode == kKeyWatch) watchAsked_ = true;
      break;
    case PhasePlay:
      // The first jump asked while the car is on the road is the next frame's; keys that
      // start a round and jump in one pump give the round's first frame its jump.
      if (asked_ != Jump::None || R.InAir) break;
      if (KeyCode == kKeyEnter) asked_ = Jump::High;
      if (KeyCode == kKeySpace || KeyCode == kKeyProcess) asked_ = Jump::Low;
      break;
    default:
      break;
  }
}

void frmMain::Form_Unload() {
  // The banner has already told the player this score is the new best: keep that promise (a
  // round being watched promised nothing).
  WaitStored();
  if (Phase == PhaseOver) KeepNewBest();
  WaitStored();
  // The last chance for a best that waited for its turn; now it may wait longer.
  if (unkept_) StoreBest(HighScore, Patience::Long, unkeptRun_);
  platform_.EndProgram();
}

}  // namespace quillon
