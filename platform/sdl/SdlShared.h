#pragma once

#include <csignal>

// What the SDL platform's files share, and nothing else includes.
namespace quillon::sdl {

// Set from a signal handler or Xlib's error handler; the next pump acts on them.
extern volatile std::sig_atomic_t closeRequested;
extern volatile std::sig_atomic_t windowGone;

}  // namespace quillon::sdl
