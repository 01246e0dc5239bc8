// Camera faults end to end, with the whole viewer running in app::WinMain: a camera that delivers
// nothing, and one unplugged mid-run and plugged in again (V4L2 cameras on the fake kernel).
#include <chrono>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "capture/v4l2/v4l2_backend.h"
#include "testing/fake_v4l2_kernel.h"
#include "testing/viewer_harness.h"

namespace {

using testkit::ViewerHarness;
using namespace std::chrono_literals;

constexpr int kWidth = 1024, kHeight = 768;  // the frame size the viewer opens its cameras at

const app::WindowMessage kEscape{app::WindowMessage::Kind::KeyDown, app::kVirtualKeyEscape};

// Makes a camera stream one picture over and over; returns it as the viewer will see it.
cv::Mat Stream(testkit::FakeV4l2Device* camera, int seed) {
  std::vector<std::uint8_t> yuyv(static_cast<std::size_t>(kWidth) * kHeight * 2);
  cv::RNG(seed).fill(yuyv, cv::RNG::UNIFORM, 16, 240);
  camera->QueueFrame({yuyv}, true);
  cv::Mat bgr;
  cv::cvtColor(cv::Mat(kHeight, kWidth, CV_8UC2, yuyv.data()), bgr, cv::COLOR_YUV2BGR_YUYV);
  return bgr;
}

// The side's display (side 1 on adapter 1) shows the picture's crop where the pass placed it.
bool Shows(const ViewerHarness& h, const app::StereoViewer& viewer, int side, const cv::Mat& picture) {
  cv::Mat shown;
  cv::cvtColor(h.screens->LastPresented(side == 0 ? 1 : 0), shown, cv::COLOR_BGRA2BGR);
  const cv::Rect crop(viewer.lastStep().cropX[side], 84, 800, 600);
  return cv::norm(shown, picture(crop), cv::NORM_INF) == 0.0;
}

// Camera 0 first delivers nothing: the loop neither stalls on it nor disturbs camera 1. Then the frames
// shown are the cameras' pictures, top row first; camera 0's stays while it is unplugged, and it is
// opened again when it comes back.
TEST(CameraFaults, ASilentOrUnpluggedCameraCostsOnlyItsSideAndComesBack) {
  constexpr long kSilentPasses = 60;
  ViewerHarness h;
  auto kernel = std::make_shared<testkit::FakeV4l2Kernel>();
  testkit::FakeV4l2Device* cameras[2];
  for (int i = 0; i < 2; ++i) {  // YUYV at 1024 x 768
    testkit::FakeDeviceConfig config = testkit::CameraConfig({{V4L2_PIX_FMT_YUYV, {{kWidth, kHeight}}}});
    config.stableLinks = {"/dev/v4l/by-id/usb-Fake-" + std::to_string(i) + "-video-index0"};
    cameras[i] = kernel->AddDevice("/dev/video" + std::to_string(i), config);
  }
  const cv::Mat first2 = Stream(cameras[1], 2);
  cv::Mat first1, again1;
  long pass = 0, silentFrames[2] = {0, 0}, unpluggedAt = 0, side1After = 0, side2After = 0;
  bool stillShows1 = false, back = false;
  const auto start = std::chrono::steady_clock::now();
  auto silentPass = std::chrono::steady_clock::duration::max();  // the mean pass while camera 0 is silent
  testing::internal::CaptureStderr();
  const int code = app::WinMain(
      h.MakePlatform(std::make_unique<capture::V4l2Backend>(kernel)), ViewerHarness::IdentityConfig(),
      [&](app::StereoViewer& viewer) {
        const auto now = std::chrono::steady_clock::now();
        if (++pass <= kSilentPasses) {
          for (int side = 0; side < 2; ++side) silentFrames[side] += viewer.lastStep().newFrame[side] ? 1 : 0;
          if (pass == kSilentPasses) silentPass = (now - start) / kSilentPasses, first1 = Stream(cameras[0], 1);
        } else if (!unpluggedAt && Shows(h, viewer, 0, first1) && Shows(h, viewer, 1, first2)) {
          cameras[0]->Unplug();
          unpluggedAt = pass;
        } else if (unpluggedAt && pass > unpluggedAt + 5 && again1.empty()) {  // a frame taken before the unplug landed
          side1After += viewer.lastStep().newFrame[0] ? 1 : 0;
          side2After += viewer.lastStep().newFrame[1] ? 1 : 0;
        }
        if (unpluggedAt && pass == unpluggedAt + 40) {
          stillShows1 = Shows(h, viewer, 0, first1);
          again1 = Stream(cameras[0], 3);
          cameras[0]->Replug();
        }
        back = !again1.empty() && Shows(h, viewer, 0, again1);
        if (back || now - start > 25s) viewer.WindowProc(kEscape);
      });
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(h.window->boxes.empty()) << "a silent or unplugged camera is not an error of the viewer";
  EXPECT_EQ(silentFrames[0], 0);
  EXPECT_GT(silentFrames[1], 0);
  // Taking a frame waits up to a second when none is there; the frame step never asks for one then.
  EXPECT_LT(silentPass, 500ms);
  ASSERT_GT(unpluggedAt, 0) << "the cameras' pictures never showed";
  EXPECT_EQ(side1After, 0);
  EXPECT_TRUE(stillShows1) << "side 1 keeps its last frame";
  EXPECT_GT(side2After, 0);
  EXPECT_TRUE(back) << "side 1 shows camera 0 again";
  const std::string camera0 = "camera 0 (/dev/v4l/by-id/usb-Fake-0-video-index0)";
  EXPECT_EQ(said, camera0 + " went away; side 1 shows its last frame until it is back\n" + camera0 + " is back\n");
  EXPECT_EQ(kernel->LeftOpen(), 0) << "nothing left open or mapped";
}

}  // namespace
