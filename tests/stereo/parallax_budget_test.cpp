// The budget's targets through the real follower: wherever it starts, it comes to rest with crops
// that keep the budget, or the far limit where nothing can keep it.
#include "stereo/parallax_budget.h"

#include <gtest/gtest.h>

#include "stereo/convergence_follower.h"

namespace {

TEST(ParallaxBudget, TheFollowerComesToRestInsideTheBudget) {
  const struct {
    const char* what;
    double nearest, farthest;
    int wanted, start;
    double screenWidthMm;
    bool feasible;
  } cases[] = {
      {"inside: the dominant object itself", 36, 30, 36, 1, 0, true},
      {"near limit, from inside", 44, 30, 32, 44, 0, true},
      {"near limit, from below", 50, 40, 20, 5, 0, true},
      {"far limit, from below", 42, 24, 42, 28, 0, true},
      {"far limit, from above", 42, 24, 42, 60, 0, true},
      {"narrow: 18 of 24 pixels used", 48, 30, 48, 48, 0, true},
      {"narrower than the dead band, from below", 48.5, 29.75, 44, 44, 0, true},
      {"narrower than the dead band, from above", 48.5, 29.75, 44, 56, 0, true},
      {"far limit of 65 mm on a 5 m screen", 44, 30, 44, 44, 5000, true},
      {"too deep: the far limit wins", 150, 12, 150, 150, 0, false},
      {"too deep, from below", 150, 12, 20, 20, 0, false},
  };
  for (const auto& c : cases) {
    stereo::ParallaxBudget budget;
    budget.screenWidthMm = c.screenWidthMm;
    const int width = 800;
    const stereo::ConvergenceLimits limits = stereo::BudgetLimits(budget, c.nearest, c.farthest, width);
    EXPECT_EQ(limits.feasible, c.feasible) << c.what;
    stereo::FollowerState state;
    int v = 0;
    for (int pass = 0; pass < 100; ++pass) v = std::max(1, stereo::ConvergenceFollower(state, c.start));
    bool moved = false;
    for (int pass = 0; pass < 200; ++pass) {
      const int target = stereo::BudgetTarget(c.wanted, limits, v);
      moved |= target != c.wanted;
      v = std::max(1, stereo::ConvergenceFollower(state, target));
    }
    const int crop1 = 112 + v / 2, crop2 = 112 - v / 2;
    double behind = budget.behindPct * width / 100;
    if (c.screenWidthMm > 0) behind = std::min(behind, stereo::kEyeSeparationMm * width / c.screenWidthMm);
    EXPECT_LE(stereo::ScreenParallax(c.farthest, crop1, crop2), behind) << c.what << ": follower " << v;
    if (c.feasible) {
      EXPECT_GE(stereo::ScreenParallax(c.nearest, crop1, crop2), -budget.inFrontPct * width / 100)
          << c.what << ": follower " << v;
    }
    if (c.feasible && c.nearest - c.farthest <= 8) {
      EXPECT_FALSE(moved) << c.what << ": nothing to move";
    }
  }
}

}  // namespace
