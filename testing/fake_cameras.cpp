#include "testing/fake_cameras.h"

#include <algorithm>

namespace testkit {

using capture::MutexLock;

class FakeCameras::Source final : public capture::SourceDevice {
 public:
  Source(std::shared_ptr<FakeCameras> cameras, int index)
      : cameras_(std::move(cameras)), index_(index), camera_(cameras_->Camera(index)) {
    MutexLock lock(cameras_->mutex_);
    ++cameras_->open_;
  }
  ~Source() override {
    StopStreaming();
    MutexLock lock(cameras_->mutex_);
    --cameras_->open_;
  }
  std::vector<capture::Capability> Capabilities() const override { return camera_.capabilities; }
  capture::HRESULT GetFormat(capture::StreamFormat* format) const override {
    if (capture::SUCCEEDED(camera_.getFormatResult)) *format = camera_.current;
    return camera_.getFormatResult;
  }
  bool SetFormat(const capture::StreamFormat& f) override {
    camera_.offers.push_back(f);
    // In 64 bits: a lying camera's ranges may span more than an int.
    const auto offered = [&f](const capture::Capability& c) {
      return c.subtype == f.subtype && f.width >= c.minWidth && f.width <= c.maxWidth && f.height >= c.minHeight &&
             f.height <= c.maxHeight && c.stepX > 0 && c.stepY > 0 &&
             (std::int64_t{f.width} - c.minWidth) % c.stepX == 0 &&
             (std::int64_t{f.height} - c.minHeight) % c.stepY == 0;
    };
    const auto& all = camera_.capabilities;
    const bool taken = camera_.accepts ? camera_.accepts(f) : std::any_of(all.begin(), all.end(), offered);
    if (taken) camera_.current = f;
    return taken;
  }
  bool DeliversRgb24() const override { return camera_.deliversRgb24; }
  bool HasPreviewPin() const override { return camera_.previewPin; }
  capture::HRESULT StartStreaming(capture::FrameSink& sink) override {
    if (capture::FAILED(camera_.startResult)) return camera_.startResult;
    MutexLock lock(cameras_->mutex_);
    cameras_->streaming_[index_] = &sink;
    return capture::S_OK;
  }
  void StopStreaming() override {
    MutexLock lock(cameras_->mutex_);
    cameras_->streaming_.erase(index_);
  }

 private:
  const std::shared_ptr<FakeCameras> cameras_;
  const int index_;
  FakeCamera& camera_;
};

FakeCamera& FakeCameras::Add(std::u16string name) {
  MutexLock lock(mutex_);
  unplugged_.push_back(false);
  cameras_.emplace_back().name = std::move(name);
  return cameras_.back();
}

std::unique_ptr<capture::DeviceBackend> FakeCameras::Backend() {
  struct Backend final : capture::DeviceBackend {
    explicit Backend(std::shared_ptr<FakeCameras> cameras) : cameras(std::move(cameras)) {}
    std::vector<capture::DeviceEntry> ListDevices() override {
      std::vector<capture::DeviceEntry> devices;
      MutexLock lock(cameras->mutex_);
      for (int index = 0; index < static_cast<int>(cameras->cameras_.size()); ++index) {
        if (cameras->unplugged_[static_cast<std::size_t>(index)]) continue;
        devices.push_back({cameras->Camera(index).name,
                           [cameras = cameras, index](auto* device) {
                             const capture::HRESULT hr = cameras->Camera(index).openResult;
                             if (capture::SUCCEEDED(hr)) *device = std::make_unique<Source>(cameras, index);
                             return hr;
                           },
                           "",
                           {}});
      }
      return devices;
    }
    const std::shared_ptr<FakeCameras> cameras;
  };
  return std::make_unique<Backend>(shared_from_this());
}

void FakeCameras::Unplug(int index) {
  MutexLock lock(mutex_);
  unplugged_[static_cast<std::size_t>(index)] = true;
  streaming_.erase(index);
}

bool FakeCameras::Push(int index, const std::vector<std::uint8_t>& bytes) {
  MutexLock lock(mutex_);
  const auto sink = streaming_.find(index);
  if (sink == streaming_.end()) return false;
  sink->second->Deliver(bytes.data(), bytes.size());
  return true;
}

int FakeCameras::OpenCount() const {
  MutexLock lock(mutex_);
  return open_;
}

}  // namespace testkit
