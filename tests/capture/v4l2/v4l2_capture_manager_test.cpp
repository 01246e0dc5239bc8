// The capture manager over the V4L2 backend and its fake kernel: opening builds and runs the graph,
// frames arrive with the right pixels, and busy or vanishing cameras leave the slot in order.
#include <gtest/gtest.h>

#include "capture/capture_manager.h"
#include "capture/v4l2/v4l2_backend.h"
#include "tests/capture/v4l2/v4l2_test_support.h"

namespace capture {
namespace {

using testing::CameraConfig;
using testing::Eventually;

constexpr int kWidth = 1024;
constexpr int kHeight = 768;

struct Camera {
  const char* name;
  std::uint32_t mjpegFps;
  std::uint32_t yuyvFps;
  std::uint32_t expectedFormat;  // the faster one at 1024 x 768
};

class V4l2CaptureManagerTest : public ::testing::TestWithParam<Camera> {
 protected:
  // A camera offering MJPEG and YUYV at 1024 x 768 (and smaller sizes), streaming one picture.
  void SetUp() override {
    auto owned = std::make_unique<FakeV4l2System>();
    kernel_ = owned.get();
    const Camera& param = GetParam();
    camera_ = kernel_->AddDevice(
        "/dev/video0", CameraConfig({FakeFormat(V4L2_PIX_FMT_MJPEG, {{1280, 720}, {kWidth, kHeight}}, {param.mjpegFps}),
                                     FakeFormat(V4L2_PIX_FMT_YUYV, {{640, 480}, {kWidth, kHeight}}, {param.yuyvFps})},
                                    "Fake USB Camera"));
    manager_ = std::make_unique<CaptureManager>(std::make_unique<V4l2Backend>(std::move(owned)));
  }
  void TearDown() override {
    manager_.reset();
    // The backend, and the fake kernel with it, are gone now.
  }
  // Queues the frame the camera streams in `format`, and returns the picture OpenCV makes of it.
  cv::Mat StreamPicture(std::uint32_t format) {
    if (format == V4L2_PIX_FMT_MJPEG) {
      const std::vector<std::uint8_t> jpeg = testing::JpegFrame(testing::TestPicture(kWidth, kHeight, 9));
      camera_->QueueFrame({jpeg});
      camera_->SetRepeatLastFrame(true);
      return cv::imdecode(jpeg, cv::IMREAD_COLOR);
    }
    const std::vector<std::uint8_t> yuyv = testing::YuyvFrame(kWidth, kHeight, 0, 9);
    camera_->QueueFrame({yuyv});
    camera_->SetRepeatLastFrame(true);
    return testing::OpenCvBgrFromYuyv(yuyv, kWidth, kHeight);
  }

  FakeV4l2System* kernel_ = nullptr;
  FakeV4l2Device* camera_ = nullptr;
  std::unique_ptr<CaptureManager> manager_;
};

TEST_P(V4l2CaptureManagerTest, OpenDeviceRunsTheGraphAndGetPixelsGivesTheCamerasPicture) {
  const cv::Mat expected = StreamPicture(GetParam().expectedFormat);
  ASSERT_TRUE(manager_->OpenDevice(0, kWidth, kHeight));
  EXPECT_EQ(camera_->CurrentFormat().pixelformat, GetParam().expectedFormat);
  int width = 0, height = 0;
  ASSERT_TRUE(manager_->GetFrameSize(0, &width, &height));
  EXPECT_EQ(width, kWidth);
  EXPECT_EQ(height, kHeight);

  cv::Mat frame(kHeight, kWidth, CV_8UC3, cv::Scalar::all(0));
  ASSERT_TRUE(Eventually([&] { return manager_->HasNewFrame(0); }));
  ASSERT_TRUE(manager_->GetPixels(0, frame.data, false, true));
  EXPECT_LE(testing::MaxDifference(frame, expected), 2.0);
  // Frames keep coming.
  ASSERT_TRUE(Eventually([&] { return manager_->HasNewFrame(0); }));
  ASSERT_TRUE(manager_->GetPixels(0, frame.data, false, true));

  manager_->CloseDevice(0);
  EXPECT_FALSE(camera_->IsStreaming());
  EXPECT_EQ(kernel_->OpenDescriptors(), 0);
  EXPECT_EQ(kernel_->Mappings(), 0);
  // And it opens again.
  ASSERT_TRUE(manager_->OpenDevice(0, kWidth, kHeight));
  ASSERT_TRUE(Eventually([&] { return manager_->HasNewFrame(0); }));
}

TEST_P(V4l2CaptureManagerTest, ABusyCameraFailsTheOpeningAndLeavesTheSlotClosed) {
  StreamPicture(GetParam().expectedFormat);
  camera_->SetBusy(true);
  EXPECT_FALSE(manager_->OpenDevice(0, kWidth, kHeight));
  EXPECT_FALSE(manager_->IsDeviceReady(0));
  EXPECT_EQ(kernel_->OpenDescriptors(), 0);
  EXPECT_EQ(kernel_->Mappings(), 0);

  camera_->SetBusy(false);
  EXPECT_TRUE(manager_->OpenDevice(0, kWidth, kHeight));
}

TEST_P(V4l2CaptureManagerTest, AnUnpluggedCameraStopsDeliveringAndClosesCleanly) {
  StreamPicture(GetParam().expectedFormat);
  ASSERT_TRUE(manager_->OpenDevice(0, kWidth, kHeight));
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kWidth) * kHeight * 3);
  ASSERT_TRUE(Eventually([&] { return manager_->HasNewFrame(0); }));
  ASSERT_TRUE(manager_->GetPixels(0, pixels.data(), false, true));

  camera_->Unplug();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  manager_->GetPixels(0, pixels.data(), false, true);  // a frame may have been stored before the unplug
  const std::vector<std::uint8_t> before = pixels;
  EXPECT_FALSE(manager_->GetPixels(0, pixels.data(), false, true));  // waits its second, then gives up
  EXPECT_EQ(pixels, before);

  manager_->CloseDevice(0);
  EXPECT_EQ(kernel_->OpenDescriptors(), 0);
  EXPECT_EQ(kernel_->Mappings(), 0);
  EXPECT_FALSE(manager_->OpenDevice(0, kWidth, kHeight));  // no camera any more
}

INSTANTIATE_TEST_SUITE_P(Cameras, V4l2CaptureManagerTest,
                         ::testing::Values(Camera{"MjpegFaster", 30, 5, V4L2_PIX_FMT_MJPEG},
                                           Camera{"YuyvFaster", 15, 30, V4L2_PIX_FMT_YUYV}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace capture
