// The demo's scene: every point of the right view sits exactly its disparity left of the left view.
#include <gtest/gtest.h>

#include "capture/synthetic/synthetic_scene.h"

namespace {

TEST(SyntheticScene, ObjectDisparitySweepsBetweenFarAndNearAndBack) {
  capture::SyntheticScene scene;
  const auto& s = scene.settings();
  EXPECT_EQ(scene.ObjectDisparity(0), s.farDisparity);
  EXPECT_EQ(scene.ObjectDisparity(s.periodSeconds / 2), s.nearDisparity);
  EXPECT_EQ(scene.ObjectDisparity(s.periodSeconds), s.farDisparity);
  int previous = scene.ObjectDisparity(0);
  for (double t = 0.1; t < s.periodSeconds / 2; t += 0.1) {
    const int d = scene.ObjectDisparity(t);
    EXPECT_GE(d, previous);
    EXPECT_LE(d - previous, 3) << "moves smoothly";
    previous = d;
  }
}

TEST(SyntheticScene, ViewsDifferByTheObjectsAndTheBackgroundsDisparity) {
  capture::SyntheticScene scene;
  const auto& s = scene.settings();
  for (double t : {0.0, 2.0, 6.0}) {
    cv::Mat left, right;
    scene.Render(0, t, &left);
    scene.Render(1, t, &right);
    ASSERT_EQ(left.size(), cv::Size(1024, 768));
    const int d = scene.ObjectDisparity(t);
    // The centre of the view is object in the left image.
    for (int x : {440, 512, 590})
      EXPECT_EQ(right.at<cv::Vec3b>(384, x - d), left.at<cv::Vec3b>(384, x)) << "t " << t << " x " << x;
    // The top rows are background only.
    for (int x : {100, 500, 1000})
      EXPECT_EQ(right.at<cv::Vec3b>(20, x - s.backgroundDisparity), left.at<cv::Vec3b>(20, x));
  }
}

}  // namespace
