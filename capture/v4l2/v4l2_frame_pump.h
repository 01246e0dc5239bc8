// The streaming side of one V4L2 device: mmap buffers, and one step of the streaming loop (wait for a
// frame, dequeue it, convert it, hand it to the sink, queue the buffer again).
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "capture/device_backend.h"
#include "capture/v4l2/v4l2_frame_converter.h"
#include "capture/v4l2/v4l2_system.h"

namespace capture {

class V4l2FramePump {
 public:
  enum class Step {
    kDelivered,   // a frame went to the sink
    kDropped,     // a frame came but was unusable (flagged, short, empty, damaged)
    kIdle,        // nothing arrived within the timeout
    kDeviceLost,  // the device is gone or broken: stop calling Pump
  };

  static constexpr std::uint32_t kBufferCount = 4;

  V4l2FramePump(std::shared_ptr<V4l2System> system, int fd);
  ~V4l2FramePump();
  V4l2FramePump(const V4l2FramePump&) = delete;
  V4l2FramePump& operator=(const V4l2FramePump&) = delete;

  // Allocates and maps the buffers for frames of `format` (as the device set it), queues them and
  // starts the stream. On failure nothing stays allocated; the result carries the errno (EBUSY when
  // another process holds the device).
  HRESULT Start(const v4l2_pix_format& format);
  // One step of the streaming loop, waiting at most `timeoutMs` for a frame. Streaming thread.
  Step Pump(FrameSink& sink, int timeoutMs);
  // Stops the stream, unmaps and frees the buffers, in that order. Safe to repeat.
  void Stop();

  // Bytes of every delivered frame.
  std::size_t SampleBytes() const { return output_.size(); }

 private:
  HRESULT Fail(int error);

  std::shared_ptr<V4l2System> system_;
  const int fd_;
  bool started_ = false;
  bool buffersRequested_ = false;
  std::vector<MappedRegion> buffers_;
  V4l2FrameConverter converter_;
  std::vector<std::uint8_t> output_;
  int idleWakeups_ = 0;  // consecutive wake-ups with nothing to dequeue
};

}  // namespace capture
