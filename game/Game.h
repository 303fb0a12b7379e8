#pragma once

#include "display/Font.h"
#include "display/Pictures.h"
#include "game/Platform.h"

namespace quillon {

// The whole game on an opened platform: start-up, then the endless cycle. Never returns; the
// program ends through the platform's EndProgram.
[[noreturn]] void RunGame(Platform& platform, const Pictures& pictures, const Font* font);

}  // namespace quillon
