// Camera faults end to end, with the whole viewer running in app::WinMain: a camera unplugged mid-run
// and plugged in again, and a camera that never delivers (V4L2 cameras on the fake kernel).
#include <chrono>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "capture/v4l2/v4l2_backend.h"
#include "testing/fake_v4l2_kernel.h"
#include "testing/viewer_harness.h"

namespace {

using testkit::ViewerHarness;
using namespace std::chrono_literals;

constexpr int kWidth = 1024;  // the frame size the viewer opens its cameras at
constexpr int kHeight = 768;

const app::WindowMessage kEscape{app::WindowMessage::Kind::KeyDown, app::kVirtualKeyEscape};

class CameraFaults : public testing::Test {
 protected:
  // Two YUYV cameras at 1024 x 768.
  CameraFaults() {
    for (int i = 0; i < 2; ++i) {
      testkit::FakeDeviceConfig config = testkit::CameraConfig({{V4L2_PIX_FMT_YUYV, {{kWidth, kHeight}}}});
      config.stableLinks = {"/dev/v4l/by-id/usb-Fake-" + std::to_string(i) + "-video-index0"};
      cameras[i] = kernel->AddDevice("/dev/video" + std::to_string(i), config);
    }
  }
  // Makes a camera stream one picture over and over; returns it as the viewer will see it.
  static cv::Mat Stream(testkit::FakeV4l2Device* camera, int seed) {
    std::vector<std::uint8_t> yuyv(static_cast<std::size_t>(kWidth) * kHeight * 2);
    cv::RNG(seed).fill(yuyv, cv::RNG::UNIFORM, 16, 240);
    camera->QueueFrame({yuyv}, true);
    cv::Mat bgr;
    cv::cvtColor(cv::Mat(kHeight, kWidth, CV_8UC2, yuyv.data()), bgr, cv::COLOR_YUV2BGR_YUYV);
    return bgr;
  }
  // The side's display (side 1 on adapter 1) shows the picture's crop where the pass placed it.
  bool Shows(const app::StereoViewer& viewer, int side, const cv::Mat& picture) const {
    cv::Mat shown;
    cv::cvtColor(h.screens->LastPresented(side == 0 ? 1 : 0), shown, cv::COLOR_BGRA2BGR);
    const cv::Rect crop(viewer.lastStep().cropX[side], 84, 800, 600);
    return cv::norm(shown, picture(crop), cv::NORM_INF) == 0.0;
  }
  app::Platform Platform() { return h.MakePlatform(std::make_unique<capture::V4l2Backend>(kernel)); }

  ViewerHarness h;
  std::shared_ptr<testkit::FakeV4l2Kernel> kernel = std::make_shared<testkit::FakeV4l2Kernel>();
  testkit::FakeV4l2Device* cameras[2] = {nullptr, nullptr};
};

// The frames shown are the cameras' pictures, top row first; camera 0's stays while it is away, and
// it is opened again when it comes back.
TEST_F(CameraFaults, AnUnpluggedCameraKeepsItsLastFrameWhileTheOtherUpdatesAndComesBack) {
  const cv::Mat first1 = Stream(cameras[0], 1), first2 = Stream(cameras[1], 2);
  cv::Mat again1;
  long pass = 0, unpluggedAt = 0, side1After = 0, side2After = 0;
  bool stillShows1 = false, back = false;
  const auto start = std::chrono::steady_clock::now();
  testing::internal::CaptureStderr();
  const int code = app::WinMain(Platform(), ViewerHarness::IdentityConfig(), [&](app::StereoViewer& viewer) {
    ++pass;
    if (!unpluggedAt && Shows(viewer, 0, first1) && Shows(viewer, 1, first2)) {
      cameras[0]->Unplug();
      unpluggedAt = pass;
    } else if (unpluggedAt && pass > unpluggedAt + 5 && again1.empty()) {  // a frame taken before the unplug landed
      side1After += viewer.lastStep().newFrame[0] ? 1 : 0;
      side2After += viewer.lastStep().newFrame[1] ? 1 : 0;
    }
    if (unpluggedAt && pass == unpluggedAt + 40) {
      stillShows1 = Shows(viewer, 0, first1);
      again1 = Stream(cameras[0], 3);
      cameras[0]->Replug();
    }
    back = !again1.empty() && Shows(viewer, 0, again1);
    if (back || std::chrono::steady_clock::now() - start > 20s) viewer.WindowProc(kEscape);
  });
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(h.window->boxes.empty()) << "an unplugged camera is not an error of the viewer";
  ASSERT_GT(unpluggedAt, 0) << "the cameras' pictures never showed";
  EXPECT_EQ(side1After, 0);
  EXPECT_TRUE(stillShows1) << "side 1 keeps its last frame";
  EXPECT_GT(side2After, 0);
  EXPECT_TRUE(back) << "side 1 shows camera 0 again";
  EXPECT_EQ(
      said,
      "camera 0 (/dev/v4l/by-id/usb-Fake-0-video-index0) went away; side 1 shows its last frame until it is back\n"
      "camera 0 (/dev/v4l/by-id/usb-Fake-0-video-index0) is back\n");
  EXPECT_EQ(kernel->LeftOpen(), 0) << "nothing left open or mapped";
}

TEST_F(CameraFaults, ACameraThatNeverDeliversNeitherStallsTheLoopNorDisturbsTheOther) {
  Stream(cameras[1], 5);  // camera 1 opens and streams, but no frame ever comes
  long pass = 0, side1Frames = 0, side2Frames = 0;
  std::chrono::steady_clock::time_point first, last;
  const int code = app::WinMain(Platform(), ViewerHarness::IdentityConfig(), [&](app::StereoViewer& viewer) {
    last = std::chrono::steady_clock::now();
    if (pass == 0) first = last;
    side1Frames += viewer.lastStep().newFrame[0] ? 1 : 0;
    side2Frames += viewer.lastStep().newFrame[1] ? 1 : 0;
    if (++pass == 60) viewer.WindowProc(kEscape);
  });
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(h.window->boxes.empty());
  EXPECT_EQ(side1Frames, 0);
  EXPECT_GT(side2Frames, 0);
  // Taking a frame waits up to a second when none is there; the frame step never asks for one then.
  EXPECT_LT((last - first) / (pass - 1), 500ms);
}

}  // namespace
