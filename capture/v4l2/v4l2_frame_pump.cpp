#include "capture/v4l2/v4l2_frame_pump.h"

#include <sys/mman.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace capture {

V4l2FramePump::V4l2FramePump(std::shared_ptr<V4l2System> system, int fd) : system_(std::move(system)), fd_(fd) {}

V4l2FramePump::~V4l2FramePump() { Stop(); }

HRESULT V4l2FramePump::Start(const v4l2_pix_format& format, V4l2FrameConverter::Output output) {
  Stop();
  if (!converter_.Configure(format.pixelformat, format.width, format.height, format.bytesperline, output))
    return VFW_E_TYPE_NOT_ACCEPTED;

  v4l2_requestbuffers request{};
  request.count = kBufferCount;
  request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  request.memory = V4L2_MEMORY_MMAP;
  if (const int error = Xioctl(*system_, fd_, VIDIOC_REQBUFS, &request)) return HresultFromErrno(error);
  buffersRequested_ = true;
  if (request.count == 0) {
    Stop();
    return E_OUTOFMEMORY;
  }
  for (std::uint32_t index = 0; index < request.count && index < 32; ++index) {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = index;
    if (const int error = Xioctl(*system_, fd_, VIDIOC_QUERYBUF, &buffer)) {
      Stop();
      return HresultFromErrno(error);
    }
    if (buffer.length == 0) {
      Stop();
      return E_FAIL;
    }
    void* address = system_->Mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, buffer.m.offset);
    if (address == MAP_FAILED) {
      const int error = errno;
      Stop();
      return HresultFromErrno(error);
    }
    buffers_.emplace_back(system_, address, buffer.length);
  }
  for (std::uint32_t index = 0; index < buffers_.size(); ++index) {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = index;
    if (const int error = Xioctl(*system_, fd_, VIDIOC_QBUF, &buffer)) {
      Stop();
      return HresultFromErrno(error);
    }
  }
  int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (const int error = Xioctl(*system_, fd_, VIDIOC_STREAMON, &type)) {
    Stop();
    return HresultFromErrno(error);
  }
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

  v4l2_buffer buffer{};
  buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  buffer.memory = V4L2_MEMORY_MMAP;
  if (const int error = Xioctl(*system_, fd_, VIDIOC_DQBUF, &buffer)) {
    if (error != EAGAIN || (descriptor.revents & (POLLERR | POLLHUP))) return Step::kDeviceLost;
    // Drivers may wake poll with nothing to dequeue; one that keeps doing so must not spin us.
    if (++idleWakeups_ > 3) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return Step::kIdle;
  }
  idleWakeups_ = 0;
  if (buffer.index >= buffers_.size()) return Step::kDeviceLost;

  const MappedRegion& region = buffers_[buffer.index];
  Step step = Step::kDropped;
  const bool usable =
      !(buffer.flags & V4L2_BUF_FLAG_ERROR) && buffer.bytesused > 0 && buffer.bytesused <= region.size();
  if (usable && converter_.Convert(region.data(), buffer.bytesused, output_.data())) {
    BufferSample sample(output_.data(), static_cast<long>(output_.size()));
    sink.Deliver(sample);
    step = Step::kDelivered;
    ++delivered_;
  } else {
    ++dropped_;
  }

  const std::uint32_t index = buffer.index;
  buffer = v4l2_buffer{};
  buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  buffer.memory = V4L2_MEMORY_MMAP;
  buffer.index = index;
  if (Xioctl(*system_, fd_, VIDIOC_QBUF, &buffer) != 0) return Step::kDeviceLost;
  return step;
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
    request.count = 0;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    Xioctl(*system_, fd_, VIDIOC_REQBUFS, &request);
    buffersRequested_ = false;
  }
}

}  // namespace capture
