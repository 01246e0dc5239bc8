// One 1024 x 768 camera frame through the V4L2 source: from a fake kernel device's mmap buffer,
// dequeued, converted into BGR24 rows (bottom row first) and stored in the frame mailbox,
// for YUYV and MJPEG cameras; beside it the bare conversions by OpenCV, libjpeg and libv4lconvert,
// which decided what the source uses.
#include <fcntl.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>
#include <libv4l-plugin.h>
#include <libv4lconvert.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "capture/frame_mailbox.h"
#include "capture/v4l2/jpeg_frame_decoder.h"
#include "capture/v4l2/v4l2_frame_pump.h"
#include "testing/fake_v4l2_kernel.h"

namespace {

using namespace capture;

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr std::size_t kBgrBytes = static_cast<std::size_t>(kWidth) * kHeight * 3;

// A camera-like picture: shaded shapes with edges, fine texture and sensor noise (noise is what makes
// JPEG decoding cost what it costs with real cameras).
cv::Mat CameraPicture() {
  cv::Mat picture(kHeight, kWidth, CV_8UC3);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      picture.at<cv::Vec3b>(y, x) =
          cv::Vec3b(static_cast<std::uint8_t>(60 + x / 8), static_cast<std::uint8_t>(80 + y / 6),
                    static_cast<std::uint8_t>(120 + ((x / 32 + y / 32) % 2) * 60));
  cv::RNG rng(1234);
  for (int i = 0; i < 60; ++i)
    cv::rectangle(picture,
                  cv::Rect(rng.uniform(0, kWidth), rng.uniform(0, kHeight), rng.uniform(20, 200), rng.uniform(20, 200)),
                  cv::Scalar(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256)), cv::FILLED);
  cv::GaussianBlur(picture, picture, cv::Size(3, 3), 0);
  cv::Mat noise(picture.size(), CV_16SC3), noisy;
  rng.fill(noise, cv::RNG::NORMAL, 0, 4);
  picture.convertTo(noisy, CV_16SC3);
  noisy += noise;
  noisy.convertTo(picture, CV_8UC3);
  return picture;
}

std::vector<std::uint8_t> YuyvOf(const cv::Mat& bgr) {
  cv::Mat yuv;
  cv::cvtColor(bgr, yuv, cv::COLOR_BGR2YUV);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(kWidth) * kHeight * 2);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; x += 2) {
      const cv::Vec3b a = yuv.at<cv::Vec3b>(y, x), b = yuv.at<cv::Vec3b>(y, x + 1);
      std::uint8_t* out = &bytes[(static_cast<std::size_t>(y) * kWidth + x) * 2];
      out[0] = a[0];
      out[1] = static_cast<std::uint8_t>((a[1] + b[1]) / 2);
      out[2] = b[0];
      out[3] = static_cast<std::uint8_t>((a[2] + b[2]) / 2);
    }
  return bytes;
}

std::vector<std::uint8_t> MjpegOf(const cv::Mat& bgr) {
  std::vector<std::uint8_t> bytes;
  cv::imencode(".jpg", bgr, bytes, {cv::IMWRITE_JPEG_QUALITY, 85});
  return bytes;
}

// The frame mailbox, emptied again after every frame (as GetPixels would).
class MailboxSink final : public FrameSink {
 public:
  MailboxSink() { mailbox_.Allocate(kBgrBytes); }
  void Deliver(const std::uint8_t* data, std::size_t length, std::chrono::steady_clock::time_point captured) override {
    mailbox_.Store(data, length, captured);
    stored_ += mailbox_.Take(std::chrono::milliseconds(0), nullptr) ? 1 : 0;
  }
  long stored() const { return stored_; }

 private:
  FrameMailbox mailbox_;
  long stored_ = 0;
};

// The whole path for one frame: poll, dequeue, convert, store in the mailbox, queue again.
void FrameToSink(benchmark::State& state, std::uint32_t pixelFormat, const std::vector<std::uint8_t>& frame) {
  auto kernel = std::make_shared<testkit::FakeV4l2Kernel>();
  testkit::FakeV4l2Device* camera = kernel->AddDevice(
      "/dev/video0", testkit::CameraConfig({testkit::FakeFormat{pixelFormat, {testkit::FakeSize{kWidth, kHeight}}}}));
  camera->QueueFrame({frame}, true);

  // The pump is driven here rather than on the source's thread, so the time is the frame's alone.
  const int fd = kernel->Open("/dev/video0", O_RDWR | O_NONBLOCK);
  v4l2_format format{};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  format.fmt.pix.pixelformat = pixelFormat;
  format.fmt.pix.width = kWidth;
  format.fmt.pix.height = kHeight;
  V4l2FramePump pump(kernel, fd);
  MailboxSink sink;
  if (kernel->Ioctl(fd, VIDIOC_S_FMT, &format) != 0 || pump.Start(format.fmt.pix) != S_OK) {
    state.SkipWithError("streaming did not start");
    return;
  }
  for (auto _ : state) {
    if (pump.Pump(sink, 1000) != V4l2FramePump::Step::kDelivered) {
      state.SkipWithError("no frame delivered");
      break;
    }
  }
  if (sink.stored() != static_cast<long>(state.iterations())) state.SkipWithError("frames not stored");
  state.SetItemsProcessed(state.iterations());
  pump.Stop();
  kernel->Close(fd);
}

void BM_YuyvFrameToMailbox(benchmark::State& state) {
  static const std::vector<std::uint8_t> frame = YuyvOf(CameraPicture());
  FrameToSink(state, V4L2_PIX_FMT_YUYV, frame);
}
BENCHMARK(BM_YuyvFrameToMailbox)->Unit(benchmark::kMillisecond);

void BM_MjpegFrameToMailbox(benchmark::State& state) {
  static const std::vector<std::uint8_t> frame = MjpegOf(CameraPicture());
  FrameToSink(state, V4L2_PIX_FMT_MJPEG, frame);
}
BENCHMARK(BM_MjpegFrameToMailbox)->Unit(benchmark::kMillisecond);

// ---- the conversions alone ----

void BM_YuyvToBgrOpenCv(benchmark::State& state) {
  std::vector<std::uint8_t> yuyv = YuyvOf(CameraPicture());
  cv::Mat source(kHeight, kWidth, CV_8UC2, yuyv.data()), bgr;
  for (auto _ : state) {
    cv::cvtColor(source, bgr, cv::COLOR_YUV2BGR_YUYV);
    benchmark::DoNotOptimize(bgr.data);
  }
}
BENCHMARK(BM_YuyvToBgrOpenCv)->Unit(benchmark::kMillisecond);

void BM_YuyvToBgrBottomUpConverter(benchmark::State& state) {
  std::vector<std::uint8_t> yuyv = YuyvOf(CameraPicture());
  std::vector<std::uint8_t> out(kBgrBytes);
  V4l2FrameConverter converter;
  converter.Configure(V4L2_PIX_FMT_YUYV, kWidth, kHeight, kWidth * 2);
  for (auto _ : state) benchmark::DoNotOptimize(converter.Convert(yuyv.data(), yuyv.size(), out.data()));
}
BENCHMARK(BM_YuyvToBgrBottomUpConverter)->Unit(benchmark::kMillisecond);

void BM_MjpegToBgrLibjpeg(benchmark::State& state) {
  const std::vector<std::uint8_t> jpeg = MjpegOf(CameraPicture());
  std::vector<std::uint8_t> out(kBgrBytes);
  JpegFrameDecoder decoder;
  for (auto _ : state)
    if (!decoder.Decode(jpeg.data(), jpeg.size(), kWidth, kHeight, out.data(), kWidth * 3, true))
      state.SkipWithError("decode failed");
}
BENCHMARK(BM_MjpegToBgrLibjpeg)->Unit(benchmark::kMillisecond);

void BM_MjpegToBgrOpenCvImdecode(benchmark::State& state) {
  const std::vector<std::uint8_t> jpeg = MjpegOf(CameraPicture());
  cv::Mat out;
  for (auto _ : state) {
    cv::imdecode(jpeg, cv::IMREAD_COLOR, &out);
    benchmark::DoNotOptimize(out.data);
  }
}
BENCHMARK(BM_MjpegToBgrOpenCvImdecode)->Unit(benchmark::kMillisecond);

// libv4lconvert without a device behind it: the device says it captures video and knows nothing else.
int BenchIoctl(void*, int, unsigned long request, void* arg) {
  if (request == VIDIOC_QUERYCAP) {
    auto* capability = static_cast<v4l2_capability*>(arg);
    std::memset(capability, 0, sizeof(*capability));
    std::strcpy(reinterpret_cast<char*>(capability->driver), "bench");
    std::strcpy(reinterpret_cast<char*>(capability->card), "bench");
    capability->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    return 0;
  }
  errno = EINVAL;
  return -1;
}

void Libv4lconvert(benchmark::State& state, std::uint32_t pixelFormat, std::vector<std::uint8_t> frame) {
  libv4l_dev_ops ops{};
  ops.ioctl = BenchIoctl;
  v4lconvert_data* data = v4lconvert_create_with_dev_ops(-1, nullptr, &ops);
  if (!data) {
    state.SkipWithError("libv4lconvert did not start");
    return;
  }
  v4l2_format source{}, destination{};
  source.type = destination.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  source.fmt.pix.pixelformat = pixelFormat;
  source.fmt.pix.width = destination.fmt.pix.width = kWidth;
  source.fmt.pix.height = destination.fmt.pix.height = kHeight;
  source.fmt.pix.bytesperline = pixelFormat == V4L2_PIX_FMT_YUYV ? kWidth * 2 : 0;
  source.fmt.pix.sizeimage = static_cast<std::uint32_t>(frame.size());
  destination.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
  destination.fmt.pix.bytesperline = kWidth * 3;
  destination.fmt.pix.sizeimage = static_cast<std::uint32_t>(kBgrBytes);
  std::vector<std::uint8_t> out(kBgrBytes);
  for (auto _ : state) {
    const int written = v4lconvert_convert(data, &source, &destination, frame.data(), static_cast<int>(frame.size()),
                                           out.data(), static_cast<int>(out.size()));
    if (written != static_cast<int>(kBgrBytes)) {
      state.SkipWithError(v4lconvert_get_error_message(data));
      break;
    }
  }
  v4lconvert_destroy(data);
}

void BM_YuyvToBgrLibv4lconvert(benchmark::State& state) {
  Libv4lconvert(state, V4L2_PIX_FMT_YUYV, YuyvOf(CameraPicture()));
}
BENCHMARK(BM_YuyvToBgrLibv4lconvert)->Unit(benchmark::kMillisecond);

void BM_MjpegToBgrLibv4lconvert(benchmark::State& state) {
  Libv4lconvert(state, V4L2_PIX_FMT_MJPEG, MjpegOf(CameraPicture()));
}
BENCHMARK(BM_MjpegToBgrLibv4lconvert)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
