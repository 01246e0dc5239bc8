#include "capture/smart_tee.h"

namespace capture {

class SmartTeeFilter::InputPin final : public InputPinBase {
 public:
  explicit InputPin(SmartTeeFilter& tee) : InputPinBase(tee, u"Input"), tee_(tee) {}
  HRESULT QueryAccept(const MediaType& type) override { return type.majortype == MEDIATYPE_Video ? S_OK : S_FALSE; }
  HRESULT Receive(MediaSample& sample) override;

 private:
  SmartTeeFilter& tee_;
};

class SmartTeeFilter::OutputPin final : public OutputPinBase {
 public:
  OutputPin(SmartTeeFilter& tee, std::u16string name, const GUID& category)
      : OutputPinBase(tee, std::move(name)), tee_(tee), category_(category) {}
  HRESULT QueryCategory(GUID* category) override {
    if (!category) return E_POINTER;
    *category = category_;
    return S_OK;
  }
  HRESULT GetMediaType(int index, MediaType* type) override {
    if (!type) return E_POINTER;
    if (index != 0) return S_FALSE;
    return tee_.input_->ConnectionMediaType(type) == S_OK ? S_OK : S_FALSE;
  }

 private:
  SmartTeeFilter& tee_;
  const GUID category_;
};

HRESULT SmartTeeFilter::InputPin::Receive(MediaSample& sample) {
  tee_.capture_->Deliver(sample);
  tee_.preview_->Deliver(sample);
  return S_OK;
}

SmartTeeFilter::SmartTeeFilter()
    : input_(std::make_unique<InputPin>(*this)),
      capture_(std::make_unique<OutputPin>(*this, u"Capture", PIN_CATEGORY_CAPTURE)),
      preview_(std::make_unique<OutputPin>(*this, u"Preview", PIN_CATEGORY_PREVIEW)) {}

SmartTeeFilter::~SmartTeeFilter() = default;

PinBase* SmartTeeFilter::PinAt(int index) {
  switch (index) {
    case 0: return input_.get();
    case 1: return capture_.get();
    case 2: return preview_.get();
    default: return nullptr;
  }
}

PinBase& SmartTeeFilter::CaptureOutput() { return *capture_; }
PinBase& SmartTeeFilter::PreviewOutput() { return *preview_; }
PinBase& SmartTeeFilter::Input() { return *input_; }

}  // namespace capture
