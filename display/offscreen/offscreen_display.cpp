#include "display/offscreen/offscreen_display.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace display {

OffscreenScreens::OffscreenScreens(int adapterCount, bool keepFrames)
    : screens_(static_cast<std::size_t>(std::max(adapterCount, 0))), keepFrames_(keepFrames) {}

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
  if (keepFrames_) view.copyTo(screens_[adapter].frame);
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

// The plan and the journal, shared by a driver and everything it made.
struct Faults {
  OffscreenFaultPlan plan;
  int systemsCreated = 0;

  void Note(const std::string& event) const {
    if (plan.journal) plan.journal(event);
  }
  bool journaling() const { return static_cast<bool>(plan.journal); }
  const OffscreenFaultPlan::Adapter& Of(int adapter) const {
    static const OffscreenFaultPlan::Adapter none;
    return adapter >= 0 && adapter < 2 ? plan.adapters[adapter] : none;
  }
};

class OffscreenDevice final : public Device {
 public:
  OffscreenDevice(std::shared_ptr<OffscreenScreens> screens, std::shared_ptr<Faults> faults, int adapter,
                  const PresentParameters& parameters)
      : screens_(std::move(screens)), faults_(std::move(faults)), adapter_(adapter) {
    Allocate(parameters);
  }
  ~OffscreenDevice() override { faults_->Note("release device on adapter " + std::to_string(adapter_)); }

  HRESULT TestCooperativeLevel() override {
    const auto& plan = faults_->Of(adapter_);
    const int check = checks_++;
    const int lost = plan.lostAtCheck, resettable = plan.resettableAtCheck;
    const int start = lost >= 0 && (resettable < 0 || lost < resettable) ? lost : resettable;
    if (start < 0 || check < start || resetAfterCheck_ > start) return D3D_OK;  // no loss, not yet, or over
    return resettable >= 0 && check >= resettable ? D3DERR_DEVICENOTRESET : D3DERR_DEVICELOST;
  }

  HRESULT Reset(const PresentParameters& parameters) override {
    faults_->Note("reset adapter " + std::to_string(adapter_));
    if (faults_->Of(adapter_).resetFails || !ValidParameters(parameters) || backBuffer_->references > 0)
      return D3DERR_INVALIDCALL;
    Allocate(parameters);
    resetAfterCheck_ = checks_;
    return D3D_OK;
  }

  HRESULT Clear(std::uint32_t color) override {
    faults_->Note("clear adapter " + std::to_string(adapter_));
    if (backBuffer_->locked) return D3DERR_INVALIDCALL;
    for (int r = 0; r < height_; ++r)
      std::fill_n(reinterpret_cast<std::uint32_t*>(backBuffer_->pixels.data() + static_cast<std::size_t>(r) * pitch()),
                  width_, color);
    return D3D_OK;
  }

  HRESULT Present() override {
    // Presents come every pass: their line is made only when someone reads the journal.
    if (faults_->journaling()) faults_->Note("present adapter " + std::to_string(adapter_));
    if (backBuffer_->locked) return D3DERR_INVALIDCALL;
    screens_->Store(adapter_, backBuffer_->pixels.data(), width_, height_, pitch());
    return D3D_OK;
  }

  HRESULT GetBackBuffer(std::unique_ptr<Surface>* surface) override {
    const int from = faults_->Of(adapter_).noBackBufferFrom;
    if (!surface || (from >= 0 && backBufferRequests_++ >= from)) return D3DERR_INVALIDCALL;
    *surface = std::make_unique<OffscreenSurface>(backBuffer_, pitch());
    return D3D_OK;
  }

 private:
  int pitch() const { return width_ * 4 + faults_->Of(adapter_).extraRowBytes; }

  // A new buffer each time: surfaces of the old one keep theirs and write nowhere visible.
  void Allocate(const PresentParameters& parameters) {
    width_ = static_cast<int>(parameters.BackBufferWidth);
    height_ = static_cast<int>(parameters.BackBufferHeight);
    backBuffer_ = std::make_shared<BackBuffer>();
    backBuffer_->pixels.assign(static_cast<std::size_t>(pitch()) * height_, 0);
  }

  std::shared_ptr<OffscreenScreens> screens_;
  std::shared_ptr<Faults> faults_;
  int adapter_;
  int width_ = 0, height_ = 0;
  int checks_ = 0, backBufferRequests_ = 0;
  int resetAfterCheck_ = -1;  // checks done before the last reset; a reset ends a loss that began
  std::shared_ptr<BackBuffer> backBuffer_;
};

class OffscreenDisplaySystem final : public DisplaySystem {
 public:
  OffscreenDisplaySystem(std::shared_ptr<OffscreenScreens> screens, std::shared_ptr<Faults> faults, int index)
      : screens_(std::move(screens)), faults_(std::move(faults)), index_(index) {}
  ~OffscreenDisplaySystem() override { faults_->Note("release system " + std::to_string(index_)); }

  HRESULT CreateDevice(int adapter, void* focusWindow, const PresentParameters& parameters,
                       std::unique_ptr<Device>* device) override {
    faults_->Note("create device on adapter " + std::to_string(adapter));
    if (!device || adapter < 0 || adapter >= screens_->adapterCount() || !ValidParameters(parameters))
      return D3DERR_INVALIDCALL;
    if (adapter == faults_->plan.noDeviceOnAdapter) return D3D_OK;
    *device = std::make_unique<OffscreenDevice>(screens_, faults_, adapter, parameters);
    return D3D_OK;
  }

 private:
  std::shared_ptr<OffscreenScreens> screens_;
  std::shared_ptr<Faults> faults_;
  int index_;
};

class OffscreenDisplayDriver final : public DisplayDriver {
 public:
  OffscreenDisplayDriver(std::shared_ptr<OffscreenScreens> screens, std::shared_ptr<Faults> faults)
      : screens_(std::move(screens)), faults_(std::move(faults)) {}
  std::unique_ptr<DisplaySystem> Create() override {
    const int index = faults_->systemsCreated++;
    faults_->Note("create system " + std::to_string(index));
    if (index == faults_->plan.noSystemAt) return nullptr;
    return std::make_unique<OffscreenDisplaySystem>(screens_, faults_, index);
  }

 private:
  std::shared_ptr<OffscreenScreens> screens_;
  std::shared_ptr<Faults> faults_;
};

}  // namespace

std::unique_ptr<DisplayDriver> MakeOffscreenDisplayDriver(std::shared_ptr<OffscreenScreens> screens,
                                                          OffscreenFaultPlan faults) {
  if (!screens) screens = std::make_shared<OffscreenScreens>(2, false);
  auto shared = std::make_shared<Faults>();
  shared->plan = std::move(faults);
  return std::make_unique<OffscreenDisplayDriver>(std::move(screens), std::move(shared));
}

std::unique_ptr<DisplayDriver> MakeOffscreenDisplayDriver() { return MakeOffscreenDisplayDriver(nullptr); }

}  // namespace display
