#include "capture/v4l2/fake/fake_v4l2_system.h"

#include <fcntl.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace capture {
namespace {

constexpr off_t kOffsetStep = off_t{1} << 24;  // buffer N maps at N * kOffsetStep

std::uint32_t BitsPerPixel(std::uint32_t pixelFormat) {
  switch (pixelFormat) {
    case V4L2_PIX_FMT_BGR24:
    case V4L2_PIX_FMT_RGB24: return 24;
    case V4L2_PIX_FMT_BGR32:
    case V4L2_PIX_FMT_XBGR32:
    case V4L2_PIX_FMT_ABGR32: return 32;
    case V4L2_PIX_FMT_GREY: return 8;
    default: return 16;
  }
}

bool IsPlanar(std::uint32_t f) {
  return f == V4L2_PIX_FMT_YUV420 || f == V4L2_PIX_FMT_YVU420 || f == V4L2_PIX_FMT_NV12 || f == V4L2_PIX_FMT_NV21;
}
bool IsCompressed(std::uint32_t f) { return f == V4L2_PIX_FMT_MJPEG || f == V4L2_PIX_FMT_JPEG; }

std::uint32_t Snap(std::uint32_t value, std::uint32_t low, std::uint32_t high, std::uint32_t step) {
  value = std::clamp(value, low, std::max(low, high));
  if (step > 1) value = low + (value - low) / step * step;
  return value;
}

long Distance(std::uint32_t w, std::uint32_t h, std::uint32_t tw, std::uint32_t th) {
  return std::labs(static_cast<long>(w) - static_cast<long>(tw)) +
         std::labs(static_cast<long>(h) - static_cast<long>(th));
}

}  // namespace

FakeV4l2FrameSize FakeV4l2FrameSize::Discrete(std::uint32_t w, std::uint32_t h, std::vector<std::uint32_t> fps) {
  FakeV4l2FrameSize size;
  size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
  size.width = w;
  size.height = h;
  size.framesPerSecond = std::move(fps);
  return size;
}

FakeV4l2FrameSize FakeV4l2FrameSize::Stepwise(std::uint32_t minW, std::uint32_t maxW, std::uint32_t stepW,
                                              std::uint32_t minH, std::uint32_t maxH, std::uint32_t stepH,
                                              std::vector<std::uint32_t> fps) {
  FakeV4l2FrameSize size;
  size.type = (stepW == 1 && stepH == 1) ? V4L2_FRMSIZE_TYPE_CONTINUOUS : V4L2_FRMSIZE_TYPE_STEPWISE;
  size.minWidth = minW;
  size.maxWidth = maxW;
  size.stepWidth = stepW;
  size.minHeight = minH;
  size.maxHeight = maxH;
  size.stepHeight = stepH;
  size.framesPerSecond = std::move(fps);
  return size;
}

FakeV4l2Format FakeFormat(std::uint32_t pixelFormat, const std::vector<std::pair<std::uint32_t, std::uint32_t>>& sizes,
                          const std::vector<std::uint32_t>& fps) {
  FakeV4l2Format format;
  format.pixelFormat = pixelFormat;
  format.description = "fake format";
  for (const auto& [w, h] : sizes) format.sizes.push_back(FakeV4l2FrameSize::Discrete(w, h, fps));
  return format;
}

// ---- device ----

FakeV4l2Device::FakeV4l2Device(FakeV4l2System& system, std::string path, FakeV4l2DeviceConfig config)
    : system_(system), path_(std::move(path)), config_(std::move(config)) {
  v4l2_pix_format initial{};
  if (!config_.formats.empty() && !config_.formats[0].sizes.empty()) {
    const FakeV4l2FrameSize& first = config_.formats[0].sizes[0];
    initial.pixelformat = config_.formats[0].pixelFormat;
    initial.width = first.type == V4L2_FRMSIZE_TYPE_DISCRETE ? first.width : first.maxWidth;
    initial.height = first.type == V4L2_FRMSIZE_TYPE_DISCRETE ? first.height : first.maxHeight;
    Adjust(&initial);
  }
  format_ = initial;
}

void FakeV4l2Device::QueueFrame(FakeV4l2Frame frame) {
  std::lock_guard lock(system_.mutex_);
  frames_.push_back(StoredFrame{nextFrameId_++, std::move(frame)});
  system_.changed_.notify_all();
}

void FakeV4l2Device::SetRepeatLastFrame(bool repeat) {
  std::lock_guard lock(system_.mutex_);
  repeat_ = repeat;
  system_.changed_.notify_all();
}

void FakeV4l2Device::Unplug() {
  std::lock_guard lock(system_.mutex_);
  unplugged_ = true;
  system_.changed_.notify_all();
}

void FakeV4l2Device::SetBusy(bool busy) {
  std::lock_guard lock(system_.mutex_);
  busy_ = busy;
}

void FakeV4l2Device::FailIoctl(unsigned long request, int error, int times) {
  std::lock_guard lock(system_.mutex_);
  failures_[request] = Failure{error, times};
}

void FakeV4l2Device::FailPoll(int error, int times) {
  std::lock_guard lock(system_.mutex_);
  pollFailure_ = Failure{error, times};
  system_.changed_.notify_all();
}

void FakeV4l2Device::FailOpen(int error) {
  std::lock_guard lock(system_.mutex_);
  openError_ = error;
}

bool FakeV4l2Device::IsStreaming() const {
  std::lock_guard lock(system_.mutex_);
  return streaming_;
}
v4l2_pix_format FakeV4l2Device::CurrentFormat() const {
  std::lock_guard lock(system_.mutex_);
  return format_;
}
std::uint32_t FakeV4l2Device::CurrentInput() const {
  std::lock_guard lock(system_.mutex_);
  return input_;
}
int FakeV4l2Device::BufferCount() const {
  std::lock_guard lock(system_.mutex_);
  return static_cast<int>(buffers_.size());
}
int FakeV4l2Device::FramesDequeued() const {
  std::lock_guard lock(system_.mutex_);
  return framesDequeued_;
}
int FakeV4l2Device::DequeueCalls() const {
  std::lock_guard lock(system_.mutex_);
  return dequeueCalls_;
}
int FakeV4l2Device::PollCalls() const {
  std::lock_guard lock(system_.mutex_);
  return pollCalls_;
}
int FakeV4l2Device::SetFormatCalls() const {
  std::lock_guard lock(system_.mutex_);
  return setFormatCalls_;
}

bool FakeV4l2Device::FrameAvailable() const { return !frames_.empty() || (repeat_ && lastFrame_.has_value()); }

bool FakeV4l2Device::Adjust(v4l2_pix_format* pix) const {
  if (config_.formats.empty()) return false;
  const FakeV4l2Format* format = &config_.formats[0];
  for (const FakeV4l2Format& candidate : config_.formats)
    if (candidate.pixelFormat == pix->pixelformat) format = &candidate;
  pix->pixelformat = format->pixelFormat;

  std::uint32_t bestW = 0, bestH = 0;
  long best = -1;
  for (const FakeV4l2FrameSize& size : format->sizes) {
    std::uint32_t w = size.width, h = size.height;
    if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) {
      w = Snap(pix->width, size.minWidth, size.maxWidth, size.stepWidth);
      h = Snap(pix->height, size.minHeight, size.maxHeight, size.stepHeight);
    }
    const long distance = Distance(w, h, pix->width, pix->height);
    if (best < 0 || distance < best) {
      best = distance;
      bestW = w;
      bestH = h;
    }
  }
  pix->width = bestW;
  pix->height = bestH;
  pix->field = V4L2_FIELD_NONE;
  pix->colorspace = V4L2_COLORSPACE_SRGB;
  const std::uint32_t f = pix->pixelformat;
  if (IsCompressed(f)) {
    pix->bytesperline = 0;
    pix->sizeimage = pix->width * pix->height * 2;
  } else if (IsPlanar(f)) {
    pix->bytesperline = pix->width + config_.paddingPerLine;
    pix->sizeimage = pix->bytesperline * pix->height * 3 / 2;
  } else {
    pix->bytesperline = pix->width * BitsPerPixel(f) / 8 + config_.paddingPerLine;
    pix->sizeimage = pix->bytesperline * pix->height;
  }
  if (config_.bytesPerLine) pix->bytesperline = *config_.bytesPerLine;
  if (config_.sizeImage) pix->sizeimage = *config_.sizeImage;
  return true;
}

short FakeV4l2Device::PollEvents() const {
  if (unplugged_) return POLLERR | POLLHUP;
  if (!streaming_) return POLLERR;
  if (wakePending_ || (!queue_.empty() && FrameAvailable())) return POLLIN | POLLRDNORM;
  return 0;
}

int FakeV4l2Device::Handle(int fd, unsigned long request, void* arg) {
  if (unplugged_) return ENODEV;
  if (auto it = failures_.find(request); it != failures_.end() && it->second.remaining != 0) {
    if (it->second.remaining > 0) --it->second.remaining;
    return it->second.error;
  }
  switch (request) {
    case VIDIOC_QUERYCAP: {
      auto* cap = static_cast<v4l2_capability*>(arg);
      std::memset(cap, 0, sizeof(*cap));
      std::strncpy(reinterpret_cast<char*>(cap->driver), "fakev4l2", sizeof(cap->driver));
      std::memcpy(cap->card, config_.card.data(), std::min(config_.card.size(), sizeof(cap->card)));
      std::strncpy(reinterpret_cast<char*>(cap->bus_info), "fake:0", sizeof(cap->bus_info));
      cap->version = 0x060100;
      cap->capabilities = config_.capabilities;
      cap->device_caps = config_.deviceCaps;
      return 0;
    }
    case VIDIOC_ENUM_FMT: {
      auto* desc = static_cast<v4l2_fmtdesc*>(arg);
      if (desc->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || desc->index >= config_.formats.size()) return EINVAL;
      const FakeV4l2Format& format = config_.formats[desc->index];
      desc->flags = IsCompressed(format.pixelFormat) ? V4L2_FMT_FLAG_COMPRESSED : 0;
      std::memset(desc->description, 0, sizeof(desc->description));
      std::strncpy(reinterpret_cast<char*>(desc->description), format.description.c_str(),
                   sizeof(desc->description) - 1);
      desc->pixelformat = format.pixelFormat;
      return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
      auto* size = static_cast<v4l2_frmsizeenum*>(arg);
      for (const FakeV4l2Format& format : config_.formats) {
        if (format.pixelFormat != size->pixel_format) continue;
        if (size->index >= format.sizes.size()) return EINVAL;
        const FakeV4l2FrameSize& s = format.sizes[size->index];
        size->type = s.type;
        if (s.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
          size->discrete.width = s.width;
          size->discrete.height = s.height;
        } else {
          size->stepwise.min_width = s.minWidth;
          size->stepwise.max_width = s.maxWidth;
          size->stepwise.step_width = s.stepWidth;
          size->stepwise.min_height = s.minHeight;
          size->stepwise.max_height = s.maxHeight;
          size->stepwise.step_height = s.stepHeight;
        }
        return 0;
      }
      return EINVAL;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
      auto* interval = static_cast<v4l2_frmivalenum*>(arg);
      for (const FakeV4l2Format& format : config_.formats) {
        if (format.pixelFormat != interval->pixel_format) continue;
        for (const FakeV4l2FrameSize& s : format.sizes) {
          const bool matches = s.type == V4L2_FRMSIZE_TYPE_DISCRETE
                                   ? s.width == interval->width && s.height == interval->height
                                   : interval->width >= s.minWidth && interval->width <= s.maxWidth &&
                                         interval->height >= s.minHeight && interval->height <= s.maxHeight;
          if (!matches) continue;
          if (interval->index >= s.framesPerSecond.size()) return EINVAL;
          interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
          interval->discrete.numerator = 1;
          interval->discrete.denominator = s.framesPerSecond[interval->index];
          return 0;
        }
      }
      return EINVAL;
    }
    case VIDIOC_G_FMT: {
      auto* format = static_cast<v4l2_format*>(arg);
      if (format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return EINVAL;
      format->fmt.pix = format_;
      return 0;
    }
    case VIDIOC_TRY_FMT:
    case VIDIOC_S_FMT: {
      auto* format = static_cast<v4l2_format*>(arg);
      if (format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return EINVAL;
      if (request == VIDIOC_S_FMT) {
        ++setFormatCalls_;
        if (busy_ || streaming_ || (owner_ >= 0 && owner_ != fd)) return EBUSY;
      }
      if (!Adjust(&format->fmt.pix)) return EINVAL;
      if (request == VIDIOC_S_FMT) format_ = format->fmt.pix;
      return 0;
    }
    case VIDIOC_REQBUFS: {
      auto* req = static_cast<v4l2_requestbuffers*>(arg);
      if (req->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || req->memory != V4L2_MEMORY_MMAP) return EINVAL;
      if (busy_ || (owner_ >= 0 && owner_ != fd)) return EBUSY;
      if (req->count == 0) {
        for (const Buffer& buffer : buffers_)
          for (const auto& mapping : system_.mappings_)
            if (mapping.memory == buffer.memory) return EBUSY;
        streaming_ = false;
        buffers_.clear();
        queue_.clear();
        owner_ = -1;
        return 0;
      }
      if (streaming_) return EBUSY;
      const std::uint32_t count = std::min(req->count, config_.maxBuffers);
      const std::size_t bytes = config_.bufferBytes.value_or(format_.sizeimage);
      buffers_.clear();
      queue_.clear();
      for (std::uint32_t i = 0; i < count; ++i)
        buffers_.push_back(Buffer{std::make_shared<std::vector<std::uint8_t>>(bytes), false, 0});
      req->count = count;
      owner_ = fd;
      return 0;
    }
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF:
    case VIDIOC_DQBUF: {
      auto* buf = static_cast<v4l2_buffer*>(arg);
      if (buf->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return EINVAL;
      if (owner_ != fd) return buffers_.empty() ? EINVAL : EBUSY;
      if (request == VIDIOC_DQBUF) {
        ++dequeueCalls_;
        wakePending_ = false;
        if (!streaming_) return EINVAL;
        if (queue_.empty() || !FrameAvailable()) return EAGAIN;
        const std::uint32_t index = queue_.front();
        queue_.pop_front();
        Buffer& buffer = buffers_[index];
        buffer.queued = false;
        if (!frames_.empty()) {
          lastFrame_ = std::move(frames_.front());
          frames_.pop_front();
        }
        const StoredFrame& stored = *lastFrame_;
        const std::size_t copied = std::min(stored.frame.bytes.size(), buffer.memory->size());
        if (buffer.contentId != stored.id) {
          if (copied > 0) std::memcpy(buffer.memory->data(), stored.frame.bytes.data(), copied);
          buffer.contentId = stored.id;
        }
        std::memset(buf, 0, sizeof(*buf));
        buf->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf->memory = V4L2_MEMORY_MMAP;
        buf->index = index;
        buf->bytesused = stored.frame.bytesUsed.value_or(static_cast<std::uint32_t>(copied));
        buf->flags = V4L2_BUF_FLAG_MAPPED | V4L2_BUF_FLAG_DONE | stored.frame.flags;
        buf->field = V4L2_FIELD_NONE;
        buf->sequence = static_cast<std::uint32_t>(framesDequeued_);
        buf->length = static_cast<std::uint32_t>(buffer.memory->size());
        buf->m.offset = static_cast<std::uint32_t>(index * kOffsetStep);
        ++framesDequeued_;
        if (config_.extraWakeups) wakePending_ = true;
        return 0;
      }
      if (buf->memory != V4L2_MEMORY_MMAP || buf->index >= buffers_.size()) return EINVAL;
      Buffer& buffer = buffers_[buf->index];
      if (request == VIDIOC_QUERYBUF) {
        buf->length = config_.queryBufLength.value_or(static_cast<std::uint32_t>(buffer.memory->size()));
        buf->m.offset = static_cast<std::uint32_t>(buf->index * kOffsetStep);
        buf->flags = buffer.queued ? V4L2_BUF_FLAG_QUEUED : 0;
        buf->bytesused = 0;
        return 0;
      }
      if (buffer.queued) return EINVAL;
      buffer.queued = true;
      queue_.push_back(buf->index);
      system_.changed_.notify_all();
      return 0;
    }
    case VIDIOC_STREAMON:
    case VIDIOC_STREAMOFF: {
      const auto* type = static_cast<const int*>(arg);
      if (*type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return EINVAL;
      if (request == VIDIOC_STREAMON) {
        if (busy_) return EBUSY;
        if (owner_ != fd) return buffers_.empty() ? EINVAL : EBUSY;
        streaming_ = true;
      } else {
        if (owner_ >= 0 && owner_ != fd) return EBUSY;
        streaming_ = false;
        for (Buffer& buffer : buffers_) buffer.queued = false;
        queue_.clear();
        wakePending_ = false;
      }
      system_.changed_.notify_all();
      return 0;
    }
    case VIDIOC_ENUMINPUT: {
      auto* input = static_cast<v4l2_input*>(arg);
      if (input->index >= config_.inputs.size()) return EINVAL;
      const FakeV4l2Input& source = config_.inputs[input->index];
      const std::uint32_t index = input->index;
      std::memset(input, 0, sizeof(*input));
      input->index = index;
      std::strncpy(reinterpret_cast<char*>(input->name), source.name.c_str(), sizeof(input->name) - 1);
      input->type = source.type;
      return 0;
    }
    case VIDIOC_G_INPUT: *static_cast<int*>(arg) = static_cast<int>(input_); return 0;
    case VIDIOC_S_INPUT: {
      const int index = *static_cast<const int*>(arg);
      if (index < 0 || static_cast<std::size_t>(index) >= config_.inputs.size()) return EINVAL;
      if (streaming_) return EBUSY;
      input_ = static_cast<std::uint32_t>(index);
      return 0;
    }
    default: return ENOTTY;
  }
}

// ---- system ----

FakeV4l2System::~FakeV4l2System() = default;

FakeV4l2Device* FakeV4l2System::AddDevice(const std::string& path, FakeV4l2DeviceConfig config) {
  std::lock_guard lock(mutex_);
  devices_.push_back(std::make_unique<FakeV4l2Device>(*this, path, std::move(config)));
  return devices_.back().get();
}

int FakeV4l2System::OpenDescriptors() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(descriptors_.size());
}

int FakeV4l2System::Mappings() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(mappings_.size());
}

FakeV4l2Device* FakeV4l2System::DeviceOf(int fd) const {
  const auto it = descriptors_.find(fd);
  return it == descriptors_.end() ? nullptr : it->second;
}

std::vector<std::string> FakeV4l2System::ListVideoNodes() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> nodes;
  for (const auto& device : devices_)
    if (!device->unplugged_) nodes.push_back(device->path());
  SortVideoNodes(&nodes);
  return nodes;
}

int FakeV4l2System::Open(const std::string& path, int flags) {
  std::lock_guard lock(mutex_);
  for (const auto& device : devices_) {
    if (device->path() != path) continue;
    if (device->unplugged_) {
      errno = ENOENT;
      return -1;
    }
    if (device->openError_ != 0) {
      errno = device->openError_;
      return -1;
    }
    const int fd = nextFd_++;
    descriptors_[fd] = device.get();
    return fd;
  }
  errno = ENOENT;
  return -1;
}

int FakeV4l2System::Ioctl(int fd, unsigned long request, void* arg) {
  std::lock_guard lock(mutex_);
  FakeV4l2Device* device = DeviceOf(fd);
  const int error = device ? (arg ? device->Handle(fd, request, arg) : EFAULT) : EBADF;
  if (error == 0) return 0;
  errno = error;
  return -1;
}

void* FakeV4l2System::Mmap(std::size_t length, int prot, int flags, int fd, off_t offset) {
  std::lock_guard lock(mutex_);
  FakeV4l2Device* device = DeviceOf(fd);
  int error = 0;
  if (!device)
    error = EBADF;
  else if (device->unplugged_)
    error = ENODEV;
  else if (!(flags & MAP_SHARED) || length == 0 || offset % kOffsetStep != 0)
    error = EINVAL;
  if (error == 0) {
    const auto index = static_cast<std::size_t>(offset / kOffsetStep);
    if (device->owner_ != fd || index >= device->buffers_.size() || length > device->buffers_[index].memory->size()) {
      error = EINVAL;
    } else {
      const auto& memory = device->buffers_[index].memory;
      mappings_.push_back(Mapping{memory->data(), length, memory});
      return memory->data();
    }
  }
  errno = error;
  return MAP_FAILED;
}

int FakeV4l2System::Munmap(void* address, std::size_t length) {
  std::lock_guard lock(mutex_);
  for (auto it = mappings_.begin(); it != mappings_.end(); ++it) {
    if (it->address == address && it->length == length) {
      mappings_.erase(it);
      return 0;
    }
  }
  errno = EINVAL;
  return -1;
}

int FakeV4l2System::Poll(pollfd* fds, nfds_t count, int timeoutMs) {
  std::unique_lock lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (nfds_t i = 0; i < count; ++i)
    if (FakeV4l2Device* device = DeviceOf(fds[i].fd)) {
      ++device->pollCalls_;
      if (device->pollFailure_.remaining != 0) {
        if (device->pollFailure_.remaining > 0) --device->pollFailure_.remaining;
        errno = device->pollFailure_.error;
        return -1;
      }
    }
  for (;;) {
    int ready = 0;
    for (nfds_t i = 0; i < count; ++i) {
      const FakeV4l2Device* device = DeviceOf(fds[i].fd);
      fds[i].revents = device ? device->PollEvents() : static_cast<short>(POLLNVAL);
      fds[i].revents = static_cast<short>(fds[i].revents & (fds[i].events | POLLERR | POLLHUP | POLLNVAL));
      if (fds[i].revents) ++ready;
    }
    if (ready > 0) return ready;
    if (timeoutMs >= 0 && changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
      for (nfds_t i = 0; i < count; ++i) {
        const FakeV4l2Device* device = DeviceOf(fds[i].fd);
        fds[i].revents = device ? device->PollEvents() : static_cast<short>(POLLNVAL);
        fds[i].revents = static_cast<short>(fds[i].revents & (fds[i].events | POLLERR | POLLHUP | POLLNVAL));
        if (fds[i].revents) ++ready;
      }
      return ready;
    }
    if (timeoutMs < 0) changed_.wait(lock);
  }
}

int FakeV4l2System::Close(int fd) {
  std::lock_guard lock(mutex_);
  FakeV4l2Device* device = DeviceOf(fd);
  if (!device) {
    errno = EBADF;
    return -1;
  }
  if (device->owner_ == fd) {
    // Like the kernel: closing the owner ends streaming and frees the buffers (mapped memory stays
    // alive until it is unmapped).
    device->streaming_ = false;
    device->buffers_.clear();
    device->queue_.clear();
    device->owner_ = -1;
    changed_.notify_all();
  }
  descriptors_.erase(fd);
  return 0;
}

}  // namespace capture
