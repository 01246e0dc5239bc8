// The synthetic cameras' scenes: every point of the right view sits exactly its disparity left of the
// left view, and the disparities the scenes report are the ones they render.
#include <gtest/gtest.h>

#include "capture/synthetic/synthetic_scene.h"

namespace {

// Fitted to wide frames, the same objects stand at the same places relative to the frame.
TEST(SyntheticScene, AFittedSceneKeepsItsDepthsWhereTheyWere) {
  const capture::SyntheticScene demo, wide(capture::FittedTo(capture::SyntheticScene::DemoScript(), {1920, 1080}));
  for (double t : {0.0, 3.0, 6.0}) EXPECT_EQ(wide.CentreDisparity(t), demo.CentreDisparity(t)) << t << " s";
  const capture::DisparityRange all = demo.TrueRange(0, cv::Rect(0, 0, 1024, 768), 0.01);
  const capture::DisparityRange wideAll = wide.TrueRange(0, cv::Rect(0, 0, 1920, 1080), 0.01);
  EXPECT_EQ(std::make_pair(wideAll.farthest, wideAll.nearest), std::make_pair(all.farthest, all.nearest));
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
