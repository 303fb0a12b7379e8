#pragma once

#include <cstdint>

namespace quillon {

// What a player can press, as the key codes the game's key handler takes (Windows' own
// virtual-key numbers). Platforms turn their keys, taps and buttons into these; nothing else
// of the game is theirs to know.
constexpr std::int16_t kKeyEnter = 13;    // start, and the high jump
constexpr std::int16_t kKeySpace = 32;    // the low jump
constexpr std::int16_t kKeyProcess = 229; // a key an input method took for itself: the low jump too
constexpr std::int16_t kKeyWatch = 87;    // W, on the title: watch the best run again
constexpr std::int16_t kKeyDaily = 68;    // D, on the title: the day's round, the same for everyone
constexpr std::int16_t kKeyEscape = 27;   // stops a run being watched

// A gamepad's face buttons by where they sit (A, B, X, Y on an Xbox pad; cross, circle,
// square, triangle on a PlayStation one), as SDL and XInput both name them, and its Start
// (Options, +) button.
enum class PadButton : std::uint8_t { South, East, West, North, Start };

// The one table of what each button does; the page's script (input.js) mirrors it.
constexpr std::int16_t KeyForPadButton(PadButton button) {
  switch (button) {
    case PadButton::South:
      return kKeyEnter;
    case PadButton::East:
    case PadButton::West:
      return kKeySpace;
    case PadButton::North:
      return kKeyWatch;
    case PadButton::Start:
      return kKeyDaily;
    default:
      return 0;
  }
}

}  // namespace quillon
