#include "platform/web/WebPlatform.h"

#include <emscripten.h>
#include <emscripten/html5.h>
#include <sys/stat.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "display/Font.h"
#include "game/Input.h"
#include "platform/Runs.h"

namespace quillon {

namespace {

EM_BOOL OnKeyDown(int, const EmscriptenKeyboardEvent* event, void* user) {
  auto* platform = static_cast<WebPlatform*>(user);
  std::int16_t code = 0;
  if (std::strcmp(event->code, "Enter") == 0 || std::strcmp(event->code, "NumpadEnter") == 0 ||
      std::strcmp(event->key, "Enter") == 0) {
    code = kKeyEnter;
  } else if (std::strcmp(event->code, "Space") == 0 || std::strcmp(event->key, " ") == 0) {
    code = kKeySpace;
  } else if (event->keyCode == kKeyProcess) {
    code = kKeyProcess;  // the browser's word for a key an input method took
  } else if (std::strcmp(event->code, "KeyW") == 0) {
    code = kKeyWatch;
  } else if (std::strcmp(event->code, "KeyD") == 0) {
    code = kKeyDaily;
  } else if (std::strcmp(event->code, "Escape") == 0) {
    code = kKeyEscape;
  }
  // Taking the key keeps Space and Enter from scrolling the page or pressing a button; Escape
  // stops a watched run and still does whatever else it does.
  return code != 0 && platform->KeyDown(code) && code != kKeyEscape ? EM_TRUE : EM_FALSE;
}

WebPlatform* g_page = nullptr;  // for the page's own inputs

// A colour as the canvas's ImageData keeps it in memory: red, green, blue, opaque.
constexpr std::uint32_t ToRgba(Colour c) {
  return 0xFF000000u | ((c >> 16) & 0xFFu) | (c & 0xFF00u) | ((c & 0xFFu) << 16);
}

// A frame's fingerprint in hex, for a test that asks for every frame's (Module.quillonFingerprints).
std::string FingerprintText(const Surface& frame) {
  if (!EM_ASM_INT({ return Module.quillonFingerprints ? 1 : 0; })) return {};
  char text[24];
  const auto end = std::to_chars(text, text + sizeof text, Fingerprint(frame), 16).ptr;
  return std::string(text, end);
}

}  // namespace

// The browser's storage answered after the game had started, or another tab stored a best.
extern "C" EMSCRIPTEN_KEEPALIVE void quillon_storage_ready() {
  if (g_page != nullptr) g_page->StorageReady();
}

// A press from the page itself: a tap, a button, a gamepad (as the keys give them).
extern "C" EMSCRIPTEN_KEEPALIVE void quillon_press(int code) {
  if (g_page != nullptr && (code == kKeyEnter || code == kKeySpace || code == kKeyWatch || code == kKeyDaily ||
                          code == kKeyEscape)) {
    g_page->KeyDown(static_cast<std::int16_t>(code));
  }
}

// A shared link's run (runs.js): the page writes its code into the buffer, then asks; empty
// when it will play, else why it can't.
namespace {
std::string g_code, g_problem;
}  // namespace
extern "C" EMSCRIPTEN_KEEPALIVE char* quillon_watch_buffer(int length) {
  g_code.assign(static_cast<std::size_t>(length), '\0');
  return g_code.data();
}
extern "C" EMSCRIPTEN_KEEPALIVE const char* quillon_watch() {
  g_problem = g_page != nullptr ? g_page->Watch(g_code) : "the game has not started";
  return g_problem.c_str();
}

// The kept run, where it reaches the best kept beside it (runs.js shows Watch and Share for
// that one only); empty for none.
extern "C" EMSCRIPTEN_KEEPALIVE const char* quillon_kept_run() {
  static std::string code;
  code.clear();
  if (g_page != nullptr) {
    HighScoreStore store(g_page->Files());
    store.SetFolder(g_page->ProgramFolder());
    code = store.ReadRun(ScoreOfRun, Patience::Now).value_or(std::string());
  }
  return code.c_str();
}

// The day's best daily run of this visit, for the board's script to offer; empty for none.
extern "C" EMSCRIPTEN_KEEPALIVE const char* quillon_daily_run() {
  return g_page != nullptr ? g_page->DailyRun() : "";
}

bool WebPlatform::KeepDailyRun(HighScoreStore& /*store*/, const std::string& code, std::int32_t score, const Date& day,
                               Patience /*patience*/) {
  if (dailyCode_.empty() || !(day == dailyDay_) || score > dailyScore_) {
    dailyCode_ = code;
    dailyScore_ = score;
    dailyDay_ = day;
  }
  return true;
}

const char* WebPlatform::DailyRun() {
  return dailyDay_ == UtcDate(UtcSeconds()) ? dailyCode_.c_str() : "";
}

void WebPlatform::ReportUnkeptBest(const std::string& message) {
  EM_ASM({ Module.quillonNotice('Quillon ' + UTF8ToString($0) + '.'); }, message.c_str());
}

void WebPlatform::Open(const Pictures& pictures) {
  // Emscripten starts with a umask of 0777, which would leave new files unreadable.
  ::umask(022);
  shown_.assign(static_cast<std::size_t>(kScreenW) * kScreenH, kBlack);
  rgba_.assign(shown_.size(), ToRgba(kBlack));
  EM_ASM({
    var canvas = Module.canvas || document.getElementById('canvas');
    canvas.width = $0;
    canvas.height = $1;
    Module.quillonCanvas = canvas;
    // A desynchronized canvas skips much of the page's paint cycle on each frame.
    Module.quillonContext = canvas.getContext('2d', {alpha: false, desynchronized: true});
    // The canvas reads the game's memory itself, with no copy on the way (the memory never grows).
    Module.quillonImage = new ImageData(new Uint8ClampedArray(HEAPU8.buffer, $2, $0 * $1 * 4), $0, $1);
    Module.quillonPresented = 0;
  }, kScreenW, kScreenH, rgba_.data());
  // storage.js has brought the stored files in before main() started.
  // The keys reach the game wherever the focus is on the page.
  emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, this, EM_TRUE, OnKeyDown);
  g_page = this;
  pictures_ = &pictures;
  SetIcon(pictures.icon32);
}

void WebPlatform::SetIcon(const Surface& icon) {
  std::vector<std::uint8_t> rgba;
  for (Colour c : icon.Pixels()) rgba.insert(rgba.end(), {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c), 255});
  EM_ASM({
    var canvas = document.createElement('canvas');
    canvas.width = $1;
    canvas.height = $2;
    var context = canvas.getContext('2d');
    var image = context.createImageData($1, $2);
    image.data.set(HEAPU8.subarray($0, $0 + $1 * $2 * 4));
    context.putImageData(image, 0, 0);
    var link = document.querySelector('link[rel=icon]') || document.head.appendChild(document.createElement('link'));
    link.rel = 'icon';
    link.href = canvas.toDataURL('image/png');
  }, rgba.data(), icon.Width(), icon.Height());
}

std::int32_t WebPlatform::Clock() {
  // The page's monotonic clock in whole milliseconds, kept to 32 bits as the game reads it.
  const double ms = emscripten_get_now();
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms)));
}

bool WebPlatform::KeyDown(std::int16_t code) {
  if (keyCount_ < keys_.size()) {
    keys_[(keyHead_ + keyCount_) % keys_.size()] = code;
    ++keyCount_;
  }
  return true;
}

void WebPlatform::PumpEvents(WindowEvents& events) {
  // Gamepads are read, not heard: each press joins the keys' queue.
  EM_ASM({ if (typeof readPads === 'function') readPads(); });
  if (storageReady_) {
    storageReady_ = false;
    events.Store_Ready();
  }
  if (runToWatch_) {
    events.Watch_Run(*runToWatch_);
    runToWatch_.reset();
  }
  while (keyCount_ > 0) {
    std::int16_t code = keys_[keyHead_];
    keyHead_ = (keyHead_ + 1) % keys_.size();
    --keyCount_;
    events.Form_KeyDown(code);
  }
}

std::string WebPlatform::Watch(const std::string& code) {
  std::string problem;
  auto checked = CheckRun(code, &problem);
  if (!checked) return problem;
  runToWatch_ = std::move(checked->run);
  return {};
}

void WebPlatform::WaitForEvents(std::int32_t timeoutMs) {
  // Hands the page back to the browser until the deadline; keys are queued meanwhile.
  if (timeoutMs > 0) emscripten_sleep(static_cast<unsigned>(timeoutMs));
}

std::uint32_t WebPlatform::RandomSeed() {
  return static_cast<std::uint32_t>(EM_ASM_DOUBLE({ return Date.now() % 4294967296; }));
}

void WebPlatform::SetCaption(const std::string& caption) {
  EM_ASM({ document.title = UTF8ToString($0); }, caption.c_str());
}

void WebPlatform::SetClientSize(int width, int height) {
  EM_ASM({
    Module.quillonCanvas.width = $0;
    Module.quillonCanvas.height = $1;
  }, width, height);
}

void WebPlatform::ShowWindow() {
  EM_ASM({
    Module.quillonStatus(String());
    Module.quillonContext.fillStyle = '#000';
    Module.quillonContext.fillRect(0, 0, Module.quillonCanvas.width, Module.quillonCanvas.height);
  });
}

void WebPlatform::Present(const Surface& surface) {
  // Only the rectangle that changed goes to the canvas: drawing a canvas is what costs a
  // browser most, and on the title only the prompt changes.
  const int w = std::min(surface.Width(), kScreenW), h = std::min(surface.Height(), kScreenH);
  int top = h, bottom = -1, left = w, right = -1;
  // Only the rows written since this surface was last shown, if it was the one shown.
  auto [from, to] = &surface == lastShown_ ? surface.TouchedRows() : std::pair{0, h - 1};
  surface.ForgetTouched();
  lastShown_ = &surface;
  for (int y = std::max(from, 0); y <= std::min(to, h - 1); ++y) {
    const Colour* row = surface.Row(y);
    const std::size_t at = static_cast<std::size_t>(y) * kScreenW;
    Colour* shown = shown_.data() + at;
    std::uint32_t* rgba = rgba_.data() + at;
    int first = w, last = -1;
    const auto take = [&](int x) {
      if (row[x] == shown[x]) return;
      shown[x] = row[x];
      rgba[x] = ToRgba(row[x]);
      first = std::min(first, x);
      last = x;
    };
    // Eight pixels at a time where nothing changed, which is most of every frame.
    int x = 0;
    for (; x + 8 <= w; x += 8) {
      std::uint64_t now[4], was[4];
      std::memcpy(now, row + x, sizeof now);
      std::memcpy(was, shown + x, sizeof was);
      if (((now[0] ^ was[0]) | (now[1] ^ was[1]) | (now[2] ^ was[2]) | (now[3] ^ was[3])) == 0) continue;
      for (int i = x; i < x + 8; ++i) take(i);
    }
    for (; x < w; ++x) take(x);
    if (last < 0) continue;
    top = std::min(top, y);
    bottom = y;
    left = std::min(left, first);
    right = std::max(right, last);
  }
  EM_ASM({
    if (!Module.quillonPresented) Module.quillonFirstFrameMs = performance.now();
    // Not every browser tells the page when only its device pixels change.
    if (typeof fit === 'function' && fit.ratio !== devicePixelRatio) fit();
    Module.quillonPresented++;
    // A test that wants every frame's fingerprint asks for them.
    if (Module.quillonFingerprints) Module.quillonFingerprints.push(UTF8ToString($4));
    if ($1 < 0) return;
    Module.quillonContext.putImageData(Module.quillonImage, 0, 0, $2, $0, $3 - $2 + 1, $1 - $0 + 1);
  }, top, bottom, left, right, FingerprintText(surface).c_str());
}

void WebPlatform::EndProgram() {
  // A page has nothing to close to; the game just stops.
  emscripten_force_exit(0);
  std::abort();
}

}  // namespace quillon
