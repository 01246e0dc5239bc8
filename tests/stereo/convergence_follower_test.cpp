#include "stereo/convergence_follower.h"

#include <algorithm>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

using stereo::ConvergenceFollower;
using stereo::FollowerState;

std::vector<int> Follow(FollowerState& state, int target, int calls) {
  std::vector<int> results;
  for (int i = 0; i < calls; ++i) results.push_back(ConvergenceFollower(state, target));
  return results;
}

std::vector<int> Repeat(int value, int count) { return std::vector<int>(count, value); }

std::vector<int> Concat(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<int> kRiseTo100 = {0,  0,  1,  2,  3,  4,  5,  6,  8,  10, 12, 14, 17, 20, 23, 26,
                                     29, 32, 36, 40, 44, 48, 53, 58, 63, 68, 73, 78, 84, 90, 96};

TEST(ConvergenceFollower, FactorIsTheWidenedSinglePrecisionFifth) {
  EXPECT_EQ(stereo::kFollowerFactor, 0.10000000149011612);
}

TEST(ConvergenceFollower, FirstCallFromRest) {
  FollowerState state;
  EXPECT_EQ(ConvergenceFollower(state, 100), 0);
  EXPECT_EQ(state.followerDirection, 1);
  EXPECT_EQ(state.followerSteps, 1.0);
  EXPECT_EQ(state.followerAnchor, 0);
  EXPECT_DOUBLE_EQ(state.followerValue, 0.10000000149011612);
}

TEST(ConvergenceFollower, RisesTo100ThenFallsTo50) {
  FollowerState state;
  EXPECT_EQ(Follow(state, 100, 31 + 10), Concat(kRiseTo100, Repeat(96, 10)));
  EXPECT_NEAR(state.followerValue, 96.1000014, 1e-6);
  EXPECT_EQ(state.followerSteps, 41.0) << "steps keep counting while resting";

  const std::vector<int> fallTo50 = {96, 96, 96, 95, 94, 93, 92, 91, 90, 88, 86,
                                     84, 82, 79, 76, 73, 70, 67, 64, 60, 56, 52};
  EXPECT_EQ(Follow(state, 50, 22 + 10), Concat(fallTo50, Repeat(52, 10)));
  EXPECT_EQ(state.followerDirection, -1);
  EXPECT_EQ(state.followerAnchor, 96);
  EXPECT_NEAR(state.followerValue, 51.899, 1e-3);
}

TEST(ConvergenceFollower, SameSideTargetAfterRestIsReachedByTheAccumulatedSteps) {
  // Right after the 31 rising calls: steps becomes 32, 32^2 x 0.1 = 102.4, below 150.
  FollowerState justArrived;
  Follow(justArrived, 100, 31);
  EXPECT_EQ(ConvergenceFollower(justArrived, 150), 102);

  // 37 calls of 100: the candidate 38^2 x 0.1 = 144.4 still falls short.
  FollowerState shortRest;
  Follow(shortRest, 100, 37);
  EXPECT_EQ(ConvergenceFollower(shortRest, 150), 144);

  // From 38 calls on, 39^2 x 0.1 = 152.1 lies beyond 150 and is limited to it at once.
  for (int calls : {38, 60, 500}) {
    FollowerState rested;
    Follow(rested, 100, calls);
    EXPECT_EQ(ConvergenceFollower(rested, 150), 150) << calls << " calls of 100";
    EXPECT_EQ(rested.followerValue, 150.0);
  }
}

TEST(ConvergenceFollower, SmallTargetsFromRest) {
  FollowerState ten;
  EXPECT_EQ(Follow(ten, 10, 20), Concat({0, 0, 1, 2, 3, 4, 5, 6}, Repeat(6, 12)));
  EXPECT_NEAR(ten.followerValue, 6.4000000953, 1e-9);

  FollowerState three;
  EXPECT_EQ(Follow(three, 3, 50), Repeat(0, 50));
  EXPECT_EQ(three.followerValue, 0.0);

  FollowerState zero;
  EXPECT_EQ(ConvergenceFollower(zero, 0), 0);
  EXPECT_EQ(zero.followerDirection, -1) << "0 is not above 0";
  EXPECT_EQ(zero.followerSteps, 0.0);
  EXPECT_EQ(zero.followerAnchor, 0);
  EXPECT_EQ(Follow(zero, 0, 30), Repeat(0, 30));
  EXPECT_EQ(zero.followerDirection, -1);
  EXPECT_EQ(zero.followerValue, 0.0);
}

TEST(ConvergenceFollower, RoundsHalvesToEven) {
  // Fifth step from rest: 25 x 0.10000000149 = 2.500000037, just above the half.
  FollowerState state;
  Follow(state, 100, 4);
  EXPECT_EQ(ConvergenceFollower(state, 100), 3);
  EXPECT_DOUBLE_EQ(state.followerValue, 2.500000037252903);

  // Exact halves held in the dead band round to the even neighbour.
  const struct {
    double value;
    int expected;
  } halves[] = {{2.5, 2}, {3.5, 4}, {0.5, 0}, {7.5, 8}};
  for (const auto& half : halves) {
    FollowerState held;
    held.followerValue = half.value;
    EXPECT_EQ(ConvergenceFollower(held, static_cast<int>(half.value) + 1), half.expected) << half.value;
    EXPECT_EQ(held.followerValue, half.value);
  }
}

TEST(ConvergenceFollower, DeadBandIsStrictlyBelowFive) {
  FollowerState exactlyFive;
  exactlyFive.followerValue = 20.0;
  exactlyFive.followerAnchor = 20;
  exactlyFive.followerSteps = 0.0;
  EXPECT_EQ(ConvergenceFollower(exactlyFive, 25), 20);
  EXPECT_DOUBLE_EQ(exactlyFive.followerValue, 20.10000000149011612) << "moves off 20";

  FollowerState justInside;
  justInside.followerValue = 20.5;
  justInside.followerAnchor = 20;
  EXPECT_EQ(ConvergenceFollower(justInside, 25), 20);
  EXPECT_EQ(justInside.followerValue, 20.5) << "held in the band";
  EXPECT_EQ(justInside.followerSteps, 1.0) << "steps still count";

  // A change of direction inside the band resets steps and anchor but keeps the value.
  FollowerState turning;
  turning.followerValue = 40.7;
  turning.followerSteps = 12.0;
  EXPECT_EQ(ConvergenceFollower(turning, 38), 41);
  EXPECT_EQ(turning.followerValue, 40.7);
  EXPECT_EQ(turning.followerDirection, -1);
  EXPECT_EQ(turning.followerSteps, 0.0);
  EXPECT_EQ(turning.followerAnchor, 40);
}

TEST(ConvergenceFollower, ChangeOfDirectionSnapsToTheTruncatedValue) {
  FollowerState state;
  state.followerValue = 96.1;
  state.followerSteps = 40.0;
  state.followerAnchor = 0;
  EXPECT_EQ(ConvergenceFollower(state, 50), 96);
  EXPECT_EQ(state.followerValue, 96.0);
  EXPECT_EQ(state.followerAnchor, 96);
  EXPECT_EQ(state.followerDirection, -1);

  // Equality is not above: a target equal to the value turns the direction down.
  FollowerState equal;
  equal.followerValue = 30.0;
  ConvergenceFollower(equal, 30);
  EXPECT_EQ(equal.followerDirection, -1);
  EXPECT_EQ(equal.followerSteps, 0.0);
}

TEST(ConvergenceFollower, NeverOvershoots) {
  FollowerState up;
  up.followerSteps = 1000.0;
  EXPECT_EQ(ConvergenceFollower(up, 17), 17);
  EXPECT_EQ(up.followerValue, 17.0);

  FollowerState down;
  down.followerValue = 200.0;
  down.followerDirection = -1;
  down.followerAnchor = 200;
  down.followerSteps = 1000.0;
  EXPECT_EQ(ConvergenceFollower(down, 12), 12);
  EXPECT_EQ(down.followerValue, 12.0);
}

TEST(ConvergenceFollower, RandomTargetsKeepTheValueInRange) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> targetOf(0, 222), holdOf(1, 60);
    FollowerState state;
    int largest = 0;
    for (int segment = 0; segment < 200; ++segment) {
      const int target = targetOf(random);
      largest = std::max(largest, target);
      const int hold = holdOf(random);
      for (int i = 0; i < hold; ++i) {
        const int result = ConvergenceFollower(state, target);
        ASSERT_GE(state.followerValue, 0.0) << "seed " << seed;
        ASSERT_LE(state.followerValue, largest) << "seed " << seed;
        ASSERT_GE(result, 0);
        ASSERT_LE(result, largest);
      }
    }
  }
}

TEST(ConvergenceFollower, ProcessWideStateStartsAtRestAndAdvances) {
  stereo::ResetConvergenceFollower();
  const FollowerState& shared = stereo::ConvergenceFollowerState();
  EXPECT_EQ(shared.followerDirection, 1);
  EXPECT_EQ(shared.followerSteps, 0.0);
  EXPECT_EQ(shared.followerAnchor, 0);
  EXPECT_EQ(shared.followerValue, 0.0);

  std::vector<int> results;
  for (int i = 0; i < 31; ++i) results.push_back(ConvergenceFollower(100));
  EXPECT_EQ(results, kRiseTo100);
  EXPECT_EQ(shared.followerSteps, 31.0);

  stereo::ResetConvergenceFollower();
  EXPECT_EQ(shared.followerValue, 0.0);
  EXPECT_EQ(shared.followerSteps, 0.0);
}

}  // namespace
