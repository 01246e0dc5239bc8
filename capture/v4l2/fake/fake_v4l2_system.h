// An in-memory V4L2 kernel for tests: video device nodes with formats, frame sizes, frame rates,
// inputs, mmap buffers and frames, configured per test and steered while the code under test runs.
// It can also lie (bad strides, sizes and lengths), fail any ioctl, be busy or be unplugged.
#pragma once

#include <linux/videodev2.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "capture/v4l2/v4l2_system.h"

namespace capture {

struct FakeV4l2FrameSize {
  std::uint32_t type = V4L2_FRMSIZE_TYPE_DISCRETE;
  std::uint32_t width = 0, height = 0;                      // discrete
  std::uint32_t minWidth = 0, maxWidth = 0, stepWidth = 0;  // stepwise and continuous
  std::uint32_t minHeight = 0, maxHeight = 0, stepHeight = 0;
  std::vector<std::uint32_t> framesPerSecond = {30};  // discrete frame intervals 1/fps

  static FakeV4l2FrameSize Discrete(std::uint32_t w, std::uint32_t h, std::vector<std::uint32_t> fps = {30});
  static FakeV4l2FrameSize Stepwise(std::uint32_t minW, std::uint32_t maxW, std::uint32_t stepW, std::uint32_t minH,
                                    std::uint32_t maxH, std::uint32_t stepH, std::vector<std::uint32_t> fps = {30});
};

struct FakeV4l2Format {
  std::uint32_t pixelFormat = V4L2_PIX_FMT_YUYV;
  std::string description;
  std::vector<FakeV4l2FrameSize> sizes;
};

struct FakeV4l2Input {
  std::string name;
  std::uint32_t type = V4L2_INPUT_TYPE_CAMERA;
};

struct FakeV4l2DeviceConfig {
  std::string card = "Fake Camera";  // copied into the 32-byte field; 32 bytes leave no terminator
  std::uint32_t capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_DEVICE_CAPS;
  std::uint32_t deviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
  std::vector<FakeV4l2Format> formats;
  std::vector<FakeV4l2Input> inputs = {{"Camera 1", V4L2_INPUT_TYPE_CAMERA}};
  std::uint32_t maxBuffers = 8;
  std::uint32_t paddingPerLine = 0;  // honest extra bytes at the end of every row (uncompressed)
  // Poll reports a frame once more after every dequeue, with nothing to dequeue (EAGAIN).
  bool extraWakeups = false;

  // Lies. Each, when set, replaces what the format says.
  std::optional<std::uint32_t> bytesPerLine;
  std::optional<std::uint32_t> sizeImage;
  std::optional<std::uint32_t> bufferBytes;     // bytes actually allocated per buffer
  std::optional<std::uint32_t> queryBufLength;  // length QUERYBUF reports (mmap still checks the real size)
};

struct FakeV4l2Frame {
  FakeV4l2Frame() = default;
  FakeV4l2Frame(std::vector<std::uint8_t> frameBytes, std::uint32_t frameFlags = 0,
                std::optional<std::uint32_t> usedBytes = {})
      : bytes(std::move(frameBytes)), flags(frameFlags), bytesUsed(usedBytes) {}

  std::vector<std::uint8_t> bytes;
  std::uint32_t flags = 0;                 // e.g. V4L2_BUF_FLAG_ERROR
  std::optional<std::uint32_t> bytesUsed;  // a lie about the length; default: the bytes copied
};

class FakeV4l2System;

// One device node. Every call locks the system's mutex, so tests may steer it from any thread.
class FakeV4l2Device {
 public:
  FakeV4l2Device(FakeV4l2System& system, std::string path, FakeV4l2DeviceConfig config);

  const std::string& path() const { return path_; }

  // Frames are handed out in order; with RepeatLastFrame the last one keeps coming once they run out.
  void QueueFrame(FakeV4l2Frame frame);
  void SetRepeatLastFrame(bool repeat);
  // The camera goes away: the node disappears, every call on it fails with ENODEV, poll reports
  // POLLERR | POLLHUP.
  void Unplug();
  // Another process streams from the device: S_FMT, REQBUFS and STREAMON fail with EBUSY.
  void SetBusy(bool busy);
  // The next `times` calls of `request` (-1: all) fail with `error`.
  void FailIoctl(unsigned long request, int error, int times = -1);
  // The next `times` polls on the device fail with `error`.
  void FailPoll(int error, int times = -1);
  // open() fails with `error` (0: opens).
  void FailOpen(int error);

  bool IsStreaming() const;
  v4l2_pix_format CurrentFormat() const;
  std::uint32_t CurrentInput() const;
  int BufferCount() const;
  int FramesDequeued() const;
  int DequeueCalls() const;
  int PollCalls() const;
  int SetFormatCalls() const;

 private:
  friend class FakeV4l2System;
  struct Buffer {
    std::shared_ptr<std::vector<std::uint8_t>> memory;
    bool queued = false;
    std::uint64_t contentId = 0;
  };
  struct Failure {
    int error = 0;
    int remaining = 0;  // -1: forever
  };
  struct StoredFrame {
    std::uint64_t id = 0;
    FakeV4l2Frame frame;
  };

  // All below run with the system's mutex held.
  bool FrameAvailable() const;
  bool Adjust(v4l2_pix_format* pix) const;
  int Handle(int fd, unsigned long request, void* arg);
  short PollEvents() const;

  FakeV4l2System& system_;
  const std::string path_;
  FakeV4l2DeviceConfig config_;
  bool unplugged_ = false;
  bool busy_ = false;
  bool repeat_ = false;
  bool wakePending_ = false;
  int openError_ = 0;
  v4l2_pix_format format_{};
  std::uint32_t input_ = 0;
  std::vector<Buffer> buffers_;
  std::deque<std::uint32_t> queue_;  // indices of queued buffers in order
  int owner_ = -1;                   // descriptor that allocated the buffers
  bool streaming_ = false;
  std::deque<StoredFrame> frames_;
  std::optional<StoredFrame> lastFrame_;
  std::uint64_t nextFrameId_ = 1;
  std::map<unsigned long, Failure> failures_;
  Failure pollFailure_;
  int framesDequeued_ = 0;
  int dequeueCalls_ = 0;
  int pollCalls_ = 0;
  int setFormatCalls_ = 0;
};

class FakeV4l2System final : public V4l2System {
 public:
  FakeV4l2System() = default;
  ~FakeV4l2System() override;

  // Adds a node; the pointer stays valid for the life of the system.
  FakeV4l2Device* AddDevice(const std::string& path, FakeV4l2DeviceConfig config);

  int OpenDescriptors() const;
  int Mappings() const;

  std::vector<std::string> ListVideoNodes() override;
  int Open(const std::string& path, int flags) override;
  int Ioctl(int fd, unsigned long request, void* arg) override;
  void* Mmap(std::size_t length, int prot, int flags, int fd, off_t offset) override;
  int Munmap(void* address, std::size_t length) override;
  int Poll(pollfd* fds, nfds_t count, int timeoutMs) override;
  int Close(int fd) override;

 private:
  friend class FakeV4l2Device;
  struct Mapping {
    void* address = nullptr;
    std::size_t length = 0;
    std::shared_ptr<std::vector<std::uint8_t>> memory;
  };
  FakeV4l2Device* DeviceOf(int fd) const;  // mutex held

  mutable std::mutex mutex_;         // guards everything below and every device's state
  std::condition_variable changed_;  // a frame, a queued buffer, a stream change or an unplug
  std::vector<std::unique_ptr<FakeV4l2Device>> devices_;
  std::map<int, FakeV4l2Device*> descriptors_;
  std::vector<Mapping> mappings_;
  int nextFd_ = 100;
};

// A typical camera description: one format with discrete sizes at 30 frames per second.
FakeV4l2Format FakeFormat(std::uint32_t pixelFormat, const std::vector<std::pair<std::uint32_t, std::uint32_t>>& sizes,
                          const std::vector<std::uint32_t>& fps = {30});

}  // namespace capture
