#include "platform/sdl/SdlWayland.h"

#include <SDL_syswm.h>

#if defined(SDL_VIDEO_DRIVER_WAYLAND) && !defined(QUILLON_NO_WAYLAND_FRAMES)

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace quillon::sdl {

namespace {

constexpr int kMostBuffers = 3;  // one shown, one on its way, one to fill

struct Buffer {
  wl_buffer* buffer = nullptr;
  std::uint8_t* pixels = nullptr;
  std::size_t bytes = 0;
  int width = 0, height = 0;
  bool busy = false;                  // the compositor may still read it
  int lacksTop = 0, lacksBottom = -1; // rows it doesn't have yet

  ~Buffer() {
    if (buffer != nullptr) wl_buffer_destroy(buffer);
    if (pixels != nullptr) ::munmap(pixels, bytes);
  }
};

void OnRelease(void* data, wl_buffer*) { static_cast<Buffer*>(data)->busy = false; }
const wl_buffer_listener kBufferListener = {OnRelease};

}  // namespace

struct WaylandFrames::Impl {
  wl_display* display = nullptr;
  wl_surface* surface = nullptr;  // SDL's window's own
  wl_event_queue* queue = nullptr;  // ours, so that SDL's events are never handled here
  wl_registry* registry = nullptr;
  wl_shm* shm = nullptr;
  std::vector<std::unique_ptr<Buffer>> buffers;

  ~Impl() {
    buffers.clear();
    if (shm != nullptr) wl_shm_destroy(shm);
    if (registry != nullptr) wl_registry_destroy(registry);
    if (queue != nullptr) wl_event_queue_destroy(queue);
    if (display != nullptr) wl_display_flush(display);
  }

  static void OnGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
    auto* self = static_cast<Impl*>(data);
    if (self->shm == nullptr && std::string_view(interface) == wl_shm_interface.name) {
      self->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    }
  }
  static void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}

  Buffer* Make(int width, int height) {
    auto made = std::make_unique<Buffer>();
    made->width = width;
    made->height = height;
    made->bytes = static_cast<std::size_t>(width) * height * 4;
    const int fd = ::memfd_create("quillon-frame", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    void* pixels = ::ftruncate(fd, static_cast<off_t>(made->bytes)) == 0
                       ? ::mmap(nullptr, made->bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                       : MAP_FAILED;
    if (pixels == MAP_FAILED) {
      ::close(fd);
      return nullptr;
    }
    made->pixels = static_cast<std::uint8_t*>(pixels);
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(made->bytes));
    made->buffer = wl_shm_pool_create_buffer(pool, 0, width, height, width * 4, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    ::close(fd);
    if (made->buffer == nullptr) return nullptr;
    wl_buffer_add_listener(made->buffer, &kBufferListener, made.get());
    made->lacksBottom = height - 1;
    buffers.push_back(std::move(made));
    return buffers.back().get();
  }

  Buffer* Free(int width, int height) {
    // A size of its own (full screen, another output's scale): every buffer anew.
    if (!buffers.empty() && (buffers[0]->width != width || buffers[0]->height != height)) buffers.clear();
    for (int tries = 0; tries < 2; ++tries) {
      wl_display_dispatch_queue_pending(display, queue);
      for (auto& buffer : buffers)
        if (!buffer->busy) return buffer.get();
      if (static_cast<int>(buffers.size()) < kMostBuffers) return Make(width, height);
      // All three held: the compositor's answer to a round trip releases what it is done with.
      if (wl_display_roundtrip_queue(display, queue) < 0) return nullptr;
    }
    return nullptr;
  }
};

const wl_registry_listener kRegistryListener = {WaylandFrames::Impl::OnGlobal, WaylandFrames::Impl::OnGlobalRemove};

WaylandFrames::WaylandFrames(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
WaylandFrames::~WaylandFrames() = default;

std::unique_ptr<WaylandFrames> WaylandFrames::For(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (window == nullptr || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_WAYLAND) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->display = info.info.wl.display;
  impl->surface = info.info.wl.surface;
  impl->queue = wl_display_create_queue(impl->display);
  if (impl->queue == nullptr) return nullptr;
  auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(impl->display));
  if (wrapper == nullptr) return nullptr;
  wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), impl->queue);
  impl->registry = wl_display_get_registry(wrapper);
  wl_proxy_wrapper_destroy(wrapper);
  if (impl->registry == nullptr) return nullptr;
  wl_registry_add_listener(impl->registry, &kRegistryListener, impl.get());
  if (wl_display_roundtrip_queue(impl->display, impl->queue) < 0 || impl->shm == nullptr) return nullptr;
  return std::unique_ptr<WaylandFrames>(new WaylandFrames(std::move(impl)));
}

bool WaylandFrames::Show(const SDL_Surface& frame, int top, int bottom) {
  top = std::max(0, top);
  bottom = std::min(frame.h - 1, bottom);
  Buffer* buffer = impl_->Free(frame.w, frame.h);
  if (buffer == nullptr) return false;
  // Every buffer lacks these rows now; this one gets all it lacks.
  for (auto& each : impl_->buffers) {
    each->lacksTop = each->lacksBottom < each->lacksTop ? top : std::min(each->lacksTop, top);
    each->lacksBottom = std::max(each->lacksBottom, bottom);
  }
  const auto* from = static_cast<const std::uint8_t*>(frame.pixels);
  for (int y = buffer->lacksTop; y <= buffer->lacksBottom; ++y) {
    std::memcpy(buffer->pixels + static_cast<std::size_t>(y) * frame.w * 4,
                from + static_cast<std::size_t>(y) * frame.pitch, static_cast<std::size_t>(frame.w) * 4);
  }
  buffer->lacksTop = 0;
  buffer->lacksBottom = -1;
  wl_surface_attach(impl_->surface, buffer->buffer, 0, 0);
  if (bottom >= top) {
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(impl_->surface)) >= WL_SURFACE_DAMAGE_BUFFER_SINCE_VERSION) {
      wl_surface_damage_buffer(impl_->surface, 0, top, frame.w, bottom - top + 1);
    } else {
      wl_surface_damage(impl_->surface, 0, 0, INT32_MAX, INT32_MAX);
    }
  }
  wl_surface_commit(impl_->surface);
  buffer->busy = true;
  return wl_display_flush(impl_->display) >= 0 || errno == EAGAIN;
}

}  // namespace quillon::sdl

#else

namespace quillon::sdl {
struct WaylandFrames::Impl {};
WaylandFrames::WaylandFrames(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
WaylandFrames::~WaylandFrames() = default;
std::unique_ptr<WaylandFrames> WaylandFrames::For(SDL_Window*) { return nullptr; }
bool WaylandFrames::Show(const SDL_Surface&, int, int) { return false; }
}  // namespace quillon::sdl

#endif
