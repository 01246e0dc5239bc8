// Frames from a V4L2 source: conversion into BGR24 bottom row first, padding, and what happens with
// bad frames, lying devices, a busy device and a camera that is unplugged while it streams.
#include <gtest/gtest.h>

#include "capture/v4l2/v4l2_source_device.h"
#include "tests/capture/v4l2/v4l2_test_support.h"

// OpenCV's codec registry initialises GDAL on the first JPEG encode, and GDAL takes its own two
// locks in both orders while doing so (one thread, no deadlock). ThreadSanitizer builds would stop
// on it; nothing of ours is involved.
extern "C" const char* __tsan_default_suppressions() { return "deadlock:libgdal.so\n"; }

namespace capture {
namespace {

using testing::CameraConfig;
using testing::CollectingSink;
using testing::Eventually;

class V4l2StreamingTest : public ::testing::Test {
 protected:
  // Opens the camera and sets the stream to RGB24 at the size.
  void Open(FakeV4l2DeviceConfig config, int width, int height) {
    width_ = width;
    height_ = height;
    camera_ = kernel_->AddDevice("/dev/video0", std::move(config));
    ASSERT_EQ(V4l2SourceDevice::Open(kernel_, "/dev/video0", &device_), S_OK);
    ASSERT_EQ(device_->CaptureStream().SetFormat(MakeVideoType(MEDIASUBTYPE_RGB24, width, height)), S_OK);
  }
  std::size_t FrameBytes() const { return static_cast<std::size_t>(width_) * height_ * 3; }

  void TearDown() override {
    if (device_) device_->StopStreaming();
    device_.reset();
    EXPECT_EQ(kernel_->Mappings(), 0);
    EXPECT_EQ(kernel_->OpenDescriptors(), 0);
  }

  std::shared_ptr<FakeV4l2System> kernel_ = std::make_shared<FakeV4l2System>();
  FakeV4l2Device* camera_ = nullptr;
  std::unique_ptr<V4l2SourceDevice> device_;
  CollectingSink sink_;
  int width_ = 0;
  int height_ = 0;
};

TEST_F(V4l2StreamingTest, YuyvArrivesAsOpenCvsBgrWithTheBottomRowFirst) {
  Open(CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{64, 48}})}), 64, 48);
  const std::vector<std::uint8_t> yuyv = testing::YuyvFrame(64, 48);
  camera_->QueueFrame({yuyv});
  ASSERT_EQ(device_->StartStreaming(sink_), S_OK);
  ASSERT_TRUE(sink_.WaitFor(1));

  const std::vector<std::uint8_t> sample = sink_.Samples()[0];
  ASSERT_EQ(sample.size(), FrameBytes());
  const cv::Mat expected = testing::OpenCvBgrFromYuyv(yuyv, 64, 48);
  EXPECT_EQ(testing::MaxDifference(testing::TopDown(sample, 64, 48), expected), 0.0);
  // The first bytes of the sample are the picture's last row.
  EXPECT_EQ(0, std::memcmp(sample.data(), expected.ptr(47), 64 * 3));
}

TEST_F(V4l2StreamingTest, RowPaddingOfTheDeviceIsSkipped) {
  FakeV4l2DeviceConfig config = CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{64, 48}})});
  config.paddingPerLine = 32;
  Open(config, 64, 48);
  ASSERT_EQ(device_->DeviceFormat().bytesperline, 64u * 2 + 32);
  const std::vector<std::uint8_t> yuyv = testing::YuyvFrame(64, 48, 64 * 2 + 32);
  camera_->QueueFrame({yuyv});
  ASSERT_EQ(device_->StartStreaming(sink_), S_OK);
  ASSERT_TRUE(sink_.WaitFor(1));

  const cv::Mat expected = testing::OpenCvBgrFromYuyv(yuyv, 64, 48, 64 * 2 + 32);
  EXPECT_EQ(testing::MaxDifference(testing::TopDown(sink_.Samples()[0], 64, 48), expected), 0.0);
}

TEST_F(V4l2StreamingTest, MjpegArrivesAsOpenCvsDecodingWithTheBottomRowFirst) {
  Open(CameraConfig({FakeFormat(V4L2_PIX_FMT_MJPEG, {{96, 64}})}), 96, 64);
  const std::vector<std::uint8_t> jpeg = testing::JpegFrame(testing::TestPicture(96, 64));
  camera_->QueueFrame({jpeg});
  ASSERT_EQ(device_->StartStreaming(sink_), S_OK);
  ASSERT_TRUE(sink_.WaitFor(1));

  const std::vector<std::uint8_t> sample = sink_.Samples()[0];
  ASSERT_EQ(sample.size(), FrameBytes());
  const cv::Mat expected = cv::imdecode(jpeg, cv::IMREAD_COLOR);
  EXPECT_LE(testing::MaxDifference(testing::TopDown(sample, 96, 64), expected), 2.0);
}

TEST_F(V4l2StreamingTest, NativeBgr24IsOnlyTurnedBottomUp) {
  Open(CameraConfig({FakeFormat(V4L2_PIX_FMT_BGR24, {{40, 30}})}), 40, 30);
  const cv::Mat picture = testing::TestPicture(40, 30);
  camera_->QueueFrame({std::vector<std::uint8_t>(picture.data, picture.data + picture.total() * 3)});
  ASSERT_EQ(device_->StartStreaming(sink_), S_OK);
  ASSERT_TRUE(sink_.WaitFor(1));
  EXPECT_EQ(testing::MaxDifference(testing::TopDown(sink_.Samples()[0], 40, 30), picture), 0.0);
}

TEST_F(V4l2StreamingTest, PlanarYuvIsConvertedLikeOpenCv) {
  Open(CameraConfig({FakeFormat(V4L2_PIX_FMT_YUV420, {{32, 16}})}), 32, 16);
  std::vector<std::uint8_t> i420(32 * 16 * 3 / 2);
  for (std::size_t i = 0; i < i420.size(); ++i) i420[i] = static_cast<std::uint8_t>(30 + (i * 37) % 190);
  camera_->QueueFrame({i420});
  ASSERT_EQ(device_->StartStreaming(sink_), S_OK);
  ASSERT_TRUE(sink_.WaitFor(1));
  cv::Mat expected;
  cv::cvtColor(cv::Mat(24, 32, CV_8UC1, i420.data()), expected, cv::COLOR_YUV2BGR_I420);
  EXPECT_EQ(testing::MaxDifference(testing::TopDown(sink_.Samples()[0], 32, 16), expected), 0.0);
}

TEST_F(V4l2StreamingTest, NativeYuy2IsDeliveredWithoutPadding) {
  FakeV4l2DeviceConfig config = CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{16, 4}})});
  config.paddingPerLine = 8;
  camera_ = kernel_->AddDevice("/dev/video0", config);
  ASSERT_EQ(V4l2SourceDevice::Open(kernel_, "/dev/video0", &device_), S_OK);
  ASSERT_EQ(device_->CaptureStream().SetFormat(MakeVideoType(MEDIASUBTYPE_YUY2, 16, 4)), S_OK);
  const std::vector<std::uint8_t> yuyv = testing::YuyvFrame(16, 4, 40);
  camera_->QueueFrame({yuyv});
  ASSERT_EQ(device_->StartStreaming(sink_), S_OK);
  ASSERT_TRUE(sink_.WaitFor(1));
  const std::vector<std::uint8_t> sample = sink_.Samples()[0];
  ASSERT_EQ(sample.size(), 16u * 4 * 2);
  for (int row = 0; row < 4; ++row)
    EXPECT_EQ(0, std::memcmp(sample.data() + row * 32, yuyv.data() + row * 40, 32)) << "row " << row;
}

// Each bad frame is followed by a good one; only the good ones may come out, and whole.
TEST_F(V4l2StreamingTest, BadFramesAreDroppedAndNeverDeliveredHalfConverted) {
  Open(CameraConfig({FakeFormat(V4L2_PIX_FMT_MJPEG, {{96, 64}})}), 96, 64);
  const std::vector<std::uint8_t> good = testing::JpegFrame(testing::TestPicture(96, 64, 1));
  std::vector<std::uint8_t> truncated(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
  std::vector<std::uint8_t> damaged = good;
  for (std::size_t i = damaged.size() / 2; i < damaged.size() / 2 + 40; ++i) damaged[i] = 0xFF;
  std::vector<std::uint8_t> otherSize = testing::JpegFrame(testing::TestPicture(48, 32));

  camera_->QueueFrame({good, V4L2_BUF_FLAG_ERROR});  // flagged by the driver
  camera_->QueueFrame({truncated});
  camera_->QueueFrame({damaged});
  camera_->QueueFrame({otherSize});
  camera_->QueueFrame({std::vector<std::uint8_t>(good.size(), 0)});  // not a JPEG at all
  camera_->QueueFrame({good, 0, 0u});                                // empty
  camera_->QueueFrame({good});
  ASSERT_EQ(device_->StartStreaming(sink_), S_OK);
  ASSERT_TRUE(sink_.WaitFor(1));
  ASSERT_TRUE(Eventually([&] { return camera_->FramesDequeued() == 7; }));
  device_->StopStreaming();

  const auto samples = sink_.Samples();
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_LE(testing::MaxDifference(testing::TopDown(samples[0], 96, 64), cv::imdecode(good, cv::IMREAD_COLOR)), 2.0);
}

TEST_F(V4l2StreamingTest, AFrameShorterThanItsFormatIsDropped) {
  Open(CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{64, 48}})}), 64, 48);
  const std::vector<std::uint8_t> whole = testing::YuyvFrame(64, 48);
  camera_->QueueFrame({std::vector<std::uint8_t>(whole.begin(), whole.end() - 1)});
  camera_->QueueFrame({whole, 0, static_cast<std::uint32_t>(whole.size() / 2)});
  camera_->QueueFrame({whole});
  ASSERT_EQ(device_->StartStreaming(sink_), S_OK);
  ASSERT_TRUE(Eventually([&] { return camera_->FramesDequeued() == 3 && sink_.Count() == 1; }));
  device_->StopStreaming();
  EXPECT_EQ(sink_.Count(), 1u);
}

TEST_F(V4l2StreamingTest, UnplugWhileStreamingEndsTheThreadWithoutSpinning) {
  Open(CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{64, 48}})}), 64, 48);
  camera_->QueueFrame({testing::YuyvFrame(64, 48)});
  camera_->SetRepeatLastFrame(true);
  ASSERT_EQ(device_->StartStreaming(sink_), S_OK);
  ASSERT_TRUE(sink_.WaitFor(3));

  camera_->Unplug();
  ASSERT_TRUE(Eventually([&] { return device_->StreamLost(); }));
  const int polls = camera_->PollCalls();
  const std::size_t delivered = sink_.Count();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(camera_->PollCalls(), polls);
  EXPECT_EQ(sink_.Count(), delivered);

  const auto start = std::chrono::steady_clock::now();
  device_->StopStreaming();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

struct StreamFault {
  const char* name;
  unsigned long request;  // 0: poll fails
  int error;
};

class V4l2StreamFaultTest : public V4l2StreamingTest, public ::testing::WithParamInterface<StreamFault> {};

TEST_P(V4l2StreamFaultTest, ADeviceErrorWhileStreamingEndsTheThread) {
  Open(CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{64, 48}})}), 64, 48);
  camera_->QueueFrame({testing::YuyvFrame(64, 48)});
  camera_->SetRepeatLastFrame(true);
  ASSERT_EQ(device_->StartStreaming(sink_), S_OK);
  ASSERT_TRUE(sink_.WaitFor(2));

  if (GetParam().request == 0)
    camera_->FailPoll(GetParam().error);
  else
    camera_->FailIoctl(GetParam().request, GetParam().error);
  ASSERT_TRUE(Eventually([&] { return device_->StreamLost(); }));
  const int polls = camera_->PollCalls();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(camera_->PollCalls(), polls);
}

INSTANTIATE_TEST_SUITE_P(Faults, V4l2StreamFaultTest,
                         ::testing::Values(StreamFault{"DequeueNoDevice", VIDIOC_DQBUF, ENODEV},
                                           StreamFault{"DequeueIo", VIDIOC_DQBUF, EIO},
                                           StreamFault{"RequeueNoDevice", VIDIOC_QBUF, ENODEV},
                                           StreamFault{"PollNoDevice", 0, ENODEV}, StreamFault{"PollIo", 0, EIO}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(V4l2StreamingTest, WakeUpsWithNothingToDequeueDoNotSpin) {
  FakeV4l2DeviceConfig config = CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{64, 48}})});
  config.extraWakeups = true;  // like the PipeWire layer: poll wakes once more per frame
  Open(config, 64, 48);
  camera_->QueueFrame({testing::YuyvFrame(64, 48)});
  camera_->QueueFrame({testing::YuyvFrame(64, 48, 0, 5)});
  ASSERT_EQ(device_->StartStreaming(sink_), S_OK);
  ASSERT_TRUE(sink_.WaitFor(2));
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_FALSE(device_->StreamLost());
  // Two frames and their two extra wake-ups, then one timed-out poll per 100 ms at most.
  EXPECT_LE(camera_->DequeueCalls(), 6);
  EXPECT_LE(camera_->PollCalls(), 10);
}

TEST_F(V4l2StreamingTest, StopStreamingReturnsPromptlyWhileNoFrameComes) {
  Open(CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{64, 48}})}), 64, 48);
  ASSERT_EQ(device_->StartStreaming(sink_), S_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto start = std::chrono::steady_clock::now();
  device_->StopStreaming();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_FALSE(camera_->IsStreaming());
  EXPECT_EQ(camera_->BufferCount(), 0);
  device_->StopStreaming();  // again: nothing left to do
}

TEST_F(V4l2StreamingTest, ABusyDeviceRefusesTheFormatAndTheStream) {
  Open(CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{64, 48}, {32, 24}})}), 64, 48);
  camera_->SetBusy(true);
  EXPECT_EQ(device_->CaptureStream().SetFormat(MakeVideoType(MEDIASUBTYPE_RGB24, 32, 24)), HresultFromErrno(EBUSY));
  EXPECT_EQ(device_->StartStreaming(sink_), HresultFromErrno(EBUSY));
  EXPECT_EQ(kernel_->Mappings(), 0);
  EXPECT_EQ(camera_->BufferCount(), 0);
}

TEST_F(V4l2StreamingTest, AStreamThatCannotStartLeavesNothingAllocated) {
  Open(CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{64, 48}})}), 64, 48);
  camera_->FailIoctl(VIDIOC_STREAMON, EBUSY, 1);
  EXPECT_EQ(device_->StartStreaming(sink_), HresultFromErrno(EBUSY));
  EXPECT_EQ(kernel_->Mappings(), 0);
  EXPECT_EQ(camera_->BufferCount(), 0);
  // The next attempt works.
  camera_->QueueFrame({testing::YuyvFrame(64, 48)});
  ASSERT_EQ(device_->StartStreaming(sink_), S_OK);
  EXPECT_TRUE(sink_.WaitFor(1));
}

// Devices that lie about their lengths: whatever they say, nothing outside the mapped buffers is read
// and nothing outside the sample is written (the unit tests also run under AddressSanitizer).
struct Lie {
  const char* name;
  std::optional<std::uint32_t> bytesPerLine;
  std::optional<std::uint32_t> sizeImage;
  std::optional<std::uint32_t> bufferBytes;
  std::optional<std::uint32_t> queryBufLength;
  std::optional<std::uint32_t> bytesUsed;
  std::size_t frameBytes;
  bool delivers;  // whether a frame can still come out
};

class V4l2LyingDeviceTest : public V4l2StreamingTest, public ::testing::WithParamInterface<Lie> {};

TEST_P(V4l2LyingDeviceTest, NeverReadsOrWritesOutOfBounds) {
  const Lie& lie = GetParam();
  FakeV4l2DeviceConfig config = CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{64, 48}})});
  config.bytesPerLine = lie.bytesPerLine;
  config.sizeImage = lie.sizeImage;
  config.bufferBytes = lie.bufferBytes;
  config.queryBufLength = lie.queryBufLength;
  Open(config, 64, 48);
  camera_->QueueFrame({testing::YuyvFrame(64, 48, lie.frameBytes / 48), 0, lie.bytesUsed});
  camera_->QueueFrame({testing::YuyvFrame(64, 48), 0, lie.bytesUsed});
  const HRESULT started = device_->StartStreaming(sink_);
  if (SUCCEEDED(started)) {
    ASSERT_TRUE(Eventually([&] { return camera_->FramesDequeued() == 2 || device_->StreamLost(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    device_->StopStreaming();
  }
  EXPECT_EQ(sink_.Count() > 0, lie.delivers);
  for (const auto& sample : sink_.Samples()) EXPECT_EQ(sample.size(), FrameBytes());
}

INSTANTIATE_TEST_SUITE_P(
    Lies, V4l2LyingDeviceTest,
    ::testing::Values(
        // Rows closer than a row is long: read as packed rows.
        Lie{"StrideBelowTheRow", 16, {}, {}, {}, {}, 64 * 48 * 2, true},
        // Rows said to be wider than the buffer can hold: every frame is too short and dropped.
        Lie{"StrideBeyondTheBuffer", 64 * 2 * 4, {}, {}, {}, {}, 64 * 48 * 2, false},
        // Image size larger than the buffers actually are.
        Lie{"SizeImageBeyondTheBuffer", {}, 64 * 48 * 2 * 4, 64 * 48 * 2, {}, {}, 64 * 48 * 2, true},
        // Buffers smaller than a frame: frames come cut short and are dropped.
        Lie{"BufferSmallerThanAFrame", {}, {}, 64 * 48, {}, {}, 64 * 48 * 2, false},
        // QUERYBUF claims more than the buffer has: mapping fails, streaming does not start.
        Lie{"QueryBufLengthBeyondTheBuffer", {}, {}, {}, 64 * 48 * 2 * 2, {}, 64 * 48 * 2, false},
        // QUERYBUF says zero.
        Lie{"QueryBufLengthZero", {}, {}, {}, 0u, {}, 64 * 48 * 2, false},
        // bytesused beyond the buffer.
        Lie{"BytesUsedBeyondTheBuffer", {}, {}, {}, {}, 64 * 48 * 2 * 3, 64 * 48 * 2, false},
        // A frame size of 0.
        Lie{"BytesUsedZero", {}, {}, {}, {}, 0u, 64 * 48 * 2, false},
        Lie{"SizeImageZero", {}, 0u, 64 * 48 * 2, {}, {}, 64 * 48 * 2, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(V4l2StreamingTest, AZeroSizedFormatIsNeverAccepted) {
  camera_ = kernel_->AddDevice("/dev/video0", CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{0, 0}})}));
  ASSERT_EQ(V4l2SourceDevice::Open(kernel_, "/dev/video0", &device_), S_OK);
  EXPECT_TRUE(device_->Capabilities().empty());
  EXPECT_LT(device_->CaptureStream().SetFormat(MakeVideoType(MEDIASUBTYPE_RGB24, 640, 480)), 0);
  // The current format (0 x 0) cannot be streamed either.
  EXPECT_LT(device_->StartStreaming(sink_), 0);
}

}  // namespace
}  // namespace capture
