// The follower's options on the scripted scenes, whose near and far disparities are known: the
// budget held once settled (and broken without it), the target kept through a blank interval.
#include <gtest/gtest.h>

#include "capture/synthetic/synthetic_scene.h"
#include "stereo/frame_pipeline.h"
#include "stereo/match_confidence.h"
#include "stereo/parallax_budget.h"
#include "stereo/rectification_maps.h"
#include "testing/stereo_rig.h"

namespace {

constexpr double kPassesPerSecond = 10;  // the follower needs up to about 15 passes to settle
constexpr int kSettlePasses = 20;

// A pipeline with the options fed a scene's frames, one pass per 1/kPassesPerSecond of scene time,
// and beside it the plain follower on the same dominant disparities: what the viewer does without them.
struct SceneRun {
  SceneRun(const capture::SceneScript& script, stereo::ConvergenceOptions options) {
    scene = std::make_unique<capture::SyntheticScene>(script);
    pipeline.SetConvergenceOptions(options);
    pipeline.UseIdentityMaps();
    for (int side = 0; side < 2; ++side) pipeline.CreateFrame(side);
  }
  int passes() const { return static_cast<int>(scene->script().seconds * kPassesPerSecond); }
  const stereo::FrameStepRecord& Pass(int pass) {
    cv::Mat view;
    for (int side = 0; side < 2; ++side) {
      scene->Render(side, pass / kPassesPerSecond, &view);
      EXPECT_TRUE(rig.Deliver(side, view));
    }
    const bool new1 = pipeline.TakeFrame(0, *rig.capture), new2 = pipeline.TakeFrame(1, *rig.capture);
    const stereo::FrameStepRecord& record = pipeline.Match(new1, new2);
    plainFollower = std::max(1, stereo::ConvergenceFollower(plain, record.dominant));
    return record;
  }
  std::unique_ptr<capture::SyntheticScene> scene;
  stereo::FramePipeline pipeline;
  testkit::StereoRig rig;
  stereo::FollowerState plain;
  int plainFollower = 0;
};

capture::SceneScript Scene(const std::string& name) {
  capture::SceneScript script;
  EXPECT_TRUE(capture::NamedScene(name, &script));
  return script;
}

// The parallax, in per cent of the view, by which the truth leaves the default budget (0 inside).
double BudgetExcess(int follower, const capture::DisparityRange& truth) {
  const double width = stereo::Geometry().view.width, convergence = 2 * (follower / 2);
  const double far = 100 * (convergence - truth.farthest) / width, near = 100 * (convergence - truth.nearest) / width;
  const stereo::ParallaxBudget budget;
  return std::max({0.0, far - budget.behindPct, -budget.inFrontPct - near});
}

class BudgetOnScene : public testing::TestWithParam<const char*> {};

TEST_P(BudgetOnScene, HeldOnceSettledWithComfortAndBrokenWithout) {
  stereo::ConvergenceOptions comfort;
  comfort.comfort = true;
  SceneRun run(Scene(GetParam()), comfort);
  capture::DisparityRange last{-1, -1};
  int changed = 0, settledPasses = 0;
  double worstWith = 0, worstWithout = 0;
  for (int pass = 0; pass < run.passes(); ++pass) {
    const stereo::FrameStepRecord& r = run.Pass(pass);
    const cv::Rect shown(cv::Point(r.cropX[0], stereo::Geometry().CropY()), stereo::Geometry().view);
    const capture::DisparityRange truth = run.scene->TrueRange(pass / kPassesPerSecond, shown, 0.03);
    if (truth.nearest != last.nearest || truth.farthest != last.farthest) changed = pass;
    last = truth;
    if (pass < changed + kSettlePasses) continue;
    ++settledPasses;
    ASSERT_TRUE(r.comfort.known) << "pass " << pass;
    ASSERT_NEAR(r.comfort.nearest, truth.nearest, 1.5) << "pass " << pass;
    ASSERT_NEAR(r.comfort.farthest, truth.farthest, 1.5) << "pass " << pass;
    worstWith = std::max(worstWith, BudgetExcess(r.follower, truth));
    worstWithout = std::max(worstWithout, BudgetExcess(run.plainFollower, truth));
  }
  EXPECT_GT(settledPasses, 40);
  EXPECT_EQ(worstWith, 0.0) << "per cent beyond the budget with --comfort";
  EXPECT_GT(worstWithout, 0.1) << "the scene breaks the budget when the follower only follows";
}

INSTANTIATE_TEST_SUITE_P(Scenes, BudgetOnScene, testing::Values("depth-step", "crossing", "two-depths", "approach"));

// Near and far too far apart for any convergence (the demo's 12 to 150 pixels): the far limit wins,
// 2 % of 800 pixels behind the screen, or 65 mm (13 pixels) on a screen 4 m wide.
TEST(ParallaxBudget, WhereNoValueKeepsTheBudgetTheFarLimitWins) {
  for (const auto& [screenMm, far] : {std::pair{0.0, 16}, std::pair{4000.0, 13}}) {
    const stereo::ParallaxBudget budget{2, 1, 3, screenMm};
    const stereo::ConvergenceLimits limits = stereo::BudgetLimits(budget, 150, 12, 800);
    EXPECT_FALSE(limits.feasible);
    for (int follower : {1, limits.highest, 140}) {
      const int target = stereo::BudgetTarget(100, limits, follower);
      EXPECT_LE(2 * (target / 2) - 12, far) << "far points beyond the limit, from " << follower;
      EXPECT_GE(2 * (target / 2) - 12, far - 6) << "converged nearer than it must, from " << follower;
    }
  }
}

TEST(HoldWhenUnsure, KeepsTheTargetThroughABlankIntervalAndFollowsAfterIt) {
  stereo::ConvergenceOptions hold;
  hold.holdWhenUnsure = true;
  SceneRun run(Scene("textureless"), hold);
  int before = 0, lowestWithout = 1000, follower = 0;
  for (int pass = 0; pass < run.passes(); ++pass) {
    const double t = pass / kPassesPerSecond;
    const stereo::FrameStepRecord& r = run.Pass(pass);
    follower = r.follower;
    if (t < 4) before = follower;
    if (t >= 4 && t < 7) {
      EXPECT_EQ(r.dominant, 0) << "the wall is blank";
      EXPECT_EQ(follower, before) << t << " s";
      lowestWithout = std::min(lowestWithout, run.plainFollower);
    }
  }
  EXPECT_NEAR(before, 36, 5);
  EXPECT_NEAR(follower, 44, 5) << "follows the object again after the wall";
  EXPECT_LT(lowestWithout, 10) << "without the option the views swing towards infinity";
}

// A blank wall but for an object at the centre: too little matches for a near and a far, and the
// budget leaves the target alone at the object's disparity.
TEST(ParallaxBudget, WithoutADepthTheTargetIsTheDominantDisparity) {
  capture::SceneScript script;
  capture::SceneObject wall, centre;
  wall.size = {1400, 1000};
  wall.textured = false;
  wall.path = {{0, 512, 384, 20}};
  centre.size = {80, 80};
  centre.tint = {40, 120, 220};
  centre.path = {{0, 512, 384, 60}};
  script.objects = {wall, centre};
  stereo::ConvergenceOptions comfort;
  comfort.comfort = true;
  SceneRun run(script, comfort);
  for (int pass = 0; pass < 10; ++pass) {
    const stereo::FrameStepRecord& r = run.Pass(pass);
    ASSERT_FALSE(r.comfort.known) << "pass " << pass;
    EXPECT_EQ(r.target, 60) << "pass " << pass;
  }
}

TEST(MatchConfidence, TrustsSurfacesAndDistrustsScatteredOrFewMatches) {
  const struct {
    const char* what;
    double validShare;        // the first this share of the square's pixels get values
    int lowest, step, count;  // whole pixels: lowest + step * k for k = 0 .. count - 1, in turn
    bool unsure;
  } cases[] = {
      {"one surface", 0.8, 40, 0, 1, false},   {"a surface slanted over 30 pixels", 0.8, 40, 1, 30, false},
      {"two surfaces", 0.8, 30, 12, 2, false}, {"matches all over the range", 0.8, 1, 1, 191, true},
      {"a few matches", 0.05, 40, 0, 1, true},
  };
  for (const auto& c : cases) {
    cv::Mat disparity(160, 192 + 160, CV_16SC1, cv::Scalar(-16));
    cv::Mat square = disparity.colRange(192, disparity.cols);
    const int filled = static_cast<int>(c.validShare * static_cast<double>(square.total()));
    for (int i = 0; i < filled; ++i)
      square.at<int16_t>(i / 160, i % 160) = static_cast<int16_t>(16 * (c.lowest + c.step * (i % c.count)));
    EXPECT_EQ(stereo::Unsure(stereo::MeasureSquare(disparity, 192)), c.unsure) << c.what;
  }
}

}  // namespace
