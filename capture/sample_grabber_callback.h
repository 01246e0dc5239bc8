// The one-frame mailbox between a device's streaming thread and the thread that takes frames.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "capture/capture_graph.h"
#include "capture/manual_reset_event.h"

namespace capture {

// Receives the samples of one device's grabber. Owned by its CaptureDevice; the grabber only borrows
// it between SetCallback(this) and SetCallback(nullptr).
class SampleGrabberCallback final : public SampleGrabberCB {
 public:
  SampleGrabberCallback() = default;
  ~SampleGrabberCallback() override;
  SampleGrabberCallback(const SampleGrabberCallback&) = delete;
  SampleGrabberCallback& operator=(const SampleGrabberCallback&) = delete;

  // Stores the sample when no frame waits and its length is expectedLength. Streaming thread.
  HRESULT SampleCB(double sampleTime, MediaSample* sample) override;
  HRESULT BufferCB(double sampleTime, std::uint8_t* buffer, long length) override { return E_NOTIMPL; }

  // Sizes the buffer once (before the callback is registered); false when it cannot be allocated.
  bool AllocateBuffer(long length);

  // Written only by SampleCB (and AllocateBuffer before streaming).
  long lastSampleLength = 0;
  // Set by AllocateBuffer before streaming; read by SampleCB.
  long expectedLength = 0;
  bool bufferReady = false;

  std::mutex frameLock;  // guards frameCopy's contents, frameWaiting and the arrival times
  bool frameWaiting = false;
  std::unique_ptr<std::uint8_t[]> frameCopy;
  // Arrival of the frame in frameCopy, and of the frame most recently taken out.
  std::chrono::steady_clock::time_point storedArrival{};
  std::chrono::steady_clock::time_point takenArrival{};

  // Signalled from the moment a frame is stored until it has been taken.
  ManualResetEvent frameEvent;

 private:
  std::uint8_t* pSampleData = nullptr;  // the sample being handled; meaningful only inside SampleCB
};

}  // namespace capture
