// The one-frame mailbox between a device's streaming thread, which stores frames, and the thread
// that takes them: it keeps the first frame that arrives after a take and drops every later one
// until that frame has been taken.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "capture/thread_annotations.h"

namespace capture {

class FrameMailbox {
 public:
  FrameMailbox() = default;
  FrameMailbox(const FrameMailbox&) = delete;
  FrameMailbox& operator=(const FrameMailbox&) = delete;

  // Sizes the slot for frames of exactly `length` bytes, before any frame is stored; false when it
  // cannot be had. Without a slot every frame is refused.
  bool Allocate(std::size_t length);
  // Streaming thread: stores a frame when none waits; one of another length is refused with a message
  // on standard output (always printed, whatever the diagnostic switch). `captured` is when the camera
  // took it; every frame offered, stored or not, counts towards the frame period.
  void Store(const std::uint8_t* data, std::size_t length,
             std::chrono::steady_clock::time_point captured = std::chrono::steady_clock::now());
  bool HasFrame() const;
  // Waits until a frame waits or `deadline` passes; true when one waits.
  bool WaitForFrame(std::chrono::steady_clock::time_point deadline) const;
  // Waits up to `timeout` for a frame, hands it to `read` (may be empty) and empties the slot; false
  // when none came.
  bool Take(std::chrono::milliseconds timeout, const std::function<void(const std::uint8_t*)>& read);
  // When the frame most recently taken arrived, and when its camera took it; the epoch before the
  // first take.
  std::chrono::steady_clock::time_point LastTakenArrival() const;
  std::chrono::steady_clock::time_point LastTakenCapture() const;
  // When the next frame should arrive and the camera's frame period, both from the frames offered so
  // far; false before two have come.
  bool NextFrameDue(std::chrono::steady_clock::time_point* due, std::chrono::steady_clock::duration* period) const;

 private:
  // Two locks, so that the streaming thread never waits for a frame being converted: it writes the
  // frame only while none waits, and the taking thread reads it only while one does.
  mutable Mutex stateMutex_;
  mutable std::condition_variable_any arrived_;
  bool waiting_ GUARDED_BY(stateMutex_) = false;
  std::chrono::steady_clock::time_point storedArrival_ GUARDED_BY(stateMutex_);
  std::chrono::steady_clock::time_point takenArrival_ GUARDED_BY(stateMutex_);
  std::chrono::steady_clock::time_point storedCapture_ GUARDED_BY(stateMutex_);
  std::chrono::steady_clock::time_point takenCapture_ GUARDED_BY(stateMutex_);
  std::chrono::steady_clock::time_point lastOffered_ GUARDED_BY(stateMutex_);  // arrival of the latest frame
  std::chrono::steady_clock::duration period_ GUARDED_BY(stateMutex_){};       // smoothed; zero until known

  Mutex frameMutex_;
  std::unique_ptr<std::uint8_t[]> frame_ GUARDED_BY(frameMutex_);
  std::size_t frameBytes_ GUARDED_BY(frameMutex_) = 0;
};

}  // namespace capture
