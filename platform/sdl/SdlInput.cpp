#include <SDL_syswm.h>

#include "game/Input.h"
#include "platform/sdl/SdlPlatform.h"
#include "platform/sdl/SdlShared.h"

// The player's keys and gamepads, and the window's own events, as the game's handlers take them.
namespace quillon {

namespace {

std::int16_t KeyCodeOf(const SDL_Keysym& key) {
  switch (key.sym) {
    case SDLK_RETURN:
    case SDLK_RETURN2:
    case SDLK_KP_ENTER:
      return kKeyEnter;
    case SDLK_SPACE:
      return kKeySpace;
    case SDLK_w:
      return kKeyWatch;
    case SDLK_d:
      return kKeyDaily;
    case SDLK_ESCAPE:
      return kKeyEscape;
    default:
      return 0;
  }
}

}  // namespace

void SdlPlatform::PumpEvents(WindowEvents& events) {
  events_ = &events;
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    switch (event.type) {
      case SDL_SYSWMEVENT:
        if (IsOurWindowDestroyed(event.syswm.msg)) sdl::windowGone = 1;
        break;
      case SDL_QUIT:
        events.Form_Unload();
        break;
      case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) events.Form_Unload();
        if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) redrawAll_ = true;
        if (event.window.event == SDL_WINDOWEVENT_EXPOSED) Show(0, kScreenH - 1, true);
        break;
      // Each face button means what the game's table of pad buttons says.
      case SDL_CONTROLLERDEVICEADDED:
        if (SDL_GameController* pad = SDL_GameControllerOpen(event.cdevice.which)) pads_.push_back(pad);
        break;
      case SDL_CONTROLLERDEVICEREMOVED:
        for (auto it = pads_.begin(); it != pads_.end(); ++it) {
          if (SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(*it)) == event.cdevice.which) {
            SDL_GameControllerClose(*it);
            pads_.erase(it);
            break;
          }
        }
        break;
      case SDL_CONTROLLERBUTTONDOWN: {
        std::int16_t code = 0;
        switch (event.cbutton.button) {
          case SDL_CONTROLLER_BUTTON_A: code = KeyForPadButton(PadButton::South); break;
          case SDL_CONTROLLER_BUTTON_B: code = KeyForPadButton(PadButton::East); break;
          case SDL_CONTROLLER_BUTTON_X: code = KeyForPadButton(PadButton::West); break;
          case SDL_CONTROLLER_BUTTON_Y: code = KeyForPadButton(PadButton::North); break;
          case SDL_CONTROLLER_BUTTON_START: code = KeyForPadButton(PadButton::Start); break;
          default: break;
        }
        if (code != 0) events.Form_KeyDown(code);
        break;
      }
      case SDL_KEYDOWN: {
        // The window's own keys; not Alt+Enter, which is a jump.
        if (event.key.keysym.sym == SDLK_F11 && event.key.repeat == 0) {
          ToggleFullScreen(!fullScreen_);
          break;
        }
        if (event.key.keysym.sym == SDLK_ESCAPE && fullScreen_) {
          ToggleFullScreen(false);
          break;
        }
        events.Form_KeyDown(KeyCodeOf(event.key.keysym));
        break;
      }
      default:
        break;
    }
  }
  if (sdl::closeRequested || sdl::windowGone) events.Form_Unload();
}

}  // namespace quillon
