#include "testing/fake_v4l2_kernel.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace testkit {
namespace {

constexpr off_t kOffsetStep = off_t{1} << 24;  // buffer N maps at N * kOffsetStep

std::uint32_t BitsPerPixel(std::uint32_t f) {
  if (f == V4L2_PIX_FMT_BGR24 || f == V4L2_PIX_FMT_RGB24) return 24;
  if (f == V4L2_PIX_FMT_YUV420 || f == V4L2_PIX_FMT_YVU420 || f == V4L2_PIX_FMT_NV12 || f == V4L2_PIX_FMT_NV21)
    return 12;
  return f == V4L2_PIX_FMT_BGR32 ? 32 : f == V4L2_PIX_FMT_GREY ? 8 : 16;
}

bool IsCompressed(std::uint32_t format) { return format == V4L2_PIX_FMT_MJPEG || format == V4L2_PIX_FMT_JPEG; }

std::uint32_t Snap(std::uint32_t value, std::uint32_t low, std::uint32_t high, std::uint32_t step) {
  return low + (std::clamp(value, low, std::max(low, high)) - low) / std::max(step, 1u) * std::max(step, 1u);
}

}  // namespace

FakeV4l2Device::FakeV4l2Device(FakeV4l2Kernel& kernel, std::string path, FakeDeviceConfig config)
    : kernel_(kernel), path_(std::move(path)), config_(std::move(config)), controls_(config_.controls) {
  format_.width = format_.height = ~0u;  // the first format's largest size
  if (!Adjust(&format_)) format_ = {};
}

void FakeV4l2Device::QueueFrame(FakeFrame frame, bool repeat) {
  capture::MutexLock lock(kernel_.mutex_);
  frames_.push_back(std::move(frame));
  repeat_ = repeat;
  kernel_.changed_.notify_all();
}

void FakeV4l2Device::Unplug() {
  capture::MutexLock lock(kernel_.mutex_);
  unplugged_ = true;
  kernel_.changed_.notify_all();
}

void FakeV4l2Device::Replug() {
  capture::MutexLock lock(kernel_.mutex_);
  FreeBuffers();
  unplugged_ = wakePending_ = false;
  ++generation_;
  kernel_.changed_.notify_all();
}

std::int32_t FakeV4l2Device::ControlValue(std::uint32_t id) const {
  capture::MutexLock lock(kernel_.mutex_);
  const auto it = std::find_if(controls_.begin(), controls_.end(), [id](const FakeControl& c) { return c.id == id; });
  return it == controls_.end() ? 0 : it->value;
}

FakeControl* FakeV4l2Device::FindControl(std::uint32_t id) {
  for (FakeControl& control : controls_)
    if (control.id == id) return &control;
  return nullptr;
}

// Refuses a value out of range (ERANGE) where drivers would clamp it, so that a caller that does not
// clamp shows.
int FakeV4l2Device::HandleControl(unsigned long request, void* arg) {
  if (request == VIDIOC_QUERYCTRL) {
    auto* query = static_cast<v4l2_queryctrl*>(arg);
    const FakeControl* control = FindControl(query->id);
    if (!control) return EINVAL;
    *query = v4l2_queryctrl{};
    query->id = control->id;
    query->minimum = control->minimum;
    query->maximum = control->maximum;
    query->step = control->step;
    return 0;
  }
  auto* value = static_cast<v4l2_control*>(arg);
  FakeControl* control = FindControl(value->id);
  if (!control) return EINVAL;
  if (request == VIDIOC_G_CTRL) {
    value->value = control->value;
    return 0;
  }
  const FakeControl* automatic = control->automatic ? FindControl(control->automatic) : nullptr;
  if (automatic && automatic->value != control->manual) return EBUSY;
  if (value->value < control->minimum || value->value > control->maximum ||
      (value->value - control->minimum) % control->step != 0)
    return ERANGE;
  control->value = value->value;
  return 0;
}

v4l2_pix_format FakeV4l2Device::CurrentFormat() const {
  capture::MutexLock lock(kernel_.mutex_);
  return format_;
}

int FakeV4l2Device::FramesDequeued() const {
  capture::MutexLock lock(kernel_.mutex_);
  return framesDequeued_;
}

// As a driver does: the closest size the format offers, with the stride and image size that go with it.
bool FakeV4l2Device::Adjust(v4l2_pix_format* pix) const {
  if (config_.formats.empty()) return false;
  const FakeFormat* format = &config_.formats[0];
  for (const FakeFormat& candidate : config_.formats)
    if (candidate.pixelFormat == pix->pixelformat) format = &candidate;
  std::uint32_t width = 0, height = 0;
  long best = -1;
  for (const FakeSize& s : format->sizes) {
    const std::uint32_t w = s.maxWidth ? Snap(pix->width, s.width, s.maxWidth, s.stepWidth) : s.width;
    const std::uint32_t h = s.maxWidth ? Snap(pix->height, s.height, s.maxHeight, s.stepHeight) : s.height;
    const long distance = std::labs(long{w} - long{pix->width}) + std::labs(long{h} - long{pix->height});
    if (best < 0 || distance < best) best = distance, width = w, height = h;
  }
  const std::uint32_t f = format->pixelFormat, bits = BitsPerPixel(f);
  const bool compressed = IsCompressed(f);
  *pix = v4l2_pix_format{};
  pix->pixelformat = f;
  pix->width = width;
  pix->height = height;
  // Planar formats give the stride of their luma plane.
  pix->bytesperline = compressed ? 0 : (bits == 12 ? width : width * bits / 8) + config_.paddingPerLine;
  pix->sizeimage = compressed ? width * height * 2 : pix->bytesperline * height * (bits == 12 ? 3 : 2) / 2;
  pix->bytesperline = config_.bytesPerLine.value_or(pix->bytesperline);
  pix->sizeimage = config_.sizeImage.value_or(pix->sizeimage);
  return true;
}

short FakeV4l2Device::PollEvents() const {
  if (unplugged_) return POLLERR | POLLHUP;
  if (!streaming_) return POLLERR;
  return wakePending_ || (!queue_.empty() && (!frames_.empty() || (repeat_ && last_))) ? POLLIN : 0;
}

void FakeV4l2Device::FreeBuffers() {
  streaming_ = false;
  buffers_.clear();
  queue_.clear();
  owner_ = -1;
}

int FakeV4l2Device::Handle(int fd, unsigned long request, void* arg) {
  if (unplugged_) return ENODEV;
  const bool othersBuffers = owner_ >= 0 && owner_ != fd;
  switch (request) {
    case VIDIOC_QUERYCAP: {
      auto* cap = static_cast<v4l2_capability*>(arg);
      *cap = v4l2_capability{};
      std::memcpy(cap->card, config_.card.data(), std::min(config_.card.size(), sizeof(cap->card)));
      cap->capabilities = config_.capabilities | V4L2_CAP_DEVICE_CAPS;
      cap->device_caps = config_.capabilities;
      return 0;
    }
    case VIDIOC_ENUM_FMT: {
      auto* desc = static_cast<v4l2_fmtdesc*>(arg);
      if (desc->index >= config_.formats.size()) return EINVAL;
      desc->pixelformat = config_.formats[desc->index].pixelFormat;
      return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
      auto* size = static_cast<v4l2_frmsizeenum*>(arg);
      for (const FakeFormat& format : config_.formats) {
        if (format.pixelFormat != size->pixel_format) continue;
        if (size->index >= format.sizes.size()) return EINVAL;
        const FakeSize& s = format.sizes[size->index];
        size->type = !s.maxWidth                             ? V4L2_FRMSIZE_TYPE_DISCRETE
                     : s.stepWidth == 1 && s.stepHeight == 1 ? V4L2_FRMSIZE_TYPE_CONTINUOUS
                                                             : V4L2_FRMSIZE_TYPE_STEPWISE;
        if (!s.maxWidth) size->discrete = {s.width, s.height};
        if (s.maxWidth) size->stepwise = {s.width, s.maxWidth, s.stepWidth, s.height, s.maxHeight, s.stepHeight};
        return 0;
      }
      return EINVAL;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
      auto* interval = static_cast<v4l2_frmivalenum*>(arg);
      for (const FakeFormat& format : config_.formats) {
        if (format.pixelFormat != interval->pixel_format || interval->index > 0) continue;
        interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        interval->discrete = {1, format.fps};
        return 0;
      }
      return EINVAL;
    }
    case VIDIOC_G_FMT: static_cast<v4l2_format*>(arg)->fmt.pix = format_; return 0;
    case VIDIOC_TRY_FMT: return Adjust(&static_cast<v4l2_format*>(arg)->fmt.pix) ? 0 : EINVAL;
    case VIDIOC_S_FMT:
      if (streaming_ || othersBuffers) return EBUSY;
      if (!Adjust(&static_cast<v4l2_format*>(arg)->fmt.pix)) return EINVAL;
      format_ = static_cast<v4l2_format*>(arg)->fmt.pix;
      return 0;
    case VIDIOC_S_PARM: return 0;
    case VIDIOC_QUERYCTRL:
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL: return HandleControl(request, arg);
    case VIDIOC_REQBUFS: {
      auto* req = static_cast<v4l2_requestbuffers*>(arg);
      if (othersBuffers) return EBUSY;
      if (req->count == 0) {  // only once nothing maps them (a mapping holds the memory too)
        for (const Buffer& buffer : buffers_)
          if (buffer.memory.use_count() > 1) return EBUSY;
        FreeBuffers();
        return 0;
      }
      if (streaming_ || req->memory != V4L2_MEMORY_MMAP) return EBUSY;
      req->count = std::min(req->count, 8u);
      buffers_.clear();
      for (std::uint32_t i = 0; i < req->count; ++i)
        buffers_.push_back(
            {std::make_shared<std::vector<std::uint8_t>>(config_.bufferBytes.value_or(format_.sizeimage))});
      owner_ = fd;
      return 0;
    }
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF:
    case VIDIOC_DQBUF: return HandleBuffer(fd, request, static_cast<v4l2_buffer*>(arg));
    case VIDIOC_STREAMON:
      if (owner_ != fd) return buffers_.empty() ? EINVAL : EBUSY;
      streaming_ = true;
      kernel_.changed_.notify_all();
      return 0;
    case VIDIOC_STREAMOFF:
      if (othersBuffers) return EBUSY;
      streaming_ = wakePending_ = false;
      for (Buffer& buffer : buffers_) buffer.queued = false;
      queue_.clear();
      return 0;
    default: return ENOTTY;
  }
}

int FakeV4l2Device::HandleBuffer(int fd, unsigned long request, v4l2_buffer* buf) {
  if (owner_ != fd) return buffers_.empty() ? EINVAL : EBUSY;
  if (request == VIDIOC_DQBUF) {
    wakePending_ = false;
    if (!streaming_) return EINVAL;
    if (queue_.empty() || (frames_.empty() && !(repeat_ && last_))) return EAGAIN;
    const std::uint32_t index = queue_.front();
    queue_.pop_front();
    Buffer& buffer = buffers_[index];
    buffer.queued = false;
    if (!frames_.empty()) {
      last_ = std::move(frames_.front());
      frames_.pop_front();
    }
    const std::size_t copied = std::min(last_->bytes.size(), buffer.memory->size());
    std::copy_n(last_->bytes.begin(), copied, buffer.memory->begin());
    *buf = v4l2_buffer{};
    buf->index = index;
    buf->bytesused = last_->bytesUsed.value_or(static_cast<std::uint32_t>(copied));
    buf->flags = V4L2_BUF_FLAG_MAPPED | V4L2_BUF_FLAG_DONE | V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | last_->flags;
    const auto sinceBoot = std::chrono::steady_clock::now().time_since_epoch();
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(sinceBoot).count();
    buf->timestamp = {static_cast<time_t>(micros / 1000000), static_cast<suseconds_t>(micros % 1000000)};
    ++framesDequeued_;
    wakePending_ = config_.extraWakeups;
    return 0;
  }
  if (buf->index >= buffers_.size()) return EINVAL;
  Buffer& buffer = buffers_[buf->index];
  if (request == VIDIOC_QUERYBUF) {
    buf->length = config_.queryBufLength.value_or(static_cast<std::uint32_t>(buffer.memory->size()));
    buf->m.offset = static_cast<std::uint32_t>(buf->index * kOffsetStep);
    return 0;
  }
  if (buffer.queued) return EINVAL;
  buffer.queued = true;
  queue_.push_back(buf->index);
  kernel_.changed_.notify_all();
  return 0;
}

FakeV4l2Device* FakeV4l2Kernel::AddDevice(const std::string& path, FakeDeviceConfig config) {
  capture::MutexLock lock(mutex_);
  return devices_.emplace_back(std::make_unique<FakeV4l2Device>(*this, path, std::move(config))).get();
}

void FakeV4l2Kernel::LimitBandwidth(int uncompressedStreams) {
  capture::MutexLock lock(mutex_);
  uncompressedStreams_ = uncompressedStreams;
}

int FakeV4l2Kernel::LeftOpen() const {
  capture::MutexLock lock(mutex_);
  return static_cast<int>(descriptors_.size() + mappings_.size());
}

FakeV4l2Device* FakeV4l2Kernel::DeviceOf(int fd) const {
  const auto it = descriptors_.find(fd);
  return it == descriptors_.end() ? nullptr : it->second.device;
}

bool FakeV4l2Kernel::Stale(int fd) const {
  const auto it = descriptors_.find(fd);
  return it != descriptors_.end() && it->second.generation != it->second.device->generation_;
}

std::vector<std::pair<std::string, std::string>> FakeV4l2Kernel::ListStableLinks() {
  capture::MutexLock lock(mutex_);
  std::vector<std::pair<std::string, std::string>> links;
  for (const auto& device : devices_)
    if (!device->unplugged_)
      for (const std::string& link : device->config_.stableLinks) links.emplace_back(link, device->path_);
  std::sort(links.begin(), links.end());  // as the system lists them: by-id, then by-path, each sorted
  return links;
}

std::vector<std::string> FakeV4l2Kernel::ListVideoNodes() {
  capture::MutexLock lock(mutex_);
  std::vector<std::string> nodes;
  for (const auto& device : devices_)
    if (!device->unplugged_) nodes.push_back(device->path_);
  capture::SortVideoNodes(&nodes);
  return nodes;
}

int FakeV4l2Kernel::Open(const std::string& path, int) {
  capture::MutexLock lock(mutex_);
  for (const auto& device : devices_)
    if (device->path_ == path && !device->unplugged_) {
      descriptors_[nextFd_] = Descriptor{device.get(), device->generation_};
      return nextFd_++;
    }
  errno = ENOENT;
  return -1;
}

int FakeV4l2Kernel::Ioctl(int fd, unsigned long request, void* arg) {
  capture::MutexLock lock(mutex_);
  FakeV4l2Device* device = DeviceOf(fd);
  if (device && !Stale(fd) && request == VIDIOC_STREAMON && uncompressedStreams_ >= 0 &&
      !IsCompressed(device->format_.pixelformat)) {
    const auto streams = std::count_if(devices_.begin(), devices_.end(), [](const auto& other) {
      return other->streaming_ && !other->unplugged_ && !IsCompressed(other->format_.pixelformat);
    });
    if (streams >= uncompressedStreams_) {
      errno = ENOSPC;
      return -1;
    }
  }
  errno = !device ? EBADF : Stale(fd) ? ENODEV : device->Handle(fd, request, arg);
  return errno == 0 ? 0 : -1;
}

void* FakeV4l2Kernel::Mmap(std::size_t length, int, int flags, int fd, off_t offset) {
  capture::MutexLock lock(mutex_);
  FakeV4l2Device* device = DeviceOf(fd);
  const auto index = static_cast<std::size_t>(offset / kOffsetStep);
  errno = !device ? EBADF : device->unplugged_ || Stale(fd) ? ENODEV : EINVAL;
  if (!device || device->unplugged_ || Stale(fd) || !(flags & MAP_SHARED) || offset % kOffsetStep != 0 ||
      device->owner_ != fd || index >= device->buffers_.size() || length == 0 ||
      length > device->buffers_[index].memory->size())
    return MAP_FAILED;
  const auto& memory = device->buffers_[index].memory;
  mappings_.emplace(memory->data(), memory);
  return memory->data();
}

int FakeV4l2Kernel::Munmap(void* address, std::size_t) {
  capture::MutexLock lock(mutex_);
  const auto it = mappings_.find(address);
  errno = it == mappings_.end() ? EINVAL : 0;
  if (it != mappings_.end()) mappings_.erase(it);
  return errno ? -1 : 0;
}

int FakeV4l2Kernel::Ready(pollfd* fds, nfds_t count) const {
  int ready = 0;
  for (nfds_t i = 0; i < count; ++i) {
    const FakeV4l2Device* device = DeviceOf(fds[i].fd);
    const short events = !device ? POLLNVAL : Stale(fds[i].fd) ? POLLERR | POLLHUP : device->PollEvents();
    fds[i].revents = static_cast<short>(events & (fds[i].events | POLLERR | POLLHUP | POLLNVAL));
    ready += fds[i].revents != 0;
  }
  return ready;
}

int FakeV4l2Kernel::Poll(pollfd* fds, nfds_t count, int timeoutMs) {
  capture::MutexLock lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int ready = Ready(fds, count);
  while (ready == 0 && changed_.wait_until(mutex_, deadline) == std::cv_status::no_timeout) ready = Ready(fds, count);
  return ready ? ready : Ready(fds, count);
}

int FakeV4l2Kernel::Close(int fd) {
  capture::MutexLock lock(mutex_);
  FakeV4l2Device* device = DeviceOf(fd);
  if (!device) {
    errno = EBADF;
    return -1;
  }
  // As the kernel does: closing the owner ends streaming and frees the buffers (mapped memory stays
  // alive until it is unmapped).
  if (device->owner_ == fd && !Stale(fd)) device->FreeBuffers();
  changed_.notify_all();
  descriptors_.erase(fd);
  return 0;
}

}  // namespace testkit
