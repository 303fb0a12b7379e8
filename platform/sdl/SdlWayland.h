#pragma once

#include <SDL.h>

#include <memory>

namespace quillon::sdl {

// A Wayland window's frames in shared memory, handed to the compositor row by row: only what
// changed is copied and said to have changed, and nothing goes through OpenGL (which, where the
// GPU is a program, costs ten times the picture).
class WaylandFrames {
 public:
  // None where the window is no Wayland one or the compositor shares no memory.
  static std::unique_ptr<WaylandFrames> For(SDL_Window* window);
  ~WaylandFrames();
  WaylandFrames(const WaylandFrames&) = delete;
  WaylandFrames& operator=(const WaylandFrames&) = delete;

  // Rows [top, bottom] of `frame`, the whole window at its size in device pixels, to the
  // screen; false where no buffer could be had.
  bool Show(const SDL_Surface& frame, int top, int bottom);

  struct Impl;

 private:
  explicit WaylandFrames(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillon::sdl
