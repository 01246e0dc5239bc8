// A manual-reset event: stays signalled from Set until Reset, and wakes every waiter meanwhile.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace capture {

class ManualResetEvent {
 public:
  ManualResetEvent() = default;
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  void Set();
  void Reset();
  // The current state, without waiting.
  bool IsSet() const;
  // True as soon as the event is signalled, false after `timeout` without it.
  bool WaitFor(std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex mutex_;  // guards signalled_
  mutable std::condition_variable changed_;
  bool signalled_ = false;
};

}  // namespace capture
