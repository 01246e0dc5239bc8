#include "capture/sample_grabber_callback.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace capture {

SampleGrabberCallback::~SampleGrabberCallback() { pSampleData = nullptr; }

bool SampleGrabberCallback::AllocateBuffer(long length) {
  if (length < 1) return false;
  frameCopy.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(length)]);
  if (!frameCopy) return false;
  expectedLength = length;
  bufferReady = true;
  frameWaiting = false;
  lastSampleLength = 0;
  return true;
}

HRESULT SampleGrabberCallback::SampleCB(double, MediaSample* sample) {
  // A stored frame has not been taken: drop the sample untouched.
  if (frameEvent.IsSet()) return S_OK;
  if (!sample || sample->GetPointer(&pSampleData) != S_OK || !pSampleData) return S_OK;
  lastSampleLength = sample->GetActualDataLength();
  // Without a sized buffer no length can be right.
  if (lastSampleLength != expectedLength || !bufferReady) {
    std::printf("ERROR: SampleCB() - buffer sizes do not match\n");
    return S_OK;
  }
  {
    std::lock_guard<std::mutex> lock(frameLock);
    std::memcpy(frameCopy.get(), pSampleData, static_cast<std::size_t>(lastSampleLength));
    frameWaiting = true;
    storedArrival = std::chrono::steady_clock::now();
  }
  frameEvent.Set();
  return S_OK;
}

}  // namespace capture
