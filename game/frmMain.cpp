#include "game/frmMain.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

#include "game/FrameClock.h"
#include "game/Game.h"

namespace quillon {

namespace {

constexpr std::int32_t kTitlePeriod = 20;
constexpr std::int32_t kPlayPeriod = 50;
constexpr Colour kTitleText = Rgb(0, 255, 0);
constexpr Colour kScoreText = Rgb(230, 230, 230);
constexpr int kPromptX = 140;
constexpr int kPromptY = 235;
constexpr std::int16_t kRoadY = 225;
constexpr std::int16_t kCarW = 34, kCarH = 16;
constexpr std::int16_t kCoinW = 13, kCoinH = 12;
constexpr std::int16_t kBallW = 10, kBallH = 6;
constexpr std::int16_t kGone = -50;

// Adds without passing the largest Long; an addition that would is not made.
void AddPoints(std::int32_t& score, std::int32_t points) {
  std::int32_t sum = 0;
  if (!__builtin_add_overflow(score, points, &sum)) score = sum;
}

bool Touches(const PosXY& p, int w, int h, std::int16_t carX, std::int16_t carY) {
  const int dx = p.X - carX;
  if (!(-w < dx && dx < kCarW)) return false;
  const int dy = p.Y - carY;
  return -h < dy && dy < kCarH;
}

int ToPixels(float size) { return static_cast<int>(std::nearbyint(size)); }

// Draws each object where it stands, then steps it left; one that has left the playfield
// is placed anew.
template <std::size_t N, typename Place>
void Scroll(Surface& work, PosXY (&objects)[N], int w, int h, const Surface& mask,
            const Surface& picture, int step, double brake, Place place) {
  for (PosXY& object : objects) {
    MaskedDraw(work, object.X, object.Y, w, h, mask, picture);
    object.X = RoundToInteger(static_cast<std::int16_t>(object.X - step) + brake);
    if (object.X < -20) place(object);
  }
}

}  // namespace

std::int16_t RoundToInteger(double value) {
  const double floor = std::floor(value);
  const double fraction = value - floor;
  double rounded = floor;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0.0)) rounded = floor + 1;
  return static_cast<std::int16_t>(rounded);
}

frmMain::frmMain(Platform& platform, const Pictures& pictures, const Font* font)
    : picWork(kScreenW, kScreenH, kBlack), Store(platform.Files()), platform_(platform), pictures_(pictures),
      font_(font) {
  picWork.SetPicture(&pictures.playBackground);
  picWork.SetFont(font);
  picWork.SetPresenter(&platform);
  // Room for the jumps of a round of hours: recording never allocates in the frame loop.
  Played.keys.reserve(4096);
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
  Rnd.Seed(platform_.RandomSeed());
  M.ScreenW = RoundToInteger(pictures_.picTitle.ScaleWidth());
  M.ScreenH = RoundToInteger(pictures_.picTitle.ScaleHeight());
  M.CarX = 75;
  M.CarY = kRoadY;
  platform_.SetClientSize(M.ScreenW, M.ScreenH);
  BitBlt(picWork, 0, 0, M.ScreenW, M.ScreenH, pictures_.picBlack, 0, 0, RasterOp::SRCCOPY);
  Store.SetFolder(M.AppPath);
  Store.Read(HighScore);
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
}

void frmMain::OpeningR() {
  int promptFrame = 0;
  bool promptForward = true;
  std::optional<std::int32_t> shownBest;
  for (;;) {
    M.FrameStart = platform_.Clock();
    // Drawn again should the stored best arrive while the title shows.
    if (shownBest != HighScore) {
      BitBlt(picWork, 0, 0, M.ScreenW, M.ScreenH, pictures_.picTitle, 0, 0, RasterOp::SRCCOPY);
      picWork.ForeColor = kTitleText;
      picWork.CurrentX = 3;
      picWork.CurrentY = 3;
      PrintNumber("High Score:", HighScore);
      shownBest = HighScore;
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
    if (runToWatch_ || watchAsked_) {
      std::optional<RunRecord> run;
      run.swap(runToWatch_);
      const bool best = !run;
      if (best) {
        const auto code = Store.ReadRun([this](std::string_view c) { return ScoreOf(c); });
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

std::int16_t frmMain::NewX() {
  return static_cast<std::int16_t>(440 + std::floor(1000.0 * Rnd.Next()));
}

void frmMain::PlaceCoin(PosXY& coin) {
  coin.X = NewX();
  coin.Y = static_cast<std::int16_t>(20 + 130 * std::floor(2.0 * Rnd.Next()));
}

void frmMain::PlaceBall(PosXY& ball) {
  ball.X = NewX();
  ball.Y = static_cast<std::int16_t>(50 + std::floor(180.0 * Rnd.Next()));
}

void frmMain::Prepare() {
  // Where the draws stand now, and the best the banner will be measured against: the round's
  // whole start.
  Played.seed = Rnd.SeedValue();
  Played.draws = Rnd.Draws();
  Played.bestBefore = HighScore;
  Played.keys.clear();
  FramesPlayed = 0;
  PlayedWhole = true;
  M.CarX = 75;
  M.CarY = kRoadY;
  for (PosXY& coin : M.CoinPos) PlaceCoin(coin);
  for (PosXY& ball : M.TamaPos) PlaceBall(ball);
  HitCount = 0;
  Brake = 0;
  Score = 0;
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
  picWork.Cls();
  Hantei();
  if (Phase == PhasePlay) AddPoints(Score, 1);
  Scroll(picWork, M.CoinPos, kCoinW, kCoinH, pictures_.picCoinM, pictures_.picCoin, 8, Brake,
         [this](PosXY& coin) { PlaceCoin(coin); });
  Scroll(picWork, M.TamaPos, kBallW, kBallH, pictures_.picTamaM, pictures_.picTama, 14, Brake,
         [this](PosXY& ball) { PlaceBall(ball); });
  CarStep();
  picWork.CurrentX = 3;
  picWork.CurrentY = 3;
  PrintNumber("Score:", Score);
  // The round's last frame is composed but never shown.
  const bool ended = Phase == PhaseOver && OverStep();
  if (!ended) ++FramesPlayed;
  return ended;
}

void frmMain::Hantei() {
  for (PosXY& coin : M.CoinPos) {
    if (Touches(coin, kCoinW, kCoinH, M.CarX, M.CarY)) {
      AddPoints(Score, 100);
      coin.X = kGone;
    }
  }
  for (PosXY& ball : M.TamaPos) {
    if (Touches(ball, kBallW, kBallH, M.CarX, M.CarY)) {
      ++HitCount;
      if (HitCount > 3) {
        OverTimer = 0;
        HitCount = 4;
        Phase = PhaseOver;
      }
      ball.X = kGone;
    }
  }
}

void frmMain::CarStep() {
  if (InAir) {
    if (Rising) {
      M.CarY = static_cast<std::int16_t>(M.CarY - JumpSpeed);
      --JumpSpeed;
      if (JumpSpeed < 0) Rising = false;
    }
    if (!Rising) {
      M.CarY = static_cast<std::int16_t>(M.CarY + JumpSpeed);
      ++JumpSpeed;
      if (M.CarY >= kRoadY) {
        M.CarY = kRoadY;
        BobDown = false;
        InAir = false;
      }
    }
  }
  if (HitCount >= 2 && Phase == PhasePlay) {
    M.CarY = static_cast<std::int16_t>(M.CarY + (BobDown ? -1 : 1));
    BobDown = !BobDown;
  }
  if (HitCount >= 0 && HitCount <= 4) {
    MaskedDraw(picWork, M.CarX, M.CarY, kCarW, kCarH, pictures_.picCarM[HitCount],
               pictures_.picCar[HitCount]);
  }
}

bool frmMain::OverStep() {
  Brake += 0.5;
  if (Brake > 8) Brake = 8;
  if (BobDown) --M.CarY;
  BobDown = false;
  if (Score > HighScore) {
    const Surface& banner = pictures_.picHscr;
    const int w = ToPixels(banner.ScaleWidth());
    const int h = ToPixels(banner.ScaleHeight());
    MaskedDraw(picWork, -1, 12, w, h, pictures_.picHscrM, banner);
    if (platform_.StoresBestAtOnce() && !watching_ && !(storedEarly_ && storedScore_ == Score)) {
      storedBest_ = StoreBest(Score, Patience::Brief);
      storedScore_ = Score;
      storedEarly_ = true;
      KeepRunOf(storedBest_);  // no more jump can take effect: the run is whole
    }
  }
  ++OverTimer;
  return OverTimer > 100;
}

void frmMain::RoundEnd() {
  KeepNewBest();
  Phase = PhaseTitle;
}

void frmMain::Form_KeyDown(std::int16_t& KeyCode, std::int16_t /*Shift*/) {
  // A round being watched takes no jumps; Enter or Escape stops it.
  if (watching_) {
    if (KeyCode == kKeyEnter || KeyCode == kKeyEscape) stopWatching_ = true;
    return;
  }
  switch (Phase) {
    case PhaseTitle:
      if (KeyCode == kKeyEnter) Phase = PhasePlay;
      if (KeyCode == kKeyWatch) watchAsked_ = true;
      break;
    case PhasePlay:
      if (KeyCode == kKeyEnter && !InAir) {
        JumpSpeed = 20;
        InAir = true;
        Rising = true;
        RecordJump(true);
      }
      if ((KeyCode == kKeySpace || KeyCode == kKeyProcess) && !InAir) {
        JumpSpeed = 16;
        InAir = true;
        Rising = true;
        RecordJump(false);
      }
      break;
    default:
      break;
  }
}

void frmMain::RecordJump(bool high) {
  if (Played.keys.size() < Played.keys.capacity()) {
    Played.keys.push_back({FramesPlayed, high});
  } else {
    PlayedWhole = false;
  }
}

void frmMain::Form_Unload() {
  // The banner has already told the player this score is the new best: keep that promise (a
  // round being watched promised nothing).
  if (Phase == PhaseOver && !watching_) KeepNewBest();
  // The last chance for a best that waited for its turn; now it may wait longer.
  if (unkept_) StoreBest(HighScore, Patience::Long);
  platform_.EndProgram();
}

}  // namespace quillon
