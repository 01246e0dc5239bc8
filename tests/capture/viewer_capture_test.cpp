// The viewer's frame step over the real capture manager and fake cameras: frames delivered bottom
// row first reach the viewer's images top row first, with the time they arrived.
#include <gtest/gtest.h>

#include "stereo/convergence_follower.h"
#include "testing/fake_cameras.h"
#include "tests/support/viewer_harness.h"

namespace {

TEST(ViewerCapture, FramesOfBothCamerasReachTheFrameStepTopRowFirst) {
  constexpr int kWidth = 1024, kHeight = 768;
  stereo::ResetConvergenceFollower();
  auto cameras = std::make_shared<testkit::FakeCameras>();
  for (int i = 0; i < 2; ++i)
    cameras->Add().capabilities = {testkit::Sizes(capture::MEDIASUBTYPE_RGB24, kWidth, kHeight)};
  testing_support::ViewerHarness h;
  app::StereoViewer viewer(h.MakePlatform(cameras->Backend()), h.IdentityConfig());
  ASSERT_TRUE(viewer.Init());

  // As grabbed: bottom row first, every byte of row r (counted from the top) equal to r mod 251.
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(kWidth) * kHeight * 3);
  for (int row = 0; row < kHeight; ++row)
    std::fill_n(rows.begin() + static_cast<std::ptrdiff_t>(kHeight - 1 - row) * kWidth * 3, kWidth * 3,
                static_cast<std::uint8_t>(row % 251));
  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(cameras->Push(0, rows));
  ASSERT_TRUE(cameras->Push(1, rows));
  viewer.FrameStep();
  for (int side = 0; side < 2; ++side) {
    EXPECT_TRUE(viewer.lastStep.newFrame[side]);
    EXPECT_GE(viewer.lastStep.arrival[side], before);
  }
  for (const int row : {90, 400, 680}) {  // within the rows the viewer shows
    EXPECT_EQ(viewer.frame1.at<cv::Vec3b>(row, 500), cv::Vec3b::all(row % 251)) << row;
    EXPECT_EQ(viewer.frame2.at<cv::Vec3b>(row, 500), cv::Vec3b::all(row % 251)) << row;
  }
  viewer.FrameStep();
  EXPECT_FALSE(viewer.lastStep.newFrame[0]);
  viewer.Shutdown();
  EXPECT_EQ(cameras->OpenCount(), 0);
  stereo::ResetConvergenceFollower();
}

}  // namespace
