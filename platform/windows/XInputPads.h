#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace quillon {

// Up to four XInput gamepads, read as events are pumped; each button means what the game's
// one table of pad buttons (game/Input.h) says.
class XInputPads {
 public:
  static constexpr int kSlots = 4;
  // Reads one slot's buttons (XINPUT_GAMEPAD bits); false when no pad is plugged in there.
  using Reader = std::function<bool(int slot, std::uint16_t& buttons)>;

  explicit XInputPads(Reader reader) : reader_(std::move(reader)) {}
  // The system's XInput (xinput1_4.dll, else xinput9_1_0.dll), loaded at run time; a reader
  // that finds no pad where Windows has neither.
  static Reader System();

  // Adds the key codes of the buttons pressed since the last poll; `now` in milliseconds.
  void Poll(std::int32_t now, std::vector<std::int16_t>& codes);

 private:
  Reader reader_;
  std::uint16_t last_[kSlots] = {};
  // An empty slot is slow to ask about: it is asked again only after a while.
  std::int32_t nextAsk_[kSlots] = {};
  bool idle_[kSlots] = {};
};

}  // namespace quillon
