// The frame step with fake displays: device checks, matching on stored frames, the follower, crops.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "app/error_text.h"
#include "stereo/convergence_follower.h"
#include "stereo/frame_step.h"
#include "tests/support/stereo_rig.h"
#include "tests/support/viewer_harness.h"

using testing_support::TexturedPair;
using testing_support::ViewerHarness;

namespace {

class FrameStepTest : public testing::Test {
 protected:
  void SetUp() override {
    stereo::ResetConvergenceFollower();
    viewer = h.MakeViewer();
    ASSERT_TRUE(viewer->Init());
  }
  void TearDown() override { stereo::ResetConvergenceFollower(); }

  int Presents(int adapter) const { return h.display->adapters[adapter].presents; }

  // Puts the follower where its next call with target 0 returns `value` (or holds it in the dead band).
  void FollowerAt(double value) {
    stereo::FollowerState& s = stereo::ConvergenceFollowerState();
    s.followerValue = value;
    s.followerDirection = -1;
    s.followerAnchor = static_cast<int>(value);
    s.followerSteps = 0;
  }

  // View column c of an adapter's last presented frame, as BGR.
  cv::Vec3b Presented(int adapter, int row, int column) const {
    const auto& buffer = h.display->LastPresented(adapter);
    const std::size_t at = static_cast<std::size_t>(row) * h.display->adapters[adapter].pitch + 4u * column;
    return {buffer[at], buffer[at + 1], buffer[at + 2]};
  }

  ViewerHarness h;
  std::unique_ptr<app::StereoViewer> viewer;
};

TEST_F(FrameStepTest, WithoutNewFramesStillMatchesAdvancesTheFollowerAndPresentsBoth) {
  viewer->FrameStep();
  viewer->FrameStep();
  EXPECT_EQ(viewer->lastStep.passes, 2);
  EXPECT_FALSE(viewer->lastStep.newFrame[0] || viewer->lastStep.newFrame[1]);
  EXPECT_EQ(stereo::ConvergenceFollowerState().followerDirection, -1) << "a black pair gives 0, not above 0";
  EXPECT_EQ(Presents(0), 1 + 2);
  EXPECT_EQ(Presents(1), 1 + 2);
  // Nothing was counted, so the follower's 0 is raised to 1 and both crops are centred.
  EXPECT_EQ(viewer->lastStep.dominant, 0);
  EXPECT_EQ(viewer->lastStep.follower, 1);
  EXPECT_EQ(viewer->cropWindow1, cv::Rect(112, 84, 800, 600));
  EXPECT_EQ(viewer->cropWindow2, cv::Rect(112, 84, 800, 600));
}

TEST_F(FrameStepTest, ALostDeviceOneEndsThePassBeforeAnything) {
  h.display->adapters[1].cooperativeLevels = {display::D3DERR_DEVICELOST};
  const stereo::FollowerState before = stereo::ConvergenceFollowerState();
  viewer->FrameStep();
  EXPECT_EQ(viewer->lastStep.passes, 0);
  EXPECT_EQ(stereo::ConvergenceFollowerState().followerSteps, before.followerSteps);
  EXPECT_EQ(Presents(0), 1);
  EXPECT_EQ(Presents(1), 1);
  EXPECT_EQ(h.display->adapters[0].resets + h.display->adapters[1].resets, 0);
}

TEST_F(FrameStepTest, ALostDeviceTwoEndsThePassBeforeMatching) {
  h.display->adapters[0].cooperativeLevels = {display::D3DERR_DEVICELOST};
  viewer->FrameStep();
  EXPECT_EQ(viewer->lastStep.passes, 0);
  EXPECT_EQ(stereo::ConvergenceFollowerState().followerSteps, 0.0);
  EXPECT_EQ(Presents(0), 1);
}

TEST_F(FrameStepTest, EitherDeviceReadyForResetResetsBothAndEndsThePass) {
  for (int asking : {1, 0}) {
    h.display->adapters[asking].cooperativeLevels = {display::D3DERR_DEVICENOTRESET};
    const int resets0 = h.display->adapters[0].resets, resets1 = h.display->adapters[1].resets;
    const auto start = std::chrono::steady_clock::now();
    viewer->FrameStep();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(h.display->adapters[1].resets, resets1 + 1) << "asking adapter " << asking;
    EXPECT_EQ(h.display->adapters[0].resets, resets0 + 1) << "asking adapter " << asking;
    EXPECT_GE(elapsed, std::chrono::milliseconds(200)) << "100 ms after each reset";
    EXPECT_EQ(viewer->lastStep.passes, 0);
    EXPECT_EQ(h.display->adapters[1].resetParameters, display::ViewerPresentParameters(viewer->window));
  }
  EXPECT_TRUE(app::ErrorTextIsOk());
  viewer->FrameStep();
  EXPECT_EQ(viewer->lastStep.passes, 1) << "the next pass draws normally";
}

TEST_F(FrameStepTest, AFailedResetWritesItsMessageAndRequestsTheQuit) {
  h.display->adapters[0].cooperativeLevels = {display::D3DERR_DEVICENOTRESET};
  h.display->adapters[0].resetResult = display::D3DERR_INVALIDCALL;
  viewer->FrameStep();
  EXPECT_STREQ(app::ErrorText, "Nelze obnovit zařízení!");
  ASSERT_FALSE(h.window->queue.empty());
  EXPECT_EQ(h.window->queue.back().kind, app::WindowMessage::Kind::Quit);
  EXPECT_EQ(h.display->adapters[1].resets, 1) << "side 1 was reset before side 2 failed";
}

struct CropCase {
  double follower;
  int x1, x2;
};

class FrameStepCrops : public FrameStepTest, public testing::WithParamInterface<CropCase> {};

TEST_P(FrameStepCrops, FollowFromTheFollowerValue) {
  FollowerAt(GetParam().follower);
  viewer->FrameStep();
  EXPECT_EQ(viewer->cropWindow1, cv::Rect(GetParam().x1, 84, 800, 600));
  EXPECT_EQ(viewer->cropWindow2, cv::Rect(GetParam().x2, 84, 800, 600));
  EXPECT_EQ(viewer->lastStep.cropX[0], GetParam().x1);
}

INSTANTIATE_TEST_SUITE_P(Values, FrameStepCrops,
                         testing::Values(CropCase{0, 112, 112}, CropCase{1, 112, 112}, CropCase{2, 113, 111},
                                         CropCase{3, 113, 111}, CropCase{222, 223, 1}));

TEST_F(FrameStepTest, ATexturedPairConvergesOnItsDisparityAndTheCropsLineUp) {
  constexpr int kDisparity = 64;
  TexturedPair(kDisparity, &viewer->frame1, &viewer->frame2);
  for (int pass = 0; pass < 60; ++pass) viewer->FrameStep();
  EXPECT_EQ(viewer->lastStep.dominant, kDisparity);
  const int v = viewer->lastStep.follower;
  EXPECT_LT(std::abs(v - kDisparity), 5) << "settles within the dead band";
  // What is left of the disparity after the crops' shift of 2h shows as this offset between the views.
  const int residual = kDisparity - 2 * (v / 2);
  for (int row : {0, 300, 599})
    for (int column : {0, 400, 790})
      EXPECT_EQ(Presented(1, row, column + residual), Presented(0, row, column)) << row << "," << column;
  // Side 1 shows its crop of frame 1 byte for byte.
  const cv::Vec3b expected = viewer->frame1.at<cv::Vec3b>(84 + 10, 112 + v / 2 + 20);
  EXPECT_EQ(Presented(1, 10, 20), expected);
}

}  // namespace
