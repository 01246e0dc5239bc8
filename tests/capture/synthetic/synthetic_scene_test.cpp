// The synthetic cameras' scenes: every point of the right view sits exactly its disparity left of the
// left view, and the disparities the scenes report are the ones they render.
#include <gtest/gtest.h>

#include "capture/synthetic/synthetic_scene.h"

namespace {

class EveryScene : public testing::TestWithParam<std::string> {};

TEST_P(EveryScene, ViewsDifferByTheDisparityOfWhatTheyShow) {
  capture::SceneScript script;
  ASSERT_TRUE(capture::NamedScene(GetParam(), &script));
  capture::SyntheticScene scene(script);
  for (double t = 0; t < script.seconds; t += 1.5) {
    cv::Mat left, right;
    scene.Render(0, t, &left);
    scene.Render(1, t, &right);
    ASSERT_EQ(left.size(), cv::Size(1024, 768));
    // Around the centre the left view shows the surface whose disparity the scene gives there.
    const int d = scene.CentreDisparity(t);
    for (int x : {504, 508, 512})
      EXPECT_EQ(right.at<cv::Vec3b>(384, x - d), left.at<cv::Vec3b>(384, x)) << GetParam() << " at " << t << " s";
    const capture::DisparityRange centre = scene.TrueRange(t, cv::Rect(504, 380, 9, 9), 0.5);
    EXPECT_EQ(centre.nearest, d);
  }
}

INSTANTIATE_TEST_SUITE_P(Named, EveryScene, testing::ValuesIn(capture::SceneNames()));

}  // namespace
