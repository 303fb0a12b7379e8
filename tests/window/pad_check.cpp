// The real SDL platform under Xvfb with SDL's virtual gamepads: which key each button gives,
// with pads plugged in and out. Prints one line a check that failed; exit status 0 when none.
#include <SDL.h>

#include <cstdio>
#include <string>
#include <vector>

#include "display/Pictures.h"
#include "platform/sdl/SdlPlatform.h"

namespace {

using namespace quillon;

struct Keys : WindowEvents {
  std::vector<int> codes;
  void Form_KeyDown(std::int16_t code) override { codes.push_back(code); }
  void Form_Unload() override {}
};

int failures = 0;

void Expect(bool ok, const std::string& what) {
  if (!ok) {
    std::printf("%s\n", what.c_str());
    ++failures;
  }
}

SDL_Joystick* Plug() {
  SDL_VirtualJoystickDesc desc{};
  desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
  desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
  desc.naxes = SDL_CONTROLLER_AXIS_MAX;
  desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
  desc.name = "test pad";
  const int index = SDL_JoystickAttachVirtualEx(&desc);
  return index < 0 ? nullptr : SDL_JoystickOpen(index);
}

// Presses and releases one button, lets the platform see it; the codes the game was given.
std::vector<int> Press(SdlPlatform& platform, SDL_Joystick* pad, int button) {
  Keys keys;
  for (int state : {1, 0}) {
    SDL_JoystickSetVirtualButton(pad, button, static_cast<Uint8>(state));
    SDL_JoystickUpdate();
    platform.PumpEvents(keys);
  }
  return keys.codes;
}

}  // namespace

int main() {
  static const Pictures pictures = LoadPictures();
  static SdlPlatform platform;
  std::string error;
  if (platform.Open(pictures, nullptr, &error) != 0) {
    std::printf("no window: %s\n", error.c_str());
    return 1;
  }
  Keys none;
  // Gamepads speak to the window that has the focus, as a player's would.
  platform.ShowWindow();
  SDL_Window* window = SDL_GetWindowFromID(1);
  for (int i = 0; i < 200 && SDL_GetKeyboardFocus() != window; ++i) {
    SDL_SetWindowInputFocus(window);
    platform.PumpEvents(none);
    SDL_Delay(10);
  }
  Expect(SDL_GetKeyboardFocus() == window, "the window never had the focus");
  SDL_Joystick* first = Plug();
  Expect(first != nullptr, std::string("no virtual pad: ") + SDL_GetError());
  if (first == nullptr) return 1;
  platform.PumpEvents(none);  // the platform hears it plugged in
  Expect(Press(platform, first, SDL_CONTROLLER_BUTTON_A) == std::vector<int>{13}, "A is not Enter");
  Expect(Press(platform, first, SDL_CONTROLLER_BUTTON_B) == std::vector<int>{32}, "B is not Space");
  Expect(Press(platform, first, SDL_CONTROLLER_BUTTON_X) == std::vector<int>{32}, "X is not Space");
  Expect(Press(platform, first, SDL_CONTROLLER_BUTTON_Y) == std::vector<int>{87}, "Y is not W (watch the best run)");
  Expect(Press(platform, first, SDL_CONTROLLER_BUTTON_START) == std::vector<int>{68}, "Start is not D (the daily run)");
  Expect(Press(platform, first, SDL_CONTROLLER_BUTTON_BACK).empty(), "Back gives a key");
  // A second pad at once, then the first one unplugged: the second still plays.
  SDL_Joystick* second = Plug();
  platform.PumpEvents(none);
  Expect(Press(platform, second, SDL_CONTROLLER_BUTTON_A) == std::vector<int>{13}, "the second pad's A is not Enter");
  const int firstIndex = 0;
  SDL_JoystickClose(first);
  SDL_JoystickDetachVirtual(firstIndex);
  platform.PumpEvents(none);
  Expect(Press(platform, second, SDL_CONTROLLER_BUTTON_B) == std::vector<int>{32}, "after an unplug, B is not Space");
  std::printf("%d failed\n", failures);
  std::fflush(stdout);
  std::_Exit(failures == 0 ? 0 : 1);
}
