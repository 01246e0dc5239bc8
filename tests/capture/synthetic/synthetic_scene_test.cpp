// The synthetic cameras' scenes: every point of the right view sits exactly its disparity left of the
// left view, and the disparities the scenes report are the ones they render.
#include <gtest/gtest.h>

#include "capture/synthetic/synthetic_scene.h"

namespace {

TEST(SyntheticScene, TheDemosCentreObjectSweepsBetweenFarAndNearAndBack) {
  capture::SyntheticScene scene;
  EXPECT_EQ(scene.CentreDisparity(0), 30);
  EXPECT_EQ(scene.CentreDisparity(6), 150);
  EXPECT_EQ(scene.CentreDisparity(12), 30);
  int previous = scene.CentreDisparity(0);
  for (double t = 0.1; t < 6; t += 0.1) {
    const int d = scene.CentreDisparity(t);
    EXPECT_GE(d, previous);
    EXPECT_LE(d - previous, 3) << "moves smoothly";
    previous = d;
  }
  const capture::DisparityRange all = scene.TrueRange(0, cv::Rect(0, 0, 1024, 768), 0.01);
  EXPECT_EQ(all.farthest, 12) << "the background";
  EXPECT_EQ(all.nearest, 110) << "the nearest of the objects around the centre one";

  // Fitted to wide frames, the same objects stand at the same places relative to the frame.
  const capture::SyntheticScene wide(capture::FittedTo(capture::SyntheticScene::DemoScript(), {1920, 1080}));
  for (double t : {0.0, 3.0, 6.0}) EXPECT_EQ(wide.CentreDisparity(t), scene.CentreDisparity(t)) << t << " s";
  const capture::DisparityRange wideAll = wide.TrueRange(0, cv::Rect(0, 0, 1920, 1080), 0.01);
  EXPECT_EQ(std::make_pair(wideAll.farthest, wideAll.nearest), std::make_pair(12, 110));
}

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
