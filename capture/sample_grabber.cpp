#include "capture/sample_grabber.h"

#include <cstring>

namespace capture {

class SampleGrabberFilter::InputPin final : public InputPinBase {
 public:
  explicit InputPin(SampleGrabberFilter& grabber) : InputPinBase(grabber, u"Input"), grabber_(grabber) {}
  HRESULT QueryAccept(const MediaType& type) override { return grabber_.Accepts(type) ? S_OK : S_FALSE; }
  HRESULT Receive(MediaSample& sample) override { return grabber_.Receive(sample); }

 private:
  SampleGrabberFilter& grabber_;
};

class SampleGrabberFilter::OutputPin final : public OutputPinBase {
 public:
  explicit OutputPin(SampleGrabberFilter& grabber) : OutputPinBase(grabber, u"Output"), grabber_(grabber) {}
  // Samples leave as they came in.
  HRESULT GetMediaType(int index, MediaType* type) override {
    if (!type) return E_POINTER;
    if (index != 0) return S_FALSE;
    return grabber_.input_->ConnectionMediaType(type) == S_OK ? S_OK : S_FALSE;
  }

 private:
  SampleGrabberFilter& grabber_;
};

SampleGrabberFilter::SampleGrabberFilter()
    : input_(std::make_unique<InputPin>(*this)), output_(std::make_unique<OutputPin>(*this)) {}

SampleGrabberFilter::~SampleGrabberFilter() = default;

PinBase* SampleGrabberFilter::PinAt(int index) {
  if (index == 0) return input_.get();
  if (index == 1) return output_.get();
  return nullptr;
}

HRESULT SampleGrabberFilter::QuerySampleGrabber(std::shared_ptr<SampleGrabber>* grabber) {
  if (!grabber) return E_POINTER;
  *grabber = std::shared_ptr<SampleGrabber>(shared_from_this(), static_cast<SampleGrabber*>(this));
  return S_OK;
}

HRESULT SampleGrabberFilter::SetOneShot(bool oneShot) {
  std::lock_guard<std::mutex> lock(callbackMutex_);
  oneShot_ = oneShot;
  oneShotDone_ = false;
  return S_OK;
}

HRESULT SampleGrabberFilter::SetBufferSamples(bool bufferThem) {
  std::lock_guard<std::mutex> lock(callbackMutex_);
  bufferSamples_ = bufferThem;
  return S_OK;
}

HRESULT SampleGrabberFilter::GetCurrentBuffer(long* size, std::uint8_t* buffer) {
  if (!size) return E_POINTER;
  std::lock_guard<std::mutex> lock(callbackMutex_);
  if (!bufferSamples_ || !haveBuffer_) return VFW_E_WRONG_STATE;
  const long length = static_cast<long>(currentBuffer_.size());
  if (!buffer) {
    *size = length;
    return S_OK;
  }
  if (*size < length) return E_OUTOFMEMORY;
  std::memcpy(buffer, currentBuffer_.data(), currentBuffer_.size());
  *size = length;
  return S_OK;
}

HRESULT SampleGrabberFilter::SetCallback(SampleGrabberCB* callback, int whichMethod) {
  if (whichMethod != 0 && whichMethod != 1) return E_INVALIDARG;
  // Taking the lock waits for a callback in progress; later samples see the new one.
  std::lock_guard<std::mutex> lock(callbackMutex_);
  callback_ = callback;
  whichMethod_ = whichMethod;
  return S_OK;
}

HRESULT SampleGrabberFilter::SetMediaType(const MediaType& type) {
  std::lock_guard<std::mutex> lock(callbackMutex_);
  acceptedType_ = type;
  return S_OK;
}

HRESULT SampleGrabberFilter::GetConnectedMediaType(MediaType* type) {
  if (!type) return E_POINTER;
  return input_->ConnectionMediaType(type);
}

bool SampleGrabberFilter::Accepts(const MediaType& type) const {
  std::lock_guard<std::mutex> lock(callbackMutex_);
  return MatchesPattern(acceptedType_, type);
}

HRESULT SampleGrabberFilter::Receive(MediaSample& sample) {
  {
    std::lock_guard<std::mutex> lock(callbackMutex_);
    if (oneShot_ && oneShotDone_) return S_FALSE;
    oneShotDone_ = oneShot_;
    std::uint8_t* data = nullptr;
    const bool haveData = sample.GetPointer(&data) == S_OK && data;
    const long length = sample.GetActualDataLength();
    if (bufferSamples_ && haveData && length >= 0) {
      currentBuffer_.assign(data, data + length);
      haveBuffer_ = true;
    }
    if (callback_) {
      const double time = StreamTime();
      if (whichMethod_ == 0)
        callback_->SampleCB(time, &sample);
      else if (haveData)
        callback_->BufferCB(time, data, length);
    }
  }
  return output_->Deliver(sample);
}

}  // namespace capture
