#include "capture/device_source_filter.h"

namespace capture {

class DeviceSourceFilter::StreamPin final : public OutputPinBase {
 public:
  StreamPin(DeviceSourceFilter& filter, std::u16string name, const GUID& category, StreamConfig& config)
      : OutputPinBase(filter, std::move(name)), filter_(filter), category_(category), config_(config) {}

  HRESULT QueryCategory(GUID* category) override {
    if (!category) return E_POINTER;
    *category = category_;
    return S_OK;
  }
  // The stream's current format is the one type the pin offers. A stream that cannot tell its format
  // still is a video stream: it offers a bare video type, which no filter takes for a connection.
  HRESULT GetMediaType(int index, MediaType* type) override {
    if (!type) return E_POINTER;
    if (index != 0) return S_FALSE;
    std::unique_ptr<MediaType> current;
    if (SUCCEEDED(config_.GetFormat(&current)) && current) {
      *type = *current;
    } else {
      *type = MediaType{};
      type->majortype = MEDIATYPE_Video;
    }
    return S_OK;
  }
  HRESULT QueryStreamConfig(std::shared_ptr<StreamConfig>* config) override {
    if (!config) return E_POINTER;
    *config = std::shared_ptr<StreamConfig>(filter_.shared_from_this(), &config_);
    return S_OK;
  }

 private:
  DeviceSourceFilter& filter_;
  const GUID category_;
  StreamConfig& config_;
};

DeviceSourceFilter::DeviceSourceFilter(std::unique_ptr<SourceDevice> device) : device_(std::move(device)) {
  capturePin_ = std::make_unique<StreamPin>(*this, u"Capture", PIN_CATEGORY_CAPTURE, device_->CaptureStream());
  if (StreamConfig* preview = device_->PreviewStream())
    previewPin_ = std::make_unique<StreamPin>(*this, u"Preview", PIN_CATEGORY_PREVIEW, *preview);
}

DeviceSourceFilter::~DeviceSourceFilter() {
  // The streaming thread must be gone before the pins it delivers through.
  delivering_ = false;
  device_->StopStreaming();
}

std::shared_ptr<DeviceSourceFilter> DeviceSourceFilter::Create(std::unique_ptr<SourceDevice> device) {
  if (!device) return nullptr;
  return std::make_shared<DeviceSourceFilter>(std::move(device));
}

int DeviceSourceFilter::PinCount() const { return previewPin_ ? 2 : 1; }

PinBase* DeviceSourceFilter::PinAt(int index) {
  if (index == 0) return capturePin_.get();
  if (index == 1) return previewPin_.get();
  return nullptr;
}

HRESULT DeviceSourceFilter::QueryCrossbar(std::shared_ptr<Crossbar>* crossbar) {
  if (!crossbar) return E_POINTER;
  Crossbar* inputs = device_->InputSwitch();
  if (!inputs) return E_NOINTERFACE;
  *crossbar = std::shared_ptr<Crossbar>(shared_from_this(), inputs);
  return S_OK;
}

HRESULT DeviceSourceFilter::OnRun() {
  if (!streaming_) {
    const HRESULT hr = device_->StartStreaming(*this);
    if (FAILED(hr)) return hr;
    streaming_ = true;
  }
  delivering_ = true;
  return S_OK;
}

HRESULT DeviceSourceFilter::OnPause() {
  // A live source delivers nothing while paused.
  delivering_ = false;
  return S_OK;
}

HRESULT DeviceSourceFilter::OnStop() {
  delivering_ = false;
  if (streaming_) {
    device_->StopStreaming();
    streaming_ = false;
  }
  return S_OK;
}

HRESULT DeviceSourceFilter::Deliver(MediaSample& sample) {
  if (!delivering_) return S_FALSE;
  capturePin_->Deliver(sample);
  if (previewPin_) previewPin_->Deliver(sample);
  return S_OK;
}

}  // namespace capture
