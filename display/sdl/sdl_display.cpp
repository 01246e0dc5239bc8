#include "display/sdl/sdl_display.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

namespace display {

namespace {

// One counted reference to SDL's video subsystem; the subsystem stops with the last one.
class VideoReference {
 public:
  VideoReference() : held_(SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) {}
  ~VideoReference() {
    if (held_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }
  VideoReference(VideoReference&& other) noexcept : held_(std::exchange(other.held_, false)) {}
  VideoReference(const VideoReference&) = delete;
  VideoReference& operator=(const VideoReference&) = delete;
  VideoReference& operator=(VideoReference&&) = delete;

  bool held() const { return held_; }

 private:
  bool held_;
};

struct SdlDeleter {
  void operator()(SDL_Window* window) const { SDL_DestroyWindow(window); }
  void operator()(SDL_Renderer* renderer) const { SDL_DestroyRenderer(renderer); }
  void operator()(SDL_Texture* texture) const { SDL_DestroyTexture(texture); }
};
template <typename T>
using SdlPtr = std::unique_ptr<T, SdlDeleter>;

void Report(int adapter, const char* what) {
  std::fprintf(stderr, "display: adapter %d: %s: %s\n", adapter, what, SDL_GetError());
}

bool ValidParameters(const PresentParameters& parameters) {
  return parameters.BackBufferFormat == Format::X8R8G8B8 && parameters.BackBufferWidth > 0 &&
         parameters.BackBufferHeight > 0 && parameters.BackBufferWidth <= 16384 && parameters.BackBufferHeight <= 16384;
}

// What a device shares with the surfaces it hands out: a surface may outlive its device or a
// reset, and then finds no texture instead of a dangling one.
struct BackBuffer {
  SDL_Texture* texture = nullptr;
  bool locked = false;
  int references = 0;
};

class SdlSurface final : public Surface {
 public:
  explicit SdlSurface(std::shared_ptr<BackBuffer> backBuffer) : backBuffer_(std::move(backBuffer)) {
    ++backBuffer_->references;
  }
  ~SdlSurface() override {
    UnlockRect();
    --backBuffer_->references;
  }

  HRESULT LockRect(LockedRect* locked) override {
    if (!locked || !backBuffer_->texture || backBuffer_->locked) return D3DERR_INVALIDCALL;
    void* pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(backBuffer_->texture, nullptr, &pixels, &pitch) != 0) return D3DERR_INVALIDCALL;
    backBuffer_->locked = true;
    lockedHere_ = true;
    locked->pBits = pixels;
    locked->Pitch = pitch;
    return D3D_OK;
  }

  HRESULT UnlockRect() override {
    if (!lockedHere_) return D3DERR_INVALIDCALL;
    lockedHere_ = false;
    backBuffer_->locked = false;
    if (backBuffer_->texture) SDL_UnlockTexture(backBuffer_->texture);
    return D3D_OK;
  }

 private:
  std::shared_ptr<BackBuffer> backBuffer_;
  bool lockedHere_ = false;
};

class SdlDevice final : public Device {
 public:
  SdlDevice(VideoReference video, SdlPtr<SDL_Window> window, int adapter, SdlRendererChoice rendererChoice, bool vsync,
            bool linear)
      : video_(std::move(video)),
        window_(std::move(window)),
        windowId_(SDL_GetWindowID(window_.get())),
        adapter_(adapter),
        rendererChoice_(rendererChoice),
        vsync_(vsync),
        linear_(linear) {}

  // Texture, renderer, window: the texture belongs to the renderer, the renderer to the window.
  ~SdlDevice() override {
    if (watching_) SDL_DelEventWatch(&SdlDevice::WatchEvents, this);
    DestroyTexture();
    renderer_.reset();
    window_.reset();
  }

  SDL_Window* window() const { return window_.get(); }

  bool Open(const PresentParameters& parameters) {
    width_ = static_cast<int>(parameters.BackBufferWidth);
    height_ = static_cast<int>(parameters.BackBufferHeight);
    if (!CreateRenderer() || !CreateTexture()) return false;
    SDL_AddEventWatch(&SdlDevice::WatchEvents, this);
    watching_ = true;
    return true;
  }

  HRESULT TestCooperativeLevel() override {
    if (SDL_GetWindowFlags(window_.get()) & (SDL_WINDOW_MINIMIZED | SDL_WINDOW_HIDDEN)) {
      lostSeen_ = true;
      return D3DERR_DEVICELOST;
    }
    if (lostSeen_ || targetsReset_ || deviceReset_) return D3DERR_DEVICENOTRESET;
    return D3D_OK;
  }

  HRESULT Reset(const PresentParameters& parameters) override {
    if (!ValidParameters(parameters) || backBuffer_->references > 0) return D3DERR_INVALIDCALL;
    // Cleared first: a loss signalled while the resources are rebuilt asks for another reset.
    lostSeen_ = false;
    targetsReset_ = false;
    const bool rendererLost = deviceReset_.exchange(false);
    DestroyTexture();
    width_ = static_cast<int>(parameters.BackBufferWidth);
    height_ = static_cast<int>(parameters.BackBufferHeight);
    if (rendererLost || !renderer_) {
      renderer_.reset();
      if (!CreateRenderer()) return D3DERR_NOTAVAILABLE;
    }
    return CreateTexture() ? D3D_OK : D3DERR_NOTAVAILABLE;
  }

  HRESULT Clear(std::uint32_t color) override {
    if (!backBuffer_->texture || backBuffer_->locked) return D3DERR_INVALIDCALL;
    void* pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(backBuffer_->texture, nullptr, &pixels, &pitch) != 0) return D3DERR_INVALIDCALL;
    for (int r = 0; r < height_; ++r) {
      auto* row =
          reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(pixels) + static_cast<std::ptrdiff_t>(r) * pitch);
      std::fill_n(row, width_, color);
    }
    SDL_UnlockTexture(backBuffer_->texture);
    return D3D_OK;
  }

  HRESULT Present() override {
    if (!renderer_ || !backBuffer_->texture || backBuffer_->locked) return D3DERR_INVALIDCALL;
    SDL_Renderer* renderer = renderer_.get();
    // Only a display larger than the back buffer shows bars; clearing them costs a full fill.
    int outputWidth = 0, outputHeight = 0;
    if (SDL_GetRendererOutputSize(renderer, &outputWidth, &outputHeight) != 0 || outputWidth != width_ ||
        outputHeight != height_) {
      SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
      SDL_RenderClear(renderer);
    }
    if (SDL_RenderCopy(renderer, backBuffer_->texture, nullptr, nullptr) != 0) return D3DERR_INVALIDCALL;
    SDL_RenderPresent(renderer);
    return D3D_OK;
  }

  HRESULT GetBackBuffer(std::unique_ptr<Surface>* surface) override {
    if (!surface) return D3DERR_INVALIDCALL;
    if (!backBuffer_->texture) return D3DERR_NOTAVAILABLE;
    *surface = std::make_unique<SdlSurface>(backBuffer_);
    return D3D_OK;
  }

 private:
  // Runs on whichever thread queues an event (SDL's event pump runs on the main thread); it only
  // raises flags, because the shell's message loop takes the events off the queue.
  static int SDLCALL WatchEvents(void* userdata, SDL_Event* event) {
    auto* self = static_cast<SdlDevice*>(userdata);
    switch (event->type) {
      case SDL_WINDOWEVENT:
        if (event->window.windowID == self->windowId_ &&
            (event->window.event == SDL_WINDOWEVENT_MINIMIZED || event->window.event == SDL_WINDOWEVENT_HIDDEN))
          self->lostSeen_ = true;
        break;
      case SDL_RENDER_TARGETS_RESET: self->targetsReset_ = true; break;
      case SDL_RENDER_DEVICE_RESET: self->deviceReset_ = true; break;
      default: break;
    }
    return 0;
  }

  bool CreateRenderer() {
    // Presents wait for the vertical retrace when asked and never otherwise, whatever SDL_RENDER_VSYNC
    // in the environment says.
    SDL_SetHintWithPriority(SDL_HINT_RENDER_VSYNC, vsync_ ? "1" : "0", SDL_HINT_OVERRIDE);
    const Uint32 vsync = vsync_ ? SDL_RENDERER_PRESENTVSYNC : 0;
    SDL_Renderer* renderer = nullptr;
    if (rendererChoice_ == SdlRendererChoice::Accelerated)
      renderer = SDL_CreateRenderer(window_.get(), -1, SDL_RENDERER_ACCELERATED | vsync);
    if (!renderer) renderer = SDL_CreateRenderer(window_.get(), -1, SDL_RENDERER_SOFTWARE | vsync);
    if (!renderer) {
      Report(adapter_, "cannot create a renderer");
      return false;
    }
    renderer_.reset(renderer);
    // Keeps the picture's proportions on a display that is not 800 x 600.
    SDL_RenderSetLogicalSize(renderer, width_, height_);
    return true;
  }

  bool CreateTexture() {
    SDL_Texture* texture =
        SDL_CreateTexture(renderer_.get(), SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width_, height_);
    if (!texture) {
      Report(adapter_, "cannot create the back buffer");
      return false;
    }
    SDL_SetTextureScaleMode(texture, linear_ ? SDL_ScaleModeLinear : SDL_ScaleModeNearest);
    backBuffer_ = std::make_shared<BackBuffer>();
    backBuffer_->texture = texture;
    return true;
  }

  void DestroyTexture() {
    if (!backBuffer_->texture) return;
    if (backBuffer_->locked) SDL_UnlockTexture(backBuffer_->texture);
    SDL_DestroyTexture(backBuffer_->texture);
    // Surfaces still holding the old back buffer now find it gone.
    backBuffer_->texture = nullptr;
    backBuffer_->locked = false;
  }

  VideoReference video_;  // declared first: outlives the window
  SdlPtr<SDL_Window> window_;
  SdlPtr<SDL_Renderer> renderer_;
  std::shared_ptr<BackBuffer> backBuffer_ = std::make_shared<BackBuffer>();
  std::uint32_t windowId_;
  int adapter_;
  SdlRendererChoice rendererChoice_;
  bool vsync_;
  bool linear_;  // the picture is scaled to the display: linear filtering
  int width_ = 0, height_ = 0;
  bool watching_ = false;
  std::atomic<bool> lostSeen_{false};
  std::atomic<bool> targetsReset_{false};
  std::atomic<bool> deviceReset_{false};
};

class SdlDisplaySystem final : public DisplaySystem {
 public:
  SdlDisplaySystem(VideoReference video, SdlDisplayOptions options) : video_(std::move(video)), options_(options) {}

  HRESULT CreateDevice(int adapter, void* focusWindow, const PresentParameters& parameters,
                       std::unique_ptr<Device>* device) override {
    if (!device || !ValidParameters(parameters)) return D3DERR_INVALIDCALL;
    const int width = static_cast<int>(parameters.BackBufferWidth);
    const int height = static_cast<int>(parameters.BackBufferHeight);

    SDL_Rect bounds{};
    Uint32 flags = 0;
    bool linear = false;
    const bool fullScreen = options_.windowMode == SdlWindowMode::FullScreen;
    if (fullScreen) {
      const int displays = SDL_GetNumVideoDisplays();
      if (adapter < 0 || adapter >= displays) {
        std::fprintf(stderr, "display: adapter %d: no such display (%d present)\n", adapter, std::max(displays, 0));
        return D3DERR_INVALIDCALL;
      }
      if (SDL_GetDisplayBounds(adapter, &bounds) != 0) {
        Report(adapter, "cannot read the display bounds");
        return D3DERR_NOTAVAILABLE;
      }
      const FullScreenPlan plan = PlanFor(adapter, cv::Size(width, height));
      flags = (plan == FullScreenPlan::SwitchMode ? SDL_WINDOW_FULLSCREEN : SDL_WINDOW_FULLSCREEN_DESKTOP) |
              SDL_WINDOW_BORDERLESS;
      linear = plan == FullScreenPlan::DesktopScaled;
    } else {
      if (adapter < 0 || adapter > 1) return D3DERR_INVALIDCALL;
      if (SDL_GetDisplayBounds(0, &bounds) != 0) {
        Report(adapter, "cannot read the bounds of the first display");
        return D3DERR_NOTAVAILABLE;
      }
      bounds.x += adapter * width;
      flags = SDL_WINDOW_SHOWN;
    }

    VideoReference video;
    if (!video.held()) {
      Report(adapter, "SDL video is not available");
      return D3DERR_NOTAVAILABLE;
    }
    // Two full-screen views stay up while focus moves between them and the pop-up window.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    const std::string title = "Display adapter " + std::to_string(adapter);
    const int x = fullScreen ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED_DISPLAY(adapter)) : bounds.x;
    const int y = fullScreen ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED_DISPLAY(adapter)) : bounds.y;
    // A desktop full-screen window has the display's size: SDL puts it on the display under its centre,
    // and a picture wider than the display would put it on the next one.
    const bool displaySized = (flags & SDL_WINDOW_FULLSCREEN_DESKTOP) == SDL_WINDOW_FULLSCREEN_DESKTOP;
    SdlPtr<SDL_Window> window(SDL_CreateWindow(title.c_str(), x, y, displaySized ? bounds.w : width,
                                               displaySized ? bounds.h : height, flags));
    if (!window) {
      Report(adapter, "cannot create the window");
      return D3DERR_NOTAVAILABLE;
    }
    // SDL may leave a full-screen window where the old mode centred it.
    if (fullScreen) SDL_SetWindowPosition(window.get(), bounds.x, bounds.y);

    auto made = std::make_unique<SdlDevice>(std::move(video), std::move(window), adapter, options_.renderer,
                                            options_.vsync, linear);
    if (!made->Open(parameters)) return D3DERR_NOTAVAILABLE;
    *device = std::move(made);
    return D3D_OK;
  }

 private:
  static FullScreenPlan PlanFor(int adapter, cv::Size picture) {
    SDL_DisplayMode desktop{};
    if (SDL_GetDesktopDisplayMode(adapter, &desktop) != 0) return FullScreenPlan::DesktopScaled;
    std::vector<cv::Size> modes;
    const int count = SDL_GetNumDisplayModes(adapter);
    for (int i = 0; i < count; ++i) {
      SDL_DisplayMode mode{};
      if (SDL_GetDisplayMode(adapter, i, &mode) == 0) modes.emplace_back(mode.w, mode.h);
    }
    return display::PlanFullScreen(cv::Size(desktop.w, desktop.h), modes, picture);
  }

  VideoReference video_;
  SdlDisplayOptions options_;
};

class SdlDisplayDriver final : public DisplayDriver {
 public:
  explicit SdlDisplayDriver(SdlDisplayOptions options) : options_(options) {}

  std::unique_ptr<DisplaySystem> Create() override {
    VideoReference video;
    if (!video.held()) {
      std::fprintf(stderr, "display: SDL video is not available: %s\n", SDL_GetError());
      return nullptr;
    }
    return std::make_unique<SdlDisplaySystem>(std::move(video), options_);
  }

 private:
  SdlDisplayOptions options_;
};

}  // namespace

FullScreenPlan PlanFullScreen(cv::Size desktop, const std::vector<cv::Size>& modes, cv::Size picture) {
  if (desktop == picture) return FullScreenPlan::Desktop;
  // A mode of another shape than the display's own would be stretched by the display's scaler (an
  // 800 x 600 mode on a wide panel); there linear scaling of our own keeps the proportions.
  const bool ownShape = !modes.empty() && static_cast<long>(modes.front().width) * picture.height ==
                                              static_cast<long>(modes.front().height) * picture.width;
  if (ownShape && std::find(modes.begin(), modes.end(), picture) != modes.end()) return FullScreenPlan::SwitchMode;
  return FullScreenPlan::DesktopScaled;
}

std::unique_ptr<DisplayDriver> MakeSdlDisplayDriver(SdlDisplayOptions options) {
  return std::make_unique<SdlDisplayDriver>(options);
}

SDL_Window* SdlDeviceWindow(Device& device) {
  auto* sdl = dynamic_cast<SdlDevice*>(&device);
  return sdl ? sdl->window() : nullptr;
}

}  // namespace display
