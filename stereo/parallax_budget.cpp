#include "stereo/parallax_budget.h"

#include <algorithm>
#include <cmath>

#include "stereo/convergence_follower.h"

namespace stereo {

ConvergenceLimits BudgetLimits(const ParallaxBudget& budget, double nearest, double farthest, int viewWidth) {
  const double perPercent = viewWidth / 100.0;
  double behind = budget.behindPct * perPercent;
  if (budget.screenWidthMm > 0) behind = std::min(behind, kEyeSeparationMm / budget.screenWidthMm * viewWidth);
  // The crops are shifted by half the follower's value each, so a value v shows convergence 2 * (v / 2):
  // v itself when even, one less when odd. Both ends account for that.
  const int low = static_cast<int>(std::ceil(nearest - budget.inFrontPct * perPercent));
  const int high = static_cast<int>(std::floor(farthest + behind));
  ConvergenceLimits limits;
  limits.lowest = low + (low % 2 != 0 ? 1 : 0);
  limits.highest = high + (high % 2 == 0 ? 1 : 0);
  limits.feasible = limits.lowest <= limits.highest && nearest - farthest <= budget.totalPct * perPercent;
  if (!limits.feasible) limits.lowest = limits.highest - static_cast<int>(kFollowerDeadBand);
  return limits;
}

int BudgetTarget(int wanted, const ConvergenceLimits& limits, int follower) {
  const int deadBand = static_cast<int>(kFollowerDeadBand);
  const int nearest = limits.feasible ? std::clamp(wanted, limits.lowest, limits.highest) : limits.highest;
  if (follower >= limits.lowest && follower <= limits.highest) return nearest;
  // The follower stops as soon as it is within its dead band of the target. A target a dead band
  // inside the limits makes it stop inside them; where they are narrower than that, a target just
  // beyond its dead band moves it a little at a time (or at once onto that target) until it is in.
  if (follower < limits.lowest)
    return std::min(std::max(nearest, limits.lowest + deadBand), std::max(limits.highest, follower + deadBand + 1));
  return std::max(std::min(nearest, limits.highest - deadBand), std::min(limits.lowest, follower - deadBand - 1));
}

}  // namespace stereo
