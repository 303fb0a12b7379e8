#include <algorithm>
#include <cstring>

#include "platform/Scaling.h"
#include "platform/sdl/SdlPlatform.h"

// Presenting: each frame the game draws, scaled by whole pixels into what the window shows.
namespace quillon {

SDL_Surface* SdlPlatform::Target() {
  if (renderer_ == nullptr && wayland_ == nullptr) return SDL_GetWindowSurface(window_);
  int w = 0, h = 0;
  if (wayland_ != nullptr) {
    SDL_GetWindowSizeInPixels(window_, &w, &h);
  } else if (SDL_GetRendererOutputSize(renderer_, &w, &h) != 0) {
    return nullptr;
  }
  if (w <= 0 || h <= 0) return nullptr;
  if (buffer_ == nullptr || buffer_->w != w || buffer_->h != h) {
    if (texture_ != nullptr) SDL_DestroyTexture(texture_);
    texture_ = nullptr;
    SDL_FreeSurface(buffer_);
    buffer_ = SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_RGB888);
    if (renderer_ != nullptr) {
      texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, w, h);
      if (texture_ == nullptr) return nullptr;
    }
    if (buffer_ == nullptr) return nullptr;
  }
  return buffer_;
}

void SdlPlatform::Show(int top, int bottom, bool all) {
  SDL_Surface* screen = Target();
  if (screen == nullptr) Fail("the window has no surface to draw on");
  // A new or resized surface holds nothing of ours yet.
  all = all || redrawAll_ || screen != shownOn_;
  if (all) {
    top = 0;
    bottom = kScreenH - 1;
  }
  const Placement place = PlaceIn(screen->w, screen->h, kScreenW, kScreenH);
  const int bytes = screen->format->BytesPerPixel;
  if (SDL_MUSTLOCK(screen) && SDL_LockSurface(screen) != 0) Fail("cannot draw on the window");
  if (all) SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, 0, 0, 0));
  // The game's own colours are the window's nearly always: a copy in another format only where not.
  const std::uint8_t* frame = reinterpret_cast<const std::uint8_t*>(last_.data());
  if (screen->format->format != SDL_PIXELFORMAT_RGB888) {
    inFormat_.resize(static_cast<std::size_t>(kScreenW) * kScreenH * bytes);
    SDL_ConvertPixels(kScreenW, bottom - top + 1, SDL_PIXELFORMAT_RGB888, last_.data() + top * kScreenW,
                      kScreenW * 4, screen->format->format, inFormat_.data() + top * kScreenW * bytes,
                      kScreenW * bytes);
    frame = inFormat_.data();
  }
  ScaleRows(frame, kScreenW, top, bottom, bytes, static_cast<std::uint8_t*>(screen->pixels), screen->pitch, screen->w,
            screen->h, place);
  if (SDL_MUSTLOCK(screen)) SDL_UnlockSurface(screen);
  shownOn_ = screen;
  redrawAll_ = false;
  SDL_Rect rows{std::max(0, place.x), std::max(0, place.y + top * place.scale), kScreenW * place.scale,
                (bottom - top + 1) * place.scale};
  rows.w = std::min(rows.w, screen->w - rows.x);
  rows.h = std::min(rows.h, screen->h - rows.y);
  if (wayland_ != nullptr) {
    // Hidden, it has nowhere to go yet: it goes whole when the window shows.
    if ((SDL_GetWindowFlags(window_) & SDL_WINDOW_SHOWN) == 0) {
      redrawAll_ = true;
      return;
    }
    if (!wayland_->Show(*screen, all ? 0 : rows.y, all ? screen->h - 1 : rows.y + rows.h - 1)) {
      Fail("cannot draw on the window");
    }
    return;
  }
  if (renderer_ != nullptr) {
    // One texel a device pixel: nothing for the renderer to smooth.
    if (SDL_UpdateTexture(texture_, nullptr, screen->pixels, screen->pitch) != 0 ||
        SDL_RenderCopy(renderer_, texture_, nullptr, nullptr) != 0) {
      Fail("cannot draw on the window");
    }
    SDL_RenderPresent(renderer_);
    return;
  }
  if (all) {
    SDL_UpdateWindowSurface(window_);
    return;
  }
  if (rows.w > 0 && rows.h > 0) SDL_UpdateWindowSurfaceRects(window_, &rows, 1);
}

void SdlPlatform::Present(const Surface& surface) {
  // Only the rows that changed are scaled and sent: on the title that is the prompt alone.
  const int w = std::min(surface.Width(), kScreenW), h = std::min(surface.Height(), kScreenH);
  int top = h, bottom = -1;
  for (int y = 0; y < h; ++y) {
    Colour* shown = last_.data() + static_cast<std::size_t>(y) * kScreenW;
    if (std::memcmp(shown, surface.Row(y), static_cast<std::size_t>(w) * sizeof(Colour)) == 0) continue;
    std::memcpy(shown, surface.Row(y), static_cast<std::size_t>(w) * sizeof(Colour));
    top = std::min(top, y);
    bottom = y;
  }
  if (bottom >= 0 || redrawAll_) Show(top, std::max(top, bottom), false);
}

}  // namespace quillon
