#include "display/Assets.h"

namespace quillon::assets {

namespace {

#include "AssetData.inc"

// The arrays end in one zero byte that is not part of the file.
template <std::size_t N>
std::string_view View(const unsigned char (&data)[N]) {
  return {reinterpret_cast<const char*>(data), N - 1};
}

}  // namespace

std::string_view Car(int stage) {
  switch (stage) {
    case 0: return View(kAsset_car0_txt);
    case 1: return View(kAsset_car1_txt);
    case 2: return View(kAsset_car2_txt);
    case 3: return View(kAsset_car3_txt);
    default: return View(kAsset_car4_txt);
  }
}
std::string_view Coin() { return View(kAsset_coin_txt); }
std::string_view Ball() { return View(kAsset_ball_txt); }
std::string_view Icon32() { return View(kAsset_icon32_txt); }
std::string_view Icon16() { return View(kAsset_icon16_txt); }
std::string_view Title() { return View(kAsset_title_pgm); }
std::string_view Prompt() { return View(kAsset_prompt_pgm); }
std::string_view Banner() { return View(kAsset_banner_pgm); }

}  // namespace quillon::assets
