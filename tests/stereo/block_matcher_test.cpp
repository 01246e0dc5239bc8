// The viewer's block matcher answers as its documented settings do, on pairs where a change of any
// one setting changes the answer: whole-pixel shifts of random texture would hide most of them.
#include <functional>

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "stereo/frame_pipeline.h"
#include "testing/stereo_rig.h"

namespace {

constexpr int kWidth = 352, kHeight = 160;  // the matching window
using Pair = std::pair<cv::Mat, cv::Mat>;

// Textured background and a nearer textured object, a flat patch and stripes (a repeated pattern)
// beside them. The right camera sees the background 20 and the object 60 pixels further left,
// brighter, with less contrast and out of focus; each camera adds its own noise.
Pair BrighterDefocusedRightSide() {
  cv::Mat far(kHeight, kWidth + 60, CV_32F), near(kHeight, kWidth + 60, CV_32F), views[2];
  cv::RNG(1).fill(far, cv::RNG::NORMAL, 0.5, 0.25);
  cv::RNG(2).fill(near, cv::RNG::NORMAL, 0.5, 0.25);
  cv::GaussianBlur(far, far, {0, 0}, 1.5);
  cv::GaussianBlur(near, near, {0, 0}, 1.5);
  for (int side = 0; side < 2; ++side) {
    cv::Mat view(kHeight, kWidth, CV_32F), noise(kHeight, kWidth, CV_32F);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const int object = x + 60 * side, background = x + 20 * side;
        float& v = view.at<float>(y, x);
        if (object >= 230 && object < 320 && y >= 20 && y < 140)
          v = near.at<float>(y, object);
        else if (background >= 200 && background < 230)
          v = 0.5f;
        else
          v = background >= 320 ? ((background / 6) % 2 ? 0.8f : 0.2f) : far.at<float>(y, background);
      }
    if (side == 1) cv::GaussianBlur(view, view, {0, 0}, 1.2);
    cv::RNG(7 + side).fill(noise, cv::RNG::NORMAL, 0, 3);
    view = view * (side ? 150 : 200) + (side ? 70 : 20) + noise;
    view.convertTo(views[side], CV_8U);
  }
  return {views[0], views[1]};
}

// Nothing but one dot on black, 20 pixels apart between the sides: the texture of the blocks around
// it falls off smoothly, so some lie right at the texture threshold.
Pair LoneDotOnBlack() {
  cv::Mat left(kHeight, kWidth, CV_8U, cv::Scalar(0)), right = left.clone();
  left.at<std::uint8_t>(80, 250) = right.at<std::uint8_t>(80, 230) = 40;
  return {left, right};
}

// Pixels whose disparity differs between the two matchers, over both pairs.
int Differing(cv::StereoBM& a, cv::StereoBM& b) {
  static const Pair pairs[] = {BrighterDefocusedRightSide(), LoneDotOnBlack()};
  int differing = 0;
  for (const Pair& pair : pairs) {
    cv::Mat da, db;
    a.compute(pair.first, pair.second, da);
    b.compute(pair.first, pair.second, db);
    differing += cv::countNonZero(da != db);
  }
  return differing;
}

struct Change {
  const char* name;
  std::function<void(cv::StereoBM&)> apply;
};

class BlockMatcher : public testing::TestWithParam<Change> {};

// The viewer's matcher against the documented one, unchanged (the change is only made to a copy of
// the documented matcher, which must then differ: so the pairs would catch that change in the viewer).
TEST_P(BlockMatcher, AnswersAsDocumentedOnPairsThatShowThisSetting) {
  cv::Ptr<cv::StereoBM> viewer = stereo::CreateViewerMatcher(), documented = testkit::DocumentedMatcher();
  cv::Ptr<cv::StereoBM> changed = testkit::DocumentedMatcher();
  GetParam().apply(*changed);
  // The speckle range acts only while the speckle window is on: look at it with the window on.
  if (std::string(GetParam().name).rfind("SpeckleRange", 0) == 0)
    for (cv::StereoBM* m : {viewer.get(), documented.get(), changed.get()}) m->setSpeckleWindowSize(100);
  EXPECT_EQ(Differing(*viewer, *documented), 0);
  EXPECT_GT(Differing(*changed, *documented), 0) << "the pairs do not show this change";
}

INSTANTIATE_TEST_SUITE_P(
    EverySetting, BlockMatcher,
    testing::Values(Change{"PrefilterType",
                           [](cv::StereoBM& m) { m.setPreFilterType(cv::StereoBM::PREFILTER_XSOBEL); }},
                    Change{"PrefilterSizeDown", [](cv::StereoBM& m) { m.setPreFilterSize(39); }},
                    Change{"PrefilterCapUp", [](cv::StereoBM& m) { m.setPreFilterCap(32); }},
                    Change{"BlockSizeDown", [](cv::StereoBM& m) { m.setBlockSize(19); }},
                    Change{"DisparitiesUp", [](cv::StereoBM& m) { m.setNumDisparities(208); }},
                    Change{"MinDisparityUp", [](cv::StereoBM& m) { m.setMinDisparity(1); }},
                    Change{"TextureThresholdUp", [](cv::StereoBM& m) { m.setTextureThreshold(11); }},
                    Change{"UniquenessRatioDown", [](cv::StereoBM& m) { m.setUniquenessRatio(14); }},
                    Change{"SpeckleWindowOn", [](cv::StereoBM& m) { m.setSpeckleWindowSize(1); }},
                    Change{"SpeckleRangeUp", [](cv::StereoBM& m) { m.setSpeckleRange(1); }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
