#include "display/offscreen/offscreen_display.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace display {

OffscreenScreens::OffscreenScreens(int adapterCount) : screens_(static_cast<std::size_t>(std::max(adapterCount, 0))) {}

cv::Mat OffscreenScreens::LastPresented(int adapter) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (adapter < 0 || adapter >= adapterCount()) return {};
  return screens_[adapter].frame.clone();
}

std::uint64_t OffscreenScreens::PresentCount(int adapter) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (adapter < 0 || adapter >= adapterCount()) return 0;
  return screens_[adapter].presents;
}

void OffscreenScreens::Store(int adapter, const std::uint8_t* pixels, int width, int height, int pitch) {
  const cv::Mat view(height, width, CV_8UC4, const_cast<std::uint8_t*>(pixels), static_cast<std::size_t>(pitch));
  std::lock_guard<std::mutex> lock(mutex_);
  if (adapter < 0 || adapter >= adapterCount()) return;
  view.copyTo(screens_[adapter].frame);
  ++screens_[adapter].presents;
}

namespace {

bool ValidParameters(const PresentParameters& parameters) {
  return parameters.BackBufferFormat == Format::X8R8G8B8 && parameters.BackBufferWidth > 0 &&
         parameters.BackBufferHeight > 0 && parameters.BackBufferWidth <= 16384 && parameters.BackBufferHeight <= 16384;
}

// Shared by a device and its surfaces, so a surface that outlives a reset or its device is harmless.
struct BackBuffer {
  std::vector<std::uint8_t> pixels;
  bool locked = false;
  int references = 0;
};

class OffscreenSurface final : public Surface {
 public:
  OffscreenSurface(std::shared_ptr<BackBuffer> backBuffer, int pitch)
      : backBuffer_(std::move(backBuffer)), pitch_(pitch) {
    ++backBuffer_->references;
  }
  ~OffscreenSurface() override {
    UnlockRect();
    --backBuffer_->references;
  }

  HRESULT LockRect(LockedRect* locked) override {
    if (!locked || backBuffer_->locked || backBuffer_->pixels.empty()) return D3DERR_INVALIDCALL;
    backBuffer_->locked = true;
    lockedHere_ = true;
    locked->pBits = backBuffer_->pixels.data();
    locked->Pitch = pitch_;
    return D3D_OK;
  }
  HRESULT UnlockRect() override {
    if (!lockedHere_) return D3DERR_INVALIDCALL;
    lockedHere_ = false;
    backBuffer_->locked = false;
    return D3D_OK;
  }

 private:
  std::shared_ptr<BackBuffer> backBuffer_;
  int pitch_;
  bool lockedHere_ = false;
};

class OffscreenDevice final : public Device {
 public:
  OffscreenDevice(std::shared_ptr<OffscreenScreens> screens, int adapter, const PresentParameters& parameters)
      : screens_(std::move(screens)), adapter_(adapter) {
    Allocate(parameters);
  }

  HRESULT TestCooperativeLevel() override { return D3D_OK; }

  HRESULT Reset(const PresentParameters& parameters) override {
    if (!ValidParameters(parameters) || backBuffer_->references > 0) return D3DERR_INVALIDCALL;
    Allocate(parameters);
    return D3D_OK;
  }

  HRESULT Clear(std::uint32_t color) override {
    if (backBuffer_->locked) return D3DERR_INVALIDCALL;
    auto* pixels = reinterpret_cast<std::uint32_t*>(backBuffer_->pixels.data());
    std::fill_n(pixels, backBuffer_->pixels.size() / 4, color);
    return D3D_OK;
  }

  HRESULT Present() override {
    if (backBuffer_->locked) return D3DERR_INVALIDCALL;
    screens_->Store(adapter_, backBuffer_->pixels.data(), width_, height_, pitch());
    return D3D_OK;
  }

  HRESULT GetBackBuffer(std::unique_ptr<Surface>* surface) override {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = std::make_unique<OffscreenSurface>(backBuffer_, pitch());
    return D3D_OK;
  }

 private:
  int pitch() const { return width_ * 4; }

  // A new buffer each time: surfaces of the old one keep theirs and write nowhere visible.
  void Allocate(const PresentParameters& parameters) {
    width_ = static_cast<int>(parameters.BackBufferWidth);
    height_ = static_cast<int>(parameters.BackBufferHeight);
    backBuffer_ = std::make_shared<BackBuffer>();
    backBuffer_->pixels.assign(static_cast<std::size_t>(pitch()) * height_, 0);
  }

  std::shared_ptr<OffscreenScreens> screens_;
  int adapter_;
  int width_ = 0, height_ = 0;
  std::shared_ptr<BackBuffer> backBuffer_;
};

class OffscreenDisplaySystem final : public DisplaySystem {
 public:
  explicit OffscreenDisplaySystem(std::shared_ptr<OffscreenScreens> screens) : screens_(std::move(screens)) {}

  HRESULT CreateDevice(int adapter, void* focusWindow, const PresentParameters& parameters,
                       std::unique_ptr<Device>* device) override {
    if (!device || adapter < 0 || adapter >= screens_->adapterCount() || !ValidParameters(parameters))
      return D3DERR_INVALIDCALL;
    *device = std::make_unique<OffscreenDevice>(screens_, adapter, parameters);
    return D3D_OK;
  }

 private:
  std::shared_ptr<OffscreenScreens> screens_;
};

class OffscreenDisplayDriver final : public DisplayDriver {
 public:
  explicit OffscreenDisplayDriver(std::shared_ptr<OffscreenScreens> screens) : screens_(std::move(screens)) {}
  std::unique_ptr<DisplaySystem> Create() override { return std::make_unique<OffscreenDisplaySystem>(screens_); }

 private:
  std::shared_ptr<OffscreenScreens> screens_;
};

}  // namespace

std::unique_ptr<DisplayDriver> MakeOffscreenDisplayDriver(std::shared_ptr<OffscreenScreens> screens) {
  if (!screens) screens = std::make_shared<OffscreenScreens>();
  return std::make_unique<OffscreenDisplayDriver>(std::move(screens));
}

std::unique_ptr<DisplayDriver> MakeOffscreenDisplayDriver() { return MakeOffscreenDisplayDriver(nullptr); }

}  // namespace display
