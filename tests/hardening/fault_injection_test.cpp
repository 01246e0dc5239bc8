// Faults injected end to end through the fakes, with the whole viewer running in app::WinMain: a
// camera unplugged mid-run, a camera that never delivers, wrong-length samples at full rate, the
// display lost and back, and a back buffer that cannot be had. (Bad map files: tests/stereo.)
#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "app/error_text.h"
#include "capture/fake/scripted_capture.h"
#include "capture/v4l2/v4l2_backend.h"
#include "stereo/convergence_follower.h"
#include "stereo/rectification_maps.h"
#include "tests/capture/capture_test_support.h"
#include "tests/capture/v4l2/v4l2_test_support.h"
#include "tests/display/display_harness.h"
#include "tests/support/viewer_harness.h"

namespace {

using testing_support::ViewerHarness;
using namespace std::chrono_literals;

constexpr int kWidth = stereo::kFrameWidth;
constexpr int kHeight = stereo::kFrameHeight;
// Inside the part of either frame that the viewer rectifies and shows, whatever the crop position.
const cv::Rect kShown(200, 100, 600, 500);

void Escape(app::StereoViewer& viewer) {
  viewer.WindowProc({app::WindowMessage::Kind::KeyDown, app::kVirtualKeyEscape});
}

class FaultInjection : public testing::Test {
 protected:
  void SetUp() override { stereo::ResetConvergenceFollower(); }
  void TearDown() override { stereo::ResetConvergenceFollower(); }

  ViewerHarness h;
};

// ---- cameras, through the V4L2 backend on the fake kernel ----

class CameraFaults : public FaultInjection {
 protected:
  // Two YUYV cameras at 1024 x 768 on /dev/video0 and /dev/video1.
  void SetUp() override {
    FaultInjection::SetUp();
    auto owned = std::make_unique<capture::FakeV4l2System>();
    kernel = owned.get();
    for (int i = 0; i < 2; ++i)
      cameras[i] = kernel->AddDevice(
          "/dev/video" + std::to_string(i),
          capture::testing::CameraConfig({capture::FakeFormat(V4L2_PIX_FMT_YUYV, {{kWidth, kHeight}})},
                                         "Camera " + std::to_string(i + 1)));
    backend = std::make_unique<capture::V4l2Backend>(std::move(owned));
  }
  // Makes a camera stream one picture over and over; returns it as the viewer will see it.
  cv::Mat Stream(int camera, int seed) {
    const std::vector<std::uint8_t> yuyv = capture::testing::YuyvFrame(kWidth, kHeight, 0, seed);
    cameras[camera]->QueueFrame({yuyv});
    cameras[camera]->SetRepeatLastFrame(true);
    return capture::testing::OpenCvBgrFromYuyv(yuyv, kWidth, kHeight);
  }
  static bool Shows(const cv::Mat& frame, const cv::Mat& picture) {
    return cv::norm(frame(kShown), picture(kShown), cv::NORM_INF) == 0.0;
  }

  capture::FakeV4l2System* kernel = nullptr;
  capture::FakeV4l2Device* cameras[2] = {nullptr, nullptr};
  std::unique_ptr<capture::DeviceBackend> backend;
};

TEST_F(CameraFaults, UnpluggedCameraLeavesItsLastFrameWhileTheOtherKeepsUpdating) {
  const cv::Mat first1 = Stream(0, 1);
  const cv::Mat first2 = Stream(1, 2);
  const std::vector<std::uint8_t> second2 = capture::testing::YuyvFrame(kWidth, kHeight, 0, 3);
  const cv::Mat second2Picture = capture::testing::OpenCvBgrFromYuyv(second2, kWidth, kHeight);

  long pass = 0, unpluggedAt = -1, side1FramesAfter = 0, side2FramesAfter = 0;
  bool sawFirst = false;
  cv::Mat frame1AtUnplug;
  cv::Rect lastCrop1;
  const int code =
      app::WinMain(h.MakePlatform(std::move(backend)), ViewerHarness::IdentityConfig(), [&](app::StereoViewer& viewer) {
        ++pass;
        lastCrop1 = viewer.cropWindow1;
        if (unpluggedAt < 0) {
          sawFirst = sawFirst || (Shows(viewer.frame1, first1) && Shows(viewer.frame2, first2));
          if (sawFirst) {
            cameras[0]->Unplug();
            unpluggedAt = pass;
            // Let a frame taken just before the unplug land, then remember what side 1 shows.
          }
        } else if (pass == unpluggedAt + 5) {
          frame1AtUnplug = viewer.frame1.clone();
          cameras[1]->QueueFrame({second2});  // camera 2 moves on to a new picture
        } else if (pass > unpluggedAt + 5) {
          side1FramesAfter += viewer.lastStep.newFrame[0] ? 1 : 0;
          side2FramesAfter += viewer.lastStep.newFrame[1] ? 1 : 0;
          if (Shows(viewer.frame2, second2Picture) && pass > unpluggedAt + 40) Escape(viewer);
        }
        if (pass > 3000) Escape(viewer);  // keeps a broken run from going on forever
      });

  EXPECT_EQ(code, 0);
  EXPECT_TRUE(h.window->boxes.empty()) << "an unplugged camera is not an error of the viewer";
  ASSERT_GT(unpluggedAt, 0) << "both cameras never delivered";
  EXPECT_LT(pass, 3000) << "camera 2's new picture never arrived";
  EXPECT_EQ(side1FramesAfter, 0);
  EXPECT_GT(side2FramesAfter, 0);
  // Side 1 is shown as it was when its camera went away.
  ASSERT_FALSE(frame1AtUnplug.empty());
  EXPECT_TRUE(Shows(frame1AtUnplug, first1));
  EXPECT_TRUE(display_test::ViewShows(h.display->LastPresented(1).data(), h.display->adapters[1].pitch, frame1AtUnplug,
                                      lastCrop1));
}

TEST_F(CameraFaults, ACameraThatNeverDeliversNeitherStallsTheLoopNorDisturbsTheOther) {
  // Camera 1 opens and streams, but no frame ever comes.
  Stream(1, 5);
  long pass = 0, side1Frames = 0, side2Frames = 0;
  std::chrono::steady_clock::time_point first, last;
  const int code =
      app::WinMain(h.MakePlatform(std::move(backend)), ViewerHarness::IdentityConfig(), [&](app::StereoViewer& viewer) {
        last = std::chrono::steady_clock::now();
        if (pass == 0) first = last;
        side1Frames += viewer.lastStep.newFrame[0] ? 1 : 0;
        side2Frames += viewer.lastStep.newFrame[1] ? 1 : 0;
        if (++pass == 60) Escape(viewer);
      });
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(h.window->boxes.empty());
  EXPECT_EQ(side1Frames, 0);
  EXPECT_GT(side2Frames, 0);
  // Taking a frame waits up to a second when none is there; the frame step never asks for one then,
  // so passes take a small part of that (were it waiting, each would take the whole second).
  EXPECT_LT((last - first) / (pass - 1), 500ms);
  // Side 1 still shows the black frame it started with.
  const std::vector<std::uint8_t>& view1 = h.display->LastPresented(1);
  for (std::size_t row = 0; row < 600; row += 50)
    for (std::size_t x = 0; x < 800; x += 100)
      EXPECT_EQ(view1[row * h.display->adapters[1].pitch + 4 * x], 0) << row << "," << x;
}

// ---- wrong-length samples, through the scripted capture backend ----

TEST_F(FaultInjection, WrongLengthSamplesAtFullRateArePrintedEveryTimeAndChangeNothingElse) {
  constexpr long kFrameBytes = static_cast<long>(kWidth) * kHeight * 3;
  auto system = std::make_shared<fake::FakeCameraSystem>();
  for (int i = 0; i < 2; ++i) {
    fake::CameraScript& camera = system->AddCamera();
    camera.capture.current = capture::MakeVideoType(capture::MEDIASUBTYPE_RGB24, kWidth, kHeight);
    camera.capture.capabilities = {fake::FixedSize(capture::MEDIASUBTYPE_RGB24, kWidth, kHeight)};
    camera.threaded = true;  // as fast as the streaming thread can go
  }
  system->Camera(0).sampleLengths = {kFrameBytes - 1, kFrameBytes + 3, 0, kFrameBytes / 2};
  system->Camera(1).interval = 2ms;

  long side1Frames = 0, side2Frames = 0, pass = 0;
  capture_test::StdoutCapture output;
  const int code = app::WinMain(h.MakePlatform(std::make_unique<fake::ScriptedCaptureBackend>(system)),
                                ViewerHarness::IdentityConfig(), [&](app::StereoViewer& viewer) {
                                  side1Frames += viewer.lastStep.newFrame[0] ? 1 : 0;
                                  side2Frames += viewer.lastStep.newFrame[1] ? 1 : 0;
                                  if (++pass == 40) Escape(viewer);
                                });
  const std::string printed = output.Take();

  EXPECT_EQ(code, 0);
  EXPECT_TRUE(h.window->boxes.empty());
  EXPECT_TRUE(app::ErrorTextIsOk());
  EXPECT_EQ(side1Frames, 0);
  EXPECT_GT(side2Frames, 0);
  // One line for every sample of camera 1 (none waits, so every one is inspected), and nothing else.
  const std::string line = "ERROR: SampleCB() - buffer sizes do not match\n";
  std::size_t lines = 0;
  for (std::size_t at = printed.find(line); at != std::string::npos; at = printed.find(line, at + line.size())) ++lines;
  // Samples that arrive between the callback's detachment and the graph's stop at shut-down reach no
  // callback, so a few may go unreported.
  const std::uint64_t delivered = system->Camera(0).samplesDelivered.load();
  EXPECT_LE(lines, delivered);
  EXPECT_GE(lines + 100, delivered);
  EXPECT_GT(lines, 100u) << "the camera was meant to run at full rate";
  EXPECT_EQ(printed.size(), lines * line.size()) << "something else was printed";
}

// ---- displays ----

// A textured pair whose right image is the left one moved `disparity` pixels left.
void TexturedPair(int disparity, cv::Mat* left, cv::Mat* right) {
  cv::Mat noise(kHeight, kWidth + disparity, CV_8UC3);
  cv::RNG rng(11);
  rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
  cv::GaussianBlur(noise, noise, cv::Size(3, 3), 0);
  noise(cv::Rect(0, 0, kWidth, kHeight)).copyTo(*left);
  noise(cv::Rect(disparity, 0, kWidth, kHeight)).copyTo(*right);
}

TEST_F(FaultInjection, DisplayLostAndBackResetsBothDevicesOnceAndTheFollowerGoesOnWhereItWas) {
  // Side 1's display is lost for passes 20..24 (switched away), then can be reset.
  fake::DeviceScript& side1 = h.display->adapters[1];
  for (int pass = 0; pass < 20; ++pass) side1.cooperativeLevels.push_back(display::D3D_OK);
  for (int pass = 0; pass < 5; ++pass) side1.cooperativeLevels.push_back(display::D3DERR_DEVICELOST);
  side1.cooperativeLevels.push_back(display::D3DERR_DEVICENOTRESET);

  std::vector<int> followerByMatchingPass;
  stereo::FollowerState beforeLoss, atReset;
  long pass = 0, matchingBefore = -1, matchingAtReset = -1;
  const int code = app::WinMain(h.MakePlatform(), ViewerHarness::IdentityConfig(), [&](app::StereoViewer& viewer) {
    ++pass;
    if (pass == 1) TexturedPair(48, &viewer.frame1, &viewer.frame2);
    if (static_cast<long>(followerByMatchingPass.size()) < viewer.lastStep.passes)
      followerByMatchingPass.push_back(viewer.lastStep.follower);
    if (pass == 20) {
      beforeLoss = stereo::ConvergenceFollowerState();
      matchingBefore = viewer.lastStep.passes;
    }
    if (pass == 26) {
      atReset = stereo::ConvergenceFollowerState();
      matchingAtReset = viewer.lastStep.passes;
    }
    if (pass == 45) Escape(viewer);
  });
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(h.window->boxes.empty());
  for (int adapter : {0, 1}) {
    EXPECT_EQ(h.display->adapters[adapter].resets, 1) << adapter;
    ASSERT_EQ(h.display->adapters[adapter].resetTimes.size(), 1u);
  }
  EXPECT_GE(h.display->adapters[0].resetTimes[0] - h.display->adapters[1].resetTimes[0], 100ms);
  // Nothing was matched while the display was away or being reset, and the follower did not move.
  EXPECT_EQ(matchingAtReset, matchingBefore);
  EXPECT_EQ(atReset.followerValue, beforeLoss.followerValue);
  EXPECT_EQ(atReset.followerSteps, beforeLoss.followerSteps);
  EXPECT_EQ(atReset.followerAnchor, beforeLoss.followerAnchor);
  EXPECT_EQ(atReset.followerDirection, beforeLoss.followerDirection);
  // And it goes on as if nothing had happened: the same values as a run without the loss.
  stereo::ResetConvergenceFollower();
  ViewerHarness calm;
  std::vector<int> calmFollower;
  long calmPass = 0;
  app::WinMain(calm.MakePlatform(), ViewerHarness::IdentityConfig(), [&](app::StereoViewer& viewer) {
    if (++calmPass == 1) TexturedPair(48, &viewer.frame1, &viewer.frame2);
    if (static_cast<long>(calmFollower.size()) < viewer.lastStep.passes)
      calmFollower.push_back(viewer.lastStep.follower);
    if (static_cast<std::size_t>(calmPass) == followerByMatchingPass.size()) Escape(viewer);
  });
  EXPECT_EQ(followerByMatchingPass, calmFollower);
  EXPECT_GT(followerByMatchingPass.back(), 24) << "the follower was meant to be on its way to 48";
}

TEST_F(FaultInjection, ABackBufferThatCannotBeHadEndsTheRunWithItsBox) {
  h.display->adapters[0].getBackBufferResults = {display::D3D_OK, display::D3D_OK, display::D3DERR_INVALIDCALL};
  h.window->quitAtPass = 50;
  long pass = 0;
  const int code = app::WinMain(h.MakePlatform(), ViewerHarness::IdentityConfig(), [&](app::StereoViewer&) { ++pass; });
  EXPECT_EQ(code, 0);
  EXPECT_THAT(h.window->boxes, testing::ElementsAre("Nelze získat ukazatel na back buffer!"));
  EXPECT_THAT(h.window->boxCaptions, testing::ElementsAre("Direct3D aplikace"));
  // The failing pass still presented both devices; the quit request ended the loop on the next pass.
  EXPECT_EQ(pass, 3);
  EXPECT_EQ(h.display->adapters[0].presents, 1 + 3);
  EXPECT_TRUE(h.window->minimized);
}

}  // namespace
