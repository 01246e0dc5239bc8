// Fuzz driver for the V4L2 frame path: a fake device of random format and size, honest padding or
// lies (stride, image size, buffer size, QUERYBUF length), random frames, flags and bytesused; the
// format is set as RGB24 or its own subtype, then the frame pump maps and converts every frame. Each
// frame delivered has the announced size, and no mapping or descriptor is left afterwards.
#pragma once

#include <fcntl.h>
#include <linux/videodev2.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/v4l2/v4l2_formats.h"
#include "capture/v4l2/v4l2_frame_pump.h"
#include "capture/v4l2/v4l2_source_device.h"
#include "fuzz/drivers/byte_reader.h"
#include "testing/fake_v4l2_kernel.h"

namespace fuzz {

inline constexpr std::uint32_t kFuzzPixelFormats[] = {
    V4L2_PIX_FMT_YUYV,   V4L2_PIX_FMT_MJPEG,  V4L2_PIX_FMT_YUYV,  V4L2_PIX_FMT_MJPEG,  V4L2_PIX_FMT_UYVY,
    V4L2_PIX_FMT_YVYU,   V4L2_PIX_FMT_NV12,   V4L2_PIX_FMT_NV21,  V4L2_PIX_FMT_YUV420, V4L2_PIX_FMT_YVU420,
    V4L2_PIX_FMT_BGR24,  V4L2_PIX_FMT_RGB24,  V4L2_PIX_FMT_BGR32, V4L2_PIX_FMT_GREY,   V4L2_PIX_FMT_JPEG,
    V4L2_PIX_FMT_RGB565, V4L2_PIX_FMT_YVU410, V4L2_PIX_FMT_Y41P};

// Frames bigger than this many pixels are not tried: their buffers would only cost memory.
inline constexpr std::uint64_t kMaxFuzzPixels = 1u << 22;
// The fake never allocates more than this per buffer when the device lies about sizes.
inline constexpr std::uint32_t kMaxLiedBytes = 1u << 20;

// Reads every byte of what the pump delivers and keeps the lengths.
class CountingSink final : public capture::FrameSink {
 public:
  void Deliver(const std::uint8_t* data, std::size_t length, std::chrono::steady_clock::time_point) override {
    lengths.push_back(length);
    for (std::size_t i = 0; i < length; ++i) checksum += data[i];
  }
  std::vector<std::size_t> lengths;
  std::uint64_t checksum = 0;
};

inline std::uint32_t StrideLie(ByteReader& in, std::uint32_t width) {
  const std::uint32_t lies[] = {0,         1,           width - 1,  width, 2 * width - 1, 2 * width + 1,
                                4 * width, 0xFFFFFFFFu, 0x80000000u};
  const std::size_t pick = in.Pick(10);
  return pick < 9 ? lies[pick] : in.U32();
}

// Empty when every property held; otherwise what went wrong.
inline std::string CheckV4l2Frames(const std::uint8_t* data, std::size_t size) {
  using namespace capture;
  ByteReader in(data, size);
  const std::uint32_t pixelFormat = in.PickFrom(kFuzzPixelFormats);
  const auto width = static_cast<std::uint32_t>(in.Pick(3) == 0 ? in.Dimension() : 1 + in.Pick(64));
  const auto height = static_cast<std::uint32_t>(in.Pick(3) == 0 ? in.Dimension() : 1 + in.Pick(64));
  if (static_cast<std::uint64_t>(width) * height > kMaxFuzzPixels) return {};

  testkit::FakeDeviceConfig config = testkit::CameraConfig({{pixelFormat, {{width, height}}}});
  if (in.Pick(4) == 0) config.paddingPerLine = static_cast<std::uint32_t>(in.Pick(64));
  if (in.Pick(3) == 0) config.bytesPerLine = StrideLie(in, width);
  if (in.Pick(4) == 0) config.sizeImage = in.U32() % kMaxLiedBytes;
  if (in.Pick(4) == 0) config.bufferBytes = in.U32() % kMaxLiedBytes;
  if (in.Pick(6) == 0) config.queryBufLength = in.Pick(2) == 0 ? in.U32() : in.U32() % kMaxLiedBytes;
  config.extraWakeups = in.Bool();
  const bool native = in.Pick(4) == 0;
  // Honest buffers are as large as the format says; keep them within reach of the machine.
  if (!config.bufferBytes && static_cast<std::uint64_t>(width) * height * 4 > kMaxLiedBytes * 4ull)
    config.bufferBytes = kMaxLiedBytes;

  auto kernel = std::make_shared<testkit::FakeV4l2Kernel>();
  testkit::FakeV4l2Device* camera = kernel->AddDevice("/dev/video0", config);
  const std::size_t frameCount = 1 + in.Pick(3);
  for (std::size_t i = 0; i < frameCount; ++i) {
    testkit::FakeFrame frame;
    frame.flags = in.Pick(8) == 0 ? V4L2_BUF_FLAG_ERROR : 0;
    if (in.Pick(5) == 0) frame.bytesUsed = in.Pick(2) == 0 ? in.U32() : in.U16();
    const std::size_t length = in.U16();
    frame.bytes = in.Take(i + 1 == frameCount ? SIZE_MAX : length);  // the last frame takes the rest
    camera->QueueFrame(std::move(frame));
  }

  std::string failure;
  {
    std::unique_ptr<V4l2SourceDevice> device;
    if (V4l2SourceDevice::Open(kernel, "/dev/video0", &device) != S_OK) return "the fake camera did not open";
    const GUID subtype = native ? SubtypeForPixelFormat(pixelFormat) : MEDIASUBTYPE_RGB24;
    if (device->SetFormat({subtype, static_cast<int>(width), static_cast<int>(height)})) {
      // The streaming side on a descriptor of its own, pumped on this thread so that runs repeat.
      capture::UniqueFd fd(kernel, kernel->Open("/dev/video0", O_RDWR | O_NONBLOCK));
      V4l2FramePump pump(kernel, fd.get());
      if (SUCCEEDED(pump.Start(device->DeviceFormat()))) {
        const v4l2_pix_format& format = device->DeviceFormat();
        if (pump.SampleBytes() != static_cast<std::size_t>(format.width) * format.height * 3)
          failure = "the pump announces a frame size other than the format's";
        CountingSink sink;
        int delivered = 0, dropped = 0;
        for (std::size_t step = 0; step < frameCount + 2; ++step) {
          const V4l2FramePump::Step result = pump.Pump(sink, 0);
          if (result == V4l2FramePump::Step::kDeviceLost) break;
          delivered += result == V4l2FramePump::Step::kDelivered;
          dropped += result == V4l2FramePump::Step::kDropped;
        }
        for (std::size_t length : sink.lengths)
          if (length != pump.SampleBytes()) failure = "a frame of another size";
        if (delivered + dropped > camera->FramesDequeued()) failure = "more frames out than came in";
      }
    }
  }
  if (failure.empty() && kernel->LeftOpen() != 0) failure = "a mapping or descriptor was left behind";
  return failure;
}

}  // namespace fuzz
