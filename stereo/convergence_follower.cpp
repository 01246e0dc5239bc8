#include "stereo/convergence_follower.h"

#include <cmath>

namespace stereo {

namespace {

// Halves to even, independent of the floating-point environment's rounding mode.
int RoundHalfToEven(double value) {
  const double floor = std::floor(value);
  const double fraction = value - floor;
  double rounded = floor;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0.0)) rounded = floor + 1.0;
  return static_cast<int>(rounded);
}

}  // namespace

int ConvergenceFollower(FollowerState& state, int target) {
  const double a = static_cast<double>(target);
  const double v = state.followerValue;
  state.followerSteps += 1.0;

  const int direction = a > v ? 1 : -1;  // equality counts as not above
  if (direction != state.followerDirection) {
    state.followerSteps = 0.0;
    state.followerAnchor = static_cast<int>(v);  // truncates toward zero
  }
  state.followerDirection = direction;

  const double k = state.followerDirection * kFollowerFactor;
  double candidate = state.followerSteps * state.followerSteps * k + state.followerAnchor;
  if (state.followerDirection > 0 && candidate > a) candidate = a;
  if (state.followerDirection < 0 && candidate < a) candidate = a;

  if (std::fabs(v - a) >= kFollowerDeadBand) state.followerValue = candidate;
  return RoundHalfToEven(state.followerValue);
}

}  // namespace stereo
