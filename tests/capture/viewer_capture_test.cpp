// The frame pipeline over the real capture manager and the scripted cameras.
#include <gtest/gtest.h>

#include "stereo/frame_pipeline.h"
#include "tests/capture/capture_test_support.h"

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;

class ViewerCaptureTest : public testing::Test {
 protected:
  fake::CameraScript& AddCamera(std::u16string name, int width, int height) {
    fake::CameraScript& camera = cameras->AddCamera(std::move(name));
    camera.capture.capabilities = {fake::FixedSize(capture::MEDIASUBTYPE_YUY2, width, height),
                                   fake::FixedSize(capture::MEDIASUBTYPE_RGB24, width, height)};
    return camera;
  }
  void MakeViewer() {
    capture = std::make_unique<capture::CaptureManager>(std::make_unique<fake::ScriptedCaptureBackend>(cameras));
    pipeline.UseIdentityMaps();
    for (int side = 0; side < 2; ++side) {
      pipeline.CreateFrame(side);
      capture->OpenDevice(side, kWidth, kHeight);
    }
  }
  void FrameStep() {
    const bool new1 = pipeline.TakeFrame(0, *capture), new2 = pipeline.TakeFrame(1, *capture);
    lastStep = pipeline.Match(new1, new2);
  }
  // A frame as the grabber delivers it: bottom row first, every byte of row r (counted from the top)
  // equal to r mod 251.
  static std::vector<std::uint8_t> Rows(int width, int height) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 3);
    for (int row = 0; row < height; ++row)
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(height - 1 - row) * width * 3, width * 3,
                  static_cast<std::uint8_t>(row % 251));
    return bytes;
  }

  std::shared_ptr<fake::FakeCameraSystem> cameras = std::make_shared<fake::FakeCameraSystem>();
  std::unique_ptr<capture::CaptureManager> capture;
  stereo::FramePipeline pipeline;
  stereo::FrameStepRecord lastStep;
};

TEST_F(ViewerCaptureTest, FramesOfBothCamerasReachTheFrameStep) {
  AddCamera(u"Left", kWidth, kHeight);
  AddCamera(u"Right", kWidth, kHeight);
  MakeViewer();
  ASSERT_TRUE(capture->IsDeviceReady(0));
  ASSERT_TRUE(capture->IsDeviceReady(1));

  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(cameras->Push(0, Rows(kWidth, kHeight)));
  ASSERT_TRUE(cameras->Push(1, Rows(kWidth, kHeight)));
  FrameStep();
  EXPECT_TRUE(lastStep.newFrame[0]);
  EXPECT_TRUE(lastStep.newFrame[1]);
  EXPECT_GE(lastStep.arrival[0], before);
  EXPECT_GE(lastStep.arrival[1], before);
  // Rows arrive top first in the frame image (identity maps keep them in place).
  const int row = 400, column = 500;
  EXPECT_EQ(pipeline.View(0).at<cv::Vec3b>(row - 84, column - 112), cv::Vec3b(row % 251, row % 251, row % 251));
  EXPECT_EQ(pipeline.View(1).at<cv::Vec3b>(row - 84, column - 112), cv::Vec3b(row % 251, row % 251, row % 251));

  FrameStep();
  EXPECT_FALSE(lastStep.newFrame[0]);
  EXPECT_FALSE(lastStep.newFrame[1]);
  capture->CloseDevice(0);
  capture->CloseDevice(1);
  EXPECT_FALSE(capture->IsDeviceReady(0));
  EXPECT_EQ(cameras->Camera(0).sourcesAlive.load(), 0);
}

TEST_F(ViewerCaptureTest, CameraOfAnotherSizeIsDroppedWithoutBlocking) {
  AddCamera(u"Left", kWidth, kHeight);
  AddCamera(u"Small", 640, 480);
  MakeViewer();
  int width = 0, height = 0;
  ASSERT_TRUE(capture->GetFrameSize(1, &width, &height));
  EXPECT_EQ(width, 640);
  ASSERT_TRUE(cameras->Push(1, Rows(640, 480)));
  FrameStep();
  EXPECT_FALSE(lastStep.newFrame[1]);
  EXPECT_FALSE(capture->HasNewFrame(1));  // taken out, so the next sample can be stored
  ASSERT_TRUE(cameras->Push(1, Rows(640, 480)));
  EXPECT_TRUE(capture->HasNewFrame(1));
}

}  // namespace
