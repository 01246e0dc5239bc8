// Temporal smoothing of the dominant disparity: constant acceleration from rest towards the target,
// no overshoot, and a dead band in which the value holds still.
#pragma once

namespace stereo {

struct FollowerState {
  int followerDirection = 1;   // +1 towards larger values, -1 towards smaller ones
  double followerSteps = 0.0;  // calls since the last change of direction
  int followerAnchor = 0;      // the value, truncated, at the last change of direction
  double followerValue = 0.0;  // the current smoothed value
};

// The follower's acceleration factor: 0.5 times 0.2 taken in single precision, which decides ties
// such as 2.500000037 (rounds to 3, where an exact 0.1 would give 2.5 and round to 2).
inline constexpr double kFollowerFactor = 0.5 * static_cast<double>(0.2f);
inline constexpr double kFollowerDeadBand = 5.0;

// Advances `state` one call towards `target` and returns the new value rounded to the nearest
// integer, halves to even.
int ConvergenceFollower(FollowerState& state, int target);

}  // namespace stereo
