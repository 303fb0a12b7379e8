#include "platform/windows/XInputPads.h"

#include <windows.h>

namespace quillon {

namespace {

constexpr std::uint16_t kButtonA = 0x1000, kButtonB = 0x2000, kButtonX = 0x4000;
// Frames between two looks at an empty slot: about a second.
constexpr int kIdleFrames = 48;

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

void XInputPads::Poll(std::vector<std::int16_t>& codes) {
  for (int slot = 0; slot < kSlots; ++slot) {
    if (idle_[slot] > 0) {
      --idle_[slot];
      continue;
    }
    std::uint16_t buttons = 0;
    if (!reader_(slot, buttons)) {
      last_[slot] = 0;
      idle_[slot] = kIdleFrames;
      continue;
    }
    const std::uint16_t pressed = buttons & ~last_[slot];
    last_[slot] = buttons;
    if (pressed & kButtonA) codes.push_back(13);
    if (pressed & (kButtonB | kButtonX)) codes.push_back(32);
  }
}

}  // namespace quillon
