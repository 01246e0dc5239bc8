// The shared sample grabber: passes samples through unchanged and hands each one to a callback on the
// streaming thread; its input takes only the media type it was given.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "capture/filter_base.h"

namespace capture {

class SampleGrabberFilter : public FilterBase, public SampleGrabber {
 public:
  SampleGrabberFilter();
  ~SampleGrabberFilter() override;

  int PinCount() const override { return 2; }
  PinBase* PinAt(int index) override;
  HRESULT QuerySampleGrabber(std::shared_ptr<SampleGrabber>* grabber) override;

  HRESULT SetOneShot(bool oneShot) override;
  HRESULT SetBufferSamples(bool bufferThem) override;
  HRESULT GetCurrentBuffer(long* size, std::uint8_t* buffer) override;
  HRESULT SetCallback(SampleGrabberCB* callback, int whichMethod) override;
  HRESULT SetMediaType(const MediaType& type) override;
  HRESULT GetConnectedMediaType(MediaType* type) override;

 private:
  class InputPin;
  class OutputPin;

  bool Accepts(const MediaType& type) const;
  // Streaming thread: the callback, the kept copy, then the sample goes on downstream.
  HRESULT Receive(MediaSample& sample);

  std::unique_ptr<InputPin> input_;
  std::unique_ptr<OutputPin> output_;

  mutable std::mutex callbackMutex_;  // guards every field below; held while the callback runs
  SampleGrabberCB* callback_ = nullptr;
  int whichMethod_ = 0;
  MediaType acceptedType_;
  bool oneShot_ = false;
  bool oneShotDone_ = false;
  bool bufferSamples_ = false;
  std::vector<std::uint8_t> currentBuffer_;
  bool haveBuffer_ = false;
};

}  // namespace capture
