// A parallax budget: how far behind and in front of the screen the shown points may appear, and
// the follower targets that keep them there. Figures published for live stereo television: about
// +2 % of the screen width behind the screen, -1 % in front, 3 % in all, and never more than the
// eyes' separation behind it (far points would make the eyes diverge).
#pragma once

namespace stereo {

inline constexpr double kEyeSeparationMm = 65.0;

struct ParallaxBudget {
  double behindPct = 2.0;    // largest parallax behind the screen, in per cent of the view width
  double inFrontPct = 1.0;   // largest parallax in front of it (a magnitude)
  double totalPct = 3.0;     // largest difference between the two
  double screenWidthMm = 0;  // the width the view is shown at; 0: unknown (no millimetre limit)
};

// On-screen parallax of a disparity once the crops are placed: side 1's crop at `cropX1`, side 2's
// at `cropX2`. Positive behind the screen, negative in front.
inline double ScreenParallax(double disparity, int cropX1, int cropX2) { return (cropX1 - cropX2) - disparity; }

// The follower values whose crops keep the budget for a scene whose points lie between `farthest`
// and `nearest` (disparities), shown `viewWidth` pixels wide. When no value keeps it, `feasible` is
// false and the range ends at the far limit.
struct ConvergenceLimits {
  int lowest = 0, highest = 0;
  bool feasible = true;
};
ConvergenceLimits BudgetLimits(const ParallaxBudget& budget, double nearest, double farthest, int viewWidth);

// The follower's target for a pass: the value nearest `wanted` within the limits (the far limit
// when the budget cannot be kept). The follower rests anywhere within its dead band of the target,
// so while `follower` (its current value) is outside the limits the target is chosen to bring it to
// rest inside them, not at the edge it came from.
int BudgetTarget(int wanted, const ConvergenceLimits& limits, int follower);

}  // namespace stereo
