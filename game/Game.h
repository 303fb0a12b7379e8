#pragma once

#include "display/Font.h"
#include "display/Pictures.h"
#include "game/Platform.h"
#include "game/RunCode.h"

namespace quillon {

// The whole game on an opened platform: start-up, then the endless cycle. Never returns; the
// program ends through the platform's EndProgram.
[[noreturn]] void RunGame(Platform& platform, const Pictures& pictures, const Font* font);
// The same start-up, then one recorded round played in the window, then the end; stores nothing.
[[noreturn]] void WatchGame(Platform& platform, const Pictures& pictures, const Font* font, const RunRecord& run);

}  // namespace quillon
