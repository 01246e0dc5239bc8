// The source filter of a capture device, over a backend's SourceDevice: a capture pin, a preview pin
// when the device has a preview stream, the device's input selector as crossbar, and frame delivery
// to every connected pin while the graph runs.
#pragma once

#include <atomic>
#include <memory>
#include <optional>

#include "capture/device_backend.h"
#include "capture/filter_base.h"

namespace capture {

class DeviceSourceFilter : public FilterBase, private FrameSink {
 public:
  // Use Create: filters live in std::shared_ptr.
  explicit DeviceSourceFilter(std::unique_ptr<SourceDevice> device);
  ~DeviceSourceFilter() override;

  static std::shared_ptr<DeviceSourceFilter> Create(std::unique_ptr<SourceDevice> device);

  int PinCount() const override;
  PinBase* PinAt(int index) override;
  HRESULT QueryCrossbar(std::shared_ptr<Crossbar>* crossbar) override;

  SourceDevice& Device() { return *device_; }

 protected:
  HRESULT OnRun() override;
  HRESULT OnPause() override;
  HRESULT OnStop() override;

 private:
  class StreamPin;

  HRESULT Deliver(MediaSample& sample) override;

  std::unique_ptr<SourceDevice> device_;
  std::unique_ptr<StreamPin> capturePin_;
  std::unique_ptr<StreamPin> previewPin_;  // null without a preview stream
  bool streaming_ = false;                 // StartStreaming succeeded and StopStreaming has not run
  std::atomic<bool> delivering_{false};    // samples pass on only while running
};

}  // namespace capture
