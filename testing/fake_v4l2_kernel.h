// An in-memory V4L2 kernel for tests, behind the backend's system-call seam: device nodes with
// formats, sizes, frame rates, mmap buffers and frames, configured per test and steered while the
// code under test runs. It can lie (strides, sizes, lengths), be busy, run out of bus bandwidth, be
// unplugged and come back. Every call takes the kernel's lock, so tests may steer it from any thread.
#pragma once

#include <linux/videodev2.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/thread_annotations.h"
#include "capture/v4l2/v4l2_system.h"

namespace testkit {

// One entry of a format's size list: discrete when maxWidth is 0, otherwise a range from the size.
struct FakeSize {
  std::uint32_t width = 0, height = 0, maxWidth = 0, maxHeight = 0, stepWidth = 1, stepHeight = 1;
};

struct FakeFormat {
  std::uint32_t pixelFormat = V4L2_PIX_FMT_YUYV;
  std::vector<FakeSize> sizes;
  std::uint32_t fps = 30;
};

// One control: an integer with its range (booleans and menus are ranges too).
struct FakeControl {
  std::uint32_t id = 0;
  std::int32_t minimum = 0, maximum = 1, step = 1, value = 0;
  // The control's automatic switch and the switch's manual setting: while the switch is elsewhere the
  // control refuses values (EBUSY), as cameras do.
  std::uint32_t automatic = 0;
  std::int32_t manual = 0;
};

struct FakeDeviceConfig {
  std::string card = "Fake Camera";  // copied into the 32-byte field; 32 bytes leave no terminator
  std::uint32_t capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
  std::vector<FakeFormat> formats;
  std::uint32_t paddingPerLine = 0;      // honest extra bytes at the end of every row (uncompressed)
  bool extraWakeups = false;             // poll wakes once more after every dequeue, with nothing there
  std::vector<std::string> stableLinks;  // its /dev/v4l/by-id and by-path links
  std::vector<FakeControl> controls;
  // Lies, each replacing what the format says when set: the stride, the image size, the bytes
  // allocated per buffer, and the length QUERYBUF reports (mmap still checks the real size).
  std::optional<std::uint32_t> bytesPerLine, sizeImage, bufferBytes, queryBufLength;
};

struct FakeFrame {
  FakeFrame() = default;
  FakeFrame(std::vector<std::uint8_t> frame, std::uint32_t frameFlags = 0, std::optional<std::uint32_t> used = {})
      : bytes(std::move(frame)), flags(frameFlags), bytesUsed(used) {}
  std::vector<std::uint8_t> bytes;
  std::uint32_t flags = 0;                 // e.g. V4L2_BUF_FLAG_ERROR
  std::optional<std::uint32_t> bytesUsed;  // a lie about the length; default: the bytes copied
};

class FakeV4l2Kernel;

// One node. Its state is the kernel's, under the kernel's lock.
class FakeV4l2Device {
 public:
  FakeV4l2Device(FakeV4l2Kernel& kernel, std::string path, FakeDeviceConfig config);

  // Frames are handed out in order; with `repeat` the last one keeps coming once they run out.
  void QueueFrame(FakeFrame frame, bool repeat = false);
  // The node disappears, every call on it fails with ENODEV, poll reports POLLERR | POLLHUP.
  void Unplug();
  // The node comes back (plugged in again): a fresh device, not streaming; descriptors opened before
  // the unplug stay dead.
  void Replug();
  v4l2_pix_format CurrentFormat() const;
  // The control's value now; 0 when the device has no such control.
  std::int32_t ControlValue(std::uint32_t id) const;
  int FramesDequeued() const;

 private:
  friend class FakeV4l2Kernel;
  struct Buffer {
    std::shared_ptr<std::vector<std::uint8_t>> memory;
    bool queued = false;
  };

  bool Adjust(v4l2_pix_format* pix) const;
  int Handle(int fd, unsigned long request, void* arg);
  int HandleBuffer(int fd, unsigned long request, v4l2_buffer* buffer);
  short PollEvents() const;
  void FreeBuffers();

  FakeV4l2Kernel& kernel_;
  const std::string path_;
  const FakeDeviceConfig config_;
  FakeControl* FindControl(std::uint32_t id);
  int HandleControl(unsigned long request, void* arg);

  bool unplugged_ = false, repeat_ = false, wakePending_ = false, streaming_ = false;
  int generation_ = 0;  // plugged-in times; a descriptor works only in the generation it was opened in
  std::vector<FakeControl> controls_;
  v4l2_pix_format format_{};
  std::vector<Buffer> buffers_;
  std::deque<std::uint32_t> queue_;  // queued buffers in order
  int owner_ = -1;                   // the descriptor that allocated the buffers
  std::deque<FakeFrame> frames_;
  std::optional<FakeFrame> last_;
  int framesDequeued_ = 0;
};

class FakeV4l2Kernel final : public capture::V4l2System {
 public:
  // Adds a node; the pointer stays valid for the life of the kernel.
  FakeV4l2Device* AddDevice(const std::string& path, FakeDeviceConfig config);
  // Descriptors still open and buffers still mapped.
  int LeftOpen() const;
  // Bus bandwidth for this many uncompressed streams at once; STREAMON of one more fails with ENOSPC.
  // Compressed streams always fit. Unlimited unless set.
  void LimitBandwidth(int uncompressedStreams);

  std::vector<std::string> ListVideoNodes() override;
  std::vector<std::pair<std::string, std::string>> ListStableLinks() override;
  int Open(const std::string& path, int flags) override;
  int Ioctl(int fd, unsigned long request, void* arg) override;
  void* Mmap(std::size_t length, int prot, int flags, int fd, off_t offset) override;
  int Munmap(void* address, std::size_t length) override;
  int Poll(pollfd* fds, nfds_t count, int timeoutMs) override;
  int Close(int fd) override;

 private:
  friend class FakeV4l2Device;
  FakeV4l2Device* DeviceOf(int fd) const REQUIRES(mutex_);
  // The descriptor was opened before its device was unplugged and plugged in again.
  bool Stale(int fd) const REQUIRES(mutex_);
  int Ready(pollfd* fds, nfds_t count) const REQUIRES(mutex_);

  mutable capture::Mutex mutex_;         // guards everything below and every device's state
  std::condition_variable_any changed_;  // a frame, a queued buffer, a stream change or an unplug
  std::vector<std::unique_ptr<FakeV4l2Device>> devices_ GUARDED_BY(mutex_);
  struct Descriptor {
    FakeV4l2Device* device;
    int generation;
  };
  std::map<int, Descriptor> descriptors_ GUARDED_BY(mutex_);
  int uncompressedStreams_ GUARDED_BY(mutex_) = -1;
  std::multimap<void*, std::shared_ptr<std::vector<std::uint8_t>>> mappings_ GUARDED_BY(mutex_);
  int nextFd_ GUARDED_BY(mutex_) = 100;
};

// A camera offering `formats` under the card name.
inline FakeDeviceConfig CameraConfig(std::vector<FakeFormat> formats, std::string card = "Fake Camera") {
  FakeDeviceConfig config;
  config.card = std::move(card);
  config.formats = std::move(formats);
  return config;
}

}  // namespace testkit
