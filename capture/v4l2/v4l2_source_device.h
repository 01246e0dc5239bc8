// One V4L2 capture device as the source of a capture graph: its formats and sizes as stream
// capabilities (plus BGR24 at every size it delivers in a format we convert), format setting that
// accepts only what the device takes exactly, its inputs as crossbar, and a streaming thread.
#pragma once

#include <linux/videodev2.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/device_backend.h"
#include "capture/v4l2/v4l2_frame_converter.h"
#include "capture/v4l2/v4l2_frame_pump.h"
#include "capture/v4l2/v4l2_system.h"

namespace capture {

// One size range of one pixel format, as offered by the stream.
struct V4l2Capability {
  std::uint32_t pixelFormat = 0;  // the device format frames come in
  GUID subtype;                   // what the stream delivers: MEDIASUBTYPE_RGB24 when emulated
  bool emulated = false;          // BGR24 converted from pixelFormat
  std::uint32_t minWidth = 0, maxWidth = 0, stepWidth = 1;
  std::uint32_t minHeight = 0, maxHeight = 0, stepHeight = 1;
  std::int64_t minInterval = 0;  // 100 ns units; 0 when the device does not say
  std::int64_t maxInterval = 0;

  bool Offers(std::uint32_t width, std::uint32_t height) const;
};

struct V4l2InputInfo {
  std::string name;
  std::uint32_t type = 0;
  long physicalType = 0;  // PhysConn_Video_*
};

// The connector type of a V4L2 input, from its type and, as far as it tells, its name.
long PhysicalTypeOfInput(std::uint32_t type, const std::string& name);

class V4l2SourceDevice;

class V4l2StreamConfig final : public StreamConfig {
 public:
  explicit V4l2StreamConfig(V4l2SourceDevice& device) : device_(device) {}
  HRESULT GetFormat(std::unique_ptr<MediaType>* format) override;
  HRESULT SetFormat(const MediaType& format) override;
  HRESULT GetNumberOfCapabilities(int* count, int* size) override;
  HRESULT GetStreamCaps(int index, std::unique_ptr<MediaType>* format, VIDEO_STREAM_CONFIG_CAPS* caps) override;

 private:
  V4l2SourceDevice& device_;
};

class V4l2InputSwitch final : public Crossbar {
 public:
  explicit V4l2InputSwitch(V4l2SourceDevice& device) : device_(device) {}
  HRESULT GetPinCounts(long* outputs, long* inputs) override;
  HRESULT GetCrossbarPinInfo(bool isInput, long index, long* relatedPin, long* physicalType) override;
  HRESULT Route(long output, long input) override;

 private:
  V4l2SourceDevice& device_;
};

class V4l2SourceDevice final : public SourceDevice {
 public:
  // Opens the node and reads its formats, sizes, frame rates, current format and inputs.
  static HRESULT Open(std::shared_ptr<V4l2System> system, const std::string& path,
                      std::unique_ptr<V4l2SourceDevice>* device);
  ~V4l2SourceDevice() override;

  StreamConfig& CaptureStream() override { return stream_; }
  Crossbar* InputSwitch() override { return inputs_.size() > 1 ? &inputSwitch_ : nullptr; }
  HRESULT StartStreaming(FrameSink& sink) override;
  void StopStreaming() override;

  const std::vector<V4l2Capability>& Capabilities() const { return capabilities_; }
  const std::vector<V4l2InputInfo>& Inputs() const { return inputs_; }
  // The device format behind the stream's current format.
  const v4l2_pix_format& DeviceFormat() const { return deviceFormat_; }
  // The streaming thread ended because the device went away or failed.
  bool StreamLost() const { return lost_; }

 private:
  friend class V4l2StreamConfig;
  friend class V4l2InputSwitch;

  V4l2SourceDevice(std::shared_ptr<V4l2System> system, UniqueFd fd);
  void ReadCapabilities();
  void AddFormatSizes(std::uint32_t pixelFormat);
  void IntervalsAt(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height, std::int64_t* fastest,
                   std::int64_t* slowest);
  void AddEmulatedCapabilities();
  void ReadCurrentFormat();
  void ReadInputs();
  // The device formats that can give `subtype` at the size, best first, with how they are delivered.
  std::vector<std::pair<std::uint32_t, V4l2FrameConverter::Output>> CandidatesFor(const GUID& subtype,
                                                                                  std::uint32_t width,
                                                                                  std::uint32_t height) const;
  // Sets the device to the format exactly; 0 or the errno (EINVAL when it would adjust).
  int SetExactFormat(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height, v4l2_pix_format* set);
  std::int64_t FastestInterval(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height) const;
  void StreamingThread(FrameSink* sink);

  std::shared_ptr<V4l2System> system_;
  UniqueFd fd_;
  V4l2StreamConfig stream_;
  V4l2InputSwitch inputSwitch_;

  // Read on the opening thread; the streaming thread reads none of it.
  std::vector<std::uint32_t> pixelFormats_;  // ENUM_FMT order
  std::vector<V4l2Capability> capabilities_;
  std::vector<V4l2InputInfo> inputs_;
  std::uint32_t currentInput_ = 0;
  HRESULT currentResult_ = E_FAIL;  // outcome of reading the current format
  MediaType current_;               // what the stream delivers
  v4l2_pix_format deviceFormat_{};  // the device format behind it
  V4l2FrameConverter::Output output_ = V4l2FrameConverter::Output::kBgrBottomUp;

  std::unique_ptr<V4l2FramePump> pump_;  // exists while streaming
  std::thread thread_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> lost_{false};
};

}  // namespace capture
