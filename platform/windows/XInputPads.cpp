#include "platform/windows/XInputPads.h"

#include <windows.h>

#include "game/Input.h"

namespace quillon {

namespace {

// XINPUT_GAMEPAD's face buttons.
constexpr std::pair<std::uint16_t, PadButton> kButtons[] = {
    {0x1000, PadButton::South}, {0x2000, PadButton::East}, {0x4000, PadButton::West}, {0x8000, PadButton::North},
    {0x0010, PadButton::Start}};
// Between two looks at an empty slot.
constexpr std::int32_t kIdleMs = 1000;

// XINPUT_STATE, as xinput.h lays it out.
struct PadState {
  DWORD packet;
  WORD buttons;
  BYTE leftTrigger, rightTrigger;
  SHORT thumbLX, thumbLY, thumbRX, thumbRY;
};
using GetState = DWORD(WINAPI*)(DWORD, PadState*);

}  // namespace

XInputPads::Reader XInputPads::System() {
  GetState get = nullptr;
  for (const wchar_t* name : {L"xinput1_4.dll", L"xinput9_1_0.dll"}) {
    if (HMODULE dll = LoadLibraryW(name)) {
      get = reinterpret_cast<GetState>(reinterpret_cast<void*>(GetProcAddress(dll, "XInputGetState")));
      if (get != nullptr) break;
    }
  }
  return [get](int slot, std::uint16_t& buttons) {
    PadState state{};
    if (get == nullptr || get(static_cast<DWORD>(slot), &state) != ERROR_SUCCESS) return false;
    buttons = state.buttons;
    return true;
  };
}

void XInputPads::Poll(std::int32_t now, std::vector<std::int16_t>& codes) {
  for (int slot = 0; slot < kSlots; ++slot) {
    // Wrapping arithmetic: the clock's reading turns negative after 24 days, and wraps.
    const auto since = static_cast<std::int32_t>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(nextAsk_[slot]));
    if (idle_[slot] && since < 0) continue;
    std::uint16_t buttons = 0;
    idle_[slot] = !reader_(slot, buttons);
    if (idle_[slot]) {
      last_[slot] = 0;
      nextAsk_[slot] = static_cast<std::int32_t>(static_cast<std::uint32_t>(now) + kIdleMs);
      continue;
    }
    const std::uint16_t pressed = buttons & ~last_[slot];
    last_[slot] = buttons;
    // Two buttons of one key pressed at once are one press of it.
    std::int16_t given[2] = {0, 0};
    for (const auto& [bit, button] : kButtons) {
      const std::int16_t key = KeyForPadButton(button);
      if ((pressed & bit) == 0 || key == 0 || key == given[0] || key == given[1]) continue;
      given[given[0] == 0 ? 0 : 1] = key;
      codes.push_back(key);
    }
  }
}

}  // namespace quillon
