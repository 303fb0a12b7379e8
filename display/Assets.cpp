#include "display/Assets.h"

// The assembler pulls each file in whole; QUILLON_ASSET_DIR comes from the build.
#define QUILLON_EMBED(name, file)                                                   \
  asm(".section .rodata\n.balign 16\n.global quillon_asset_" #name "\n"            \
      "quillon_asset_" #name ":\n.incbin \"" QUILLON_ASSET_DIR "/" file "\"\n"      \
      ".global quillon_asset_" #name "_end\nquillon_asset_" #name "_end:\n.byte 0\n" \
      ".previous\n");                                                               \
  extern "C" const char quillon_asset_##name[];                                     \
  extern "C" const char quillon_asset_##name##_end[];                               \
  static std::string_view View_##name() {                                           \
    return {quillon_asset_##name,                                                   \
            static_cast<std::size_t>(quillon_asset_##name##_end - quillon_asset_##name)}; \
  }

QUILLON_EMBED(car0, "car0.txt")
QUILLON_EMBED(car1, "car1.txt")
QUILLON_EMBED(car2, "car2.txt")
QUILLON_EMBED(car3, "car3.txt")
QUILLON_EMBED(car4, "car4.txt")
QUILLON_EMBED(coin, "coin.txt")
QUILLON_EMBED(ball, "ball.txt")
QUILLON_EMBED(icon32, "icon32.txt")
QUILLON_EMBED(icon16, "icon16.txt")
QUILLON_EMBED(title, "title.pgm")
QUILLON_EMBED(prompt, "prompt.pgm")
QUILLON_EMBED(banner, "banner.pgm")

namespace quillon::assets {

std::string_view Car(int stage) {
  switch (stage) {
    case 0: return View_car0();
    case 1: return View_car1();
    case 2: return View_car2();
    case 3: return View_car3();
    default: return View_car4();
  }
}
std::string_view Coin() { return View_coin(); }
std::string_view Ball() { return View_ball(); }
std::string_view Icon32() { return View_icon32(); }
std::string_view Icon16() { return View_icon16(); }
std::string_view Title() { return View_title(); }
std::string_view Prompt() { return View_prompt(); }
std::string_view Banner() { return View_banner(); }

}  // namespace quillon::assets
