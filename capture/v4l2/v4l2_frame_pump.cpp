#include "capture/v4l2/v4l2_frame_pump.h"

#include <sys/mman.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace capture {
namespace {

v4l2_buffer Buffer(std::uint32_t index) {
  v4l2_buffer buffer{};
  buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  buffer.memory = V4L2_MEMORY_MMAP;
  buffer.index = index;
  return buffer;
}

// When the camera took the frame: the driver's monotonic timestamp (the steady clock's own), or the
// arrival when the driver gives none or one that cannot be true.
std::chrono::steady_clock::time_point CaptureTime(const v4l2_buffer& buffer) {
  const auto now = std::chrono::steady_clock::now();
  if ((buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) != V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC) return now;
  if (buffer.timestamp.tv_sec <= 0 || buffer.timestamp.tv_usec < 0 || buffer.timestamp.tv_usec >= 1000000) return now;
  const std::chrono::steady_clock::time_point taken(std::chrono::seconds(buffer.timestamp.tv_sec) +
                                                    std::chrono::microseconds(buffer.timestamp.tv_usec));
  return taken > now || now - taken > std::chrono::seconds(1) ? now : taken;
}

}  // namespace

V4l2FramePump::V4l2FramePump(std::shared_ptr<V4l2System> system, int fd) : system_(std::move(system)), fd_(fd) {}

V4l2FramePump::~V4l2FramePump() { Stop(); }

HRESULT V4l2FramePump::Fail(int error) {
  Stop();
  return HresultFromErrno(error);
}

HRESULT V4l2FramePump::Start(const v4l2_pix_format& format) {
  Stop();
  if (!converter_.Configure(format.pixelformat, format.width, format.height, format.bytesperline)) return E_FAIL;

  v4l2_requestbuffers request{};
  request.count = kBufferCount;
  request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  request.memory = V4L2_MEMORY_MMAP;
  if (const int error = Xioctl(*system_, fd_, VIDIOC_REQBUFS, &request)) return HresultFromErrno(error);
  buffersRequested_ = true;
  if (request.count == 0) return Fail(ENOMEM);
  for (std::uint32_t index = 0; index < request.count && index < 32; ++index) {
    v4l2_buffer buffer = Buffer(index);
    if (const int error = Xioctl(*system_, fd_, VIDIOC_QUERYBUF, &buffer)) return Fail(error);
    if (buffer.length == 0) return Fail(EINVAL);
    void* address = system_->Mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, buffer.m.offset);
    if (address == MAP_FAILED) return Fail(errno);
    buffers_.emplace_back(system_, address, buffer.length);
  }
  for (std::uint32_t index = 0; index < buffers_.size(); ++index) {
    v4l2_buffer buffer = Buffer(index);
    if (const int error = Xioctl(*system_, fd_, VIDIOC_QBUF, &buffer)) return Fail(error);
  }
  int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (const int error = Xioctl(*system_, fd_, VIDIOC_STREAMON, &type)) return Fail(error);
  started_ = true;
  output_.assign(converter_.OutputBytes(), 0);
  idleWakeups_ = 0;
  return S_OK;
}

V4l2FramePump::Step V4l2FramePump::Pump(FrameSink& sink, int timeoutMs) {
  if (!started_) return Step::kDeviceLost;
  pollfd descriptor{fd_, POLLIN, 0};
  const int ready = system_->Poll(&descriptor, 1, timeoutMs);
  if (ready < 0) return errno == EINTR ? Step::kIdle : Step::kDeviceLost;
  if (ready == 0) return Step::kIdle;
  if (descriptor.revents & POLLNVAL) return Step::kDeviceLost;

  v4l2_buffer buffer = Buffer(0);
  if (const int error = Xioctl(*system_, fd_, VIDIOC_DQBUF, &buffer)) {
    if (error != EAGAIN || (descriptor.revents & (POLLERR | POLLHUP))) return Step::kDeviceLost;
    // Drivers may wake poll with nothing to dequeue; one that keeps doing so must not spin us.
    if (++idleWakeups_ > 3) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return Step::kIdle;
  }
  idleWakeups_ = 0;
  if (buffer.index >= buffers_.size()) return Step::kDeviceLost;

  const MappedRegion& region = buffers_[buffer.index];
  const bool usable = !(buffer.flags & V4L2_BUF_FLAG_ERROR) && buffer.bytesused > 0 &&
                      buffer.bytesused <= region.size() &&
                      converter_.Convert(region.data(), buffer.bytesused, output_.data());
  if (usable) sink.Deliver(output_.data(), output_.size(), CaptureTime(buffer));

  v4l2_buffer again = Buffer(buffer.index);
  if (Xioctl(*system_, fd_, VIDIOC_QBUF, &again) != 0) return Step::kDeviceLost;
  return usable ? Step::kDelivered : Step::kDropped;
}

void V4l2FramePump::Stop() {
  if (started_) {
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    Xioctl(*system_, fd_, VIDIOC_STREAMOFF, &type);  // fails harmlessly on a device that is gone
    started_ = false;
  }
  // The buffers can only be freed once nothing maps them.
  buffers_.clear();
  if (buffersRequested_) {
    v4l2_requestbuffers request{};
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    Xioctl(*system_, fd_, VIDIOC_REQBUFS, &request);
    buffersRequested_ = false;
  }
}

}  // namespace capture
