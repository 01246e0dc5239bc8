// One V4L2 capture device as the source of a capture graph: its formats and sizes as capabilities
// (plus RGB24 at every size it delivers in a format we convert), format setting that accepts only what
// the device takes exactly, and a streaming thread that converts every frame to RGB24.
#pragma once

#include <linux/videodev2.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/device_backend.h"
#include "capture/v4l2/v4l2_frame_pump.h"
#include "capture/v4l2/v4l2_system.h"

namespace capture {

class V4l2SourceDevice final : public SourceDevice {
 public:
  // Opens the node and reads its formats, sizes, frame rates and current format.
  static HRESULT Open(std::shared_ptr<V4l2System> system, const std::string& path,
                      std::unique_ptr<V4l2SourceDevice>* device);
  ~V4l2SourceDevice() override;

  std::vector<Capability> Capabilities() const override;
  HRESULT GetFormat(StreamFormat* format) const override;
  bool SetFormat(const StreamFormat& format) override;
  bool DeliversRgb24() const override;
  // A stream the bus has no room for (ENOSPC) is tried once more in MJPEG at the same size, with a
  // line on standard error saying so.
  HRESULT StartStreaming(FrameSink& sink) override;
  void StopStreaming() override;
  bool Lost() const override { return lost_; }
  std::vector<Control> Controls() const override;
  bool SetManual(ControlKind kind, int value) override;

  // The device format behind the stream's current format.
  const v4l2_pix_format& DeviceFormat() const { return deviceFormat_; }

 private:
  // One size range of one pixel format.
  struct Range {
    std::uint32_t pixelFormat = 0;  // the device format frames come in
    GUID subtype;                   // MEDIASUBTYPE_RGB24 when converted from pixelFormat
    bool converted = false;
    std::uint32_t minWidth = 0, maxWidth = 0, stepWidth = 1;
    std::uint32_t minHeight = 0, maxHeight = 0, stepHeight = 1;
    std::int64_t fastest = 0;  // frame interval in 100 ns units; 0 when the device does not say

    bool Offers(std::uint32_t width, std::uint32_t height) const;
  };

  V4l2SourceDevice(std::shared_ptr<V4l2System> system, UniqueFd fd, std::string path);
  int Ioctl(unsigned long request, void* arg) const { return Xioctl(*system_, fd_.get(), request, arg); }
  void AddFormatSizes(std::uint32_t pixelFormat);
  std::int64_t FastestIntervalAt(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height) const;
  void AddRgb24Ranges();
  void ReadCurrentFormat();
  // The device formats that can give `subtype` at the size, best first.
  std::vector<std::uint32_t> CandidatesFor(const GUID& subtype, std::uint32_t width, std::uint32_t height) const;
  // Sets the device to the format exactly; false when it refuses or would adjust it.
  bool SetExactFormat(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height, v4l2_pix_format* set);
  std::int64_t FastestInterval(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height) const;
  // After ENOSPC: the same size in MJPEG, when the device offers it; says how it went.
  HRESULT StartCompressed(V4l2FramePump& pump);

  std::shared_ptr<V4l2System> system_;
  UniqueFd fd_;
  const std::string path_;
  std::vector<std::uint32_t> pixelFormats_;  // ENUM_FMT order
  std::vector<Range> ranges_;
  HRESULT currentResult_ = E_FAIL;  // outcome of reading the current format
  StreamFormat current_;            // what the stream delivers
  v4l2_pix_format deviceFormat_{};  // the device format behind it

  std::unique_ptr<V4l2FramePump> pump_;  // exists while streaming
  std::thread thread_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> lost_{false};  // the streaming thread ended because the device went away
};

}  // namespace capture
