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

void FrameMailbox::Store(const std::uint8_t* data, std::size_t length) {
  {
    MutexLock state(stateMutex_);
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
  arrived_.notify_all();
}

bool FrameMailbox::HasFrame() const {
  MutexLock state(stateMutex_);
  return waiting_;
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
  return true;
}

std::chrono::steady_clock::time_point FrameMailbox::LastTakenArrival() const {
  MutexLock state(stateMutex_);
  return takenArrival_;
}

}  // namespace capture
