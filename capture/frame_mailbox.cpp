#include "capture/frame_mailbox.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace capture {

bool FrameMailbox::Allocate(std::size_t length) {
  MutexLock lock(frameMutex_);
  frame_.reset(new (std::nothrow) std::uint8_t[length]);
  frameBytes_ = frame_ ? length : 0;
  return frame_ != nullptr;
}

void FrameMailbox::Store(const std::uint8_t* data, std::size_t length, std::chrono::steady_clock::time_point captured) {
  const auto now = std::chrono::steady_clock::now();
  {
    MutexLock state(stateMutex_);
    // Arrival intervals, smoothed over about eight frames: jitter averages out, a changed rate shows.
    if (lastOffered_ != std::chrono::steady_clock::time_point{}) {
      const auto interval = now - lastOffered_;
      period_ = period_ == std::chrono::steady_clock::duration{} ? interval : (period_ * 7 + interval) / 8;
    }
    lastOffered_ = now;
    if (waiting_) return;  // dropped unseen
  }
  {
    MutexLock frame(frameMutex_);
    if (!frame_ || length != frameBytes_) {
      std::printf("ERROR: SampleCB() - buffer sizes do not match\n");
      return;
    }
    std::memcpy(frame_.get(), data, length);
  }
  MutexLock state(stateMutex_);
  waiting_ = true;
  storedArrival_ = std::chrono::steady_clock::now();
  storedCapture_ = captured;
  arrived_.notify_all();
}

bool FrameMailbox::HasFrame() const {
  MutexLock state(stateMutex_);
  return waiting_;
}

bool FrameMailbox::WaitForFrame(std::chrono::steady_clock::time_point deadline) const {
  MutexLock state(stateMutex_);
  while (!waiting_)
    if (arrived_.wait_until(stateMutex_, deadline) == std::cv_status::timeout) return waiting_;
  return true;
}

bool FrameMailbox::Take(std::chrono::milliseconds timeout, const std::function<void(const std::uint8_t*)>& read) {
  {
    MutexLock state(stateMutex_);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!waiting_)
      if (arrived_.wait_until(stateMutex_, deadline) == std::cv_status::timeout && !waiting_) return false;
  }
  if (read) {
    MutexLock frame(frameMutex_);
    read(frame_.get());
  }
  MutexLock state(stateMutex_);
  waiting_ = false;
  takenArrival_ = storedArrival_;
  takenCapture_ = storedCapture_;
  return true;
}

std::chrono::steady_clock::time_point FrameMailbox::LastTakenCapture() const {
  MutexLock state(stateMutex_);
  return takenCapture_;
}

bool FrameMailbox::NextFrameDue(std::chrono::steady_clock::time_point* due,
                                std::chrono::steady_clock::duration* period) const {
  MutexLock state(stateMutex_);
  if (period_ <= std::chrono::steady_clock::duration{}) return false;
  *due = lastOffered_ + period_;
  *period = period_;
  return true;
}

std::chrono::steady_clock::time_point FrameMailbox::LastTakenArrival() const {
  MutexLock state(stateMutex_);
  return takenArrival_;
}

}  // namespace capture
