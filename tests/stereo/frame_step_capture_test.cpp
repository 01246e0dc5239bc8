// The frame step taking real frames from the capture manager over scripted cameras.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "stereo/convergence_follower.h"
#include "tests/support/stereo_rig.h"

using testing_support::StereoRig;

namespace {

cv::Mat Uniform(cv::Scalar colour) { return cv::Mat(768, 1024, CV_8UC3, colour); }

class FrameStepCapture : public testing::Test {
 protected:
  void SetUp() override { stereo::ResetConvergenceFollower(); }
  void TearDown() override { stereo::ResetConvergenceFollower(); }
};

TEST_F(FrameStepCapture, ANewFrameFromCameraOneOnlyReplacesFrameOneAndKeepsFrameTwo) {
  StereoRig rig;
  cv::Mat first1 = Uniform({10, 20, 30}), first2 = Uniform({40, 50, 60});
  first1.at<cv::Vec3b>(0, 0) = {1, 2, 3};  // the top row must arrive on top
  ASSERT_TRUE(rig.Deliver(0, first1));
  ASSERT_TRUE(rig.Deliver(1, first2));
  rig.viewer->FrameStep();
  EXPECT_TRUE(rig.viewer->lastStep.newFrame[0] && rig.viewer->lastStep.newFrame[1]);
  EXPECT_EQ(rig.viewer->frame1.at<cv::Vec3b>(384, 512), cv::Vec3b(10, 20, 30));
  EXPECT_EQ(rig.viewer->frame2.at<cv::Vec3b>(384, 512), cv::Vec3b(40, 50, 60));

  ASSERT_TRUE(rig.Deliver(0, Uniform({70, 80, 90})));
  rig.viewer->FrameStep();
  EXPECT_TRUE(rig.viewer->lastStep.newFrame[0]);
  EXPECT_FALSE(rig.viewer->lastStep.newFrame[1]);
  EXPECT_EQ(rig.viewer->frame1.at<cv::Vec3b>(384, 512), cv::Vec3b(70, 80, 90));
  EXPECT_EQ(rig.viewer->frame2.at<cv::Vec3b>(384, 512), cv::Vec3b(40, 50, 60));
  EXPECT_EQ(rig.harness.display->adapters[0].presents, 1 + 2);
}

TEST_F(FrameStepCapture, ALostDeviceTwoStillTakesCameraOnesFrameThenEndsThePass) {
  StereoRig rig;
  ASSERT_TRUE(rig.Deliver(0, Uniform({5, 6, 7})));
  ASSERT_TRUE(rig.Deliver(1, Uniform({8, 9, 10})));
  rig.harness.display->adapters[0].cooperativeLevels = {display::D3DERR_DEVICELOST};
  rig.viewer->FrameStep();
  EXPECT_EQ(rig.viewer->frame1.at<cv::Vec3b>(400, 400), cv::Vec3b(5, 6, 7));
  EXPECT_FALSE(rig.viewer->capture.HasNewFrame(0));
  EXPECT_TRUE(rig.viewer->capture.HasNewFrame(1)) << "camera 2 is not reached in that pass";
  EXPECT_EQ(rig.viewer->lastStep.passes, 0);
}

TEST_F(FrameStepCapture, ACameraAtAnotherSizeDeliversNothingIsReportedOnceAndIsDrained) {
  StereoRig rig({1280, 720});
  ASSERT_TRUE(rig.viewer->capture.IsDeviceReady(0));
  const cv::Mat before = rig.viewer->frame1.clone();
  testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(rig.cameras->Push(0, 1280 * 720 * 3, 99));
    rig.viewer->FrameStep();
    EXPECT_FALSE(rig.viewer->capture.HasNewFrame(0)) << "the mailbox is drained";
    EXPECT_FALSE(rig.viewer->lastStep.newFrame[0]);
  }
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(errors, "device 0 delivers 1280 by 720, expected 1024 by 768\n");
  EXPECT_EQ(cv::norm(rig.viewer->frame1, before, cv::NORM_INF), 0.0) << "nothing written into the frame image";
  EXPECT_EQ(rig.viewer->lastStep.passes, 3) << "the other side and the pipeline go on";
}

// The frame step rectifies only what is shown or matched and keeps its matcher; on the same input
// it must show exactly what the straightforward pipeline shows.
TEST_F(FrameStepCapture, ShowsTheSameViewsAsTheStraightforwardPipeline) {
  StereoRig fast, reference;
  cv::Mat mapX, mapY;
  testing_support::WarpMaps(1.5, 1.02, &mapX, &mapY);
  for (StereoRig* rig : {&fast, &reference}) {
    testing_support::SetMaps(*rig->viewer, 0, mapX, mapY);
    testing_support::WarpMaps(-1.0, 0.99, &mapX, &mapY);
    testing_support::SetMaps(*rig->viewer, 1, mapX, mapY);
    testing_support::WarpMaps(1.5, 1.02, &mapX, &mapY);
  }
  stereo::FollowerState referenceFollower;
  for (int pass = 0; pass < 12; ++pass) {
    cv::Mat left, right;
    testing_support::TexturedPair(40 + 5 * pass, &left, &right, 100 + pass);
    const bool both = pass % 3 != 2;  // some passes bring no frame from camera 2
    for (StereoRig* rig : {&fast, &reference}) {
      ASSERT_TRUE(rig->Deliver(0, left));
      if (both) {
        ASSERT_TRUE(rig->Deliver(1, right));
      }
    }
    fast.viewer->FrameStep();
    cv::Mat views[2];
    const int v = testing_support::ReferenceFrameStep(*reference.viewer, referenceFollower, views);
    ASSERT_EQ(fast.viewer->lastStep.follower, v) << "pass " << pass;
    for (int side = 0; side < 2; ++side) {
      const auto& presented = fast.harness.display->LastPresented(side == 0 ? 1 : 0);
      const int pitch = fast.harness.display->adapters[side == 0 ? 1 : 0].pitch;
      const cv::Mat shown(600, 800, CV_8UC4, const_cast<std::uint8_t*>(presented.data()), pitch);
      ASSERT_EQ(cv::norm(shown, views[side], cv::NORM_INF), 0.0) << "pass " << pass << " side " << side + 1;
    }
  }
}

}  // namespace
