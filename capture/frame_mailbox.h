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
  // on standard output (always printed, whatever the diagnostic switch).
  void Store(const std::uint8_t* data, std::size_t length);
  bool HasFrame() const;
  // Waits up to `timeout` for a frame, hands it to `read` (may be empty) and empties the slot; false
  // when none came.
  bool Take(std::chrono::milliseconds timeout, const std::function<void(const std::uint8_t*)>& read);
  // When the frame most recently taken arrived; the epoch before the first take.
  std::chrono::steady_clock::time_point LastTakenArrival() const;

 private:
  // Two locks, so that the streaming thread never waits for a frame being converted: it writes the
  // frame only while none waits, and the taking thread reads it only while one does.
  mutable Mutex stateMutex_;
  std::condition_variable_any arrived_;
  bool waiting_ GUARDED_BY(stateMutex_) = false;
  std::chrono::steady_clock::time_point storedArrival_ GUARDED_BY(stateMutex_);
  std::chrono::steady_clock::time_point takenArrival_ GUARDED_BY(stateMutex_);

  Mutex frameMutex_;
  std::unique_ptr<std::uint8_t[]> frame_ GUARDED_BY(frameMutex_);
  std::size_t frameBytes_ GUARDED_BY(frameMutex_) = 0;
};

}  // namespace capture
