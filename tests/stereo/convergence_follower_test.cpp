// The follower's motion: from rest with constant acceleration, never past the target, held in the
// dead band, a change of direction snapping to the truncated value; results rounded halves to even.
#include "stereo/convergence_follower.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

using stereo::FollowerState;

std::vector<int> Repeat(int value, int count) { return std::vector<int>(count, value); }
std::vector<int> Then(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<int> kRiseTo100 = {0,  0,  1,  2,  3,  4,  5,  6,  8,  10, 12, 14, 17, 20, 23, 26,
                                     29, 32, 36, 40, 44, 48, 53, 58, 63, 68, 73, 78, 84, 90, 96};

struct Run {
  const char* name;
  FollowerState start;
  std::vector<std::pair<int, int>> lead;  // (target, calls) before the calls judged
  int target, calls;
  std::vector<int> results;  // of the judged calls
  double value;              // afterwards
};

class ConvergenceFollower : public testing::TestWithParam<Run> {};

TEST_P(ConvergenceFollower, GivesTheseResults) {
  FollowerState state = GetParam().start;
  for (auto [target, calls] : GetParam().lead)
    for (int i = 0; i < calls; ++i) stereo::ConvergenceFollower(state, target);
  std::vector<int> results;
  for (int i = 0; i < GetParam().calls; ++i) results.push_back(stereo::ConvergenceFollower(state, GetParam().target));
  EXPECT_EQ(results, GetParam().results);
  EXPECT_NEAR(state.followerValue, GetParam().value, 1e-9);
}

// 0.5 x 0.2 in single precision: the value after k calls from rest is the anchor plus kFactor x k².
constexpr double kFactor = 0.10000000149011612;
const FollowerState kRest;
FollowerState At(double value, double steps = 0, int direction = 1, int anchor = 0) {
  return {direction, steps, anchor, value};
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ConvergenceFollower,
    testing::Values(
        // The single-precision fifth decides the fifth call: 2.500000037 rounds to 3, not 2.
        Run{"RiseTo100AndRest", kRest, {}, 100, 41, Then(kRiseTo100, Repeat(96, 10)), kFactor * 31 * 31},
        Run{"SameSideAfterRestAtOnce", kRest, {{100, 41}}, 150, 1, {150}, 150},
        Run{"SameSideJustArrivedAccelerates", kRest, {{100, 31}}, 150, 1, {102}, kFactor * 32 * 32},
        Run{"ShortRestStillShort", kRest, {{100, 37}}, 150, 1, {144}, kFactor * 38 * 38},
        Run{"OtherSideFromRestAtTheAnchor",
            kRest,
            {{100, 41}},
            50,
            32,
            Then({96, 96, 96, 95, 94, 93, 92, 91, 90, 88, 86, 84, 82, 79, 76, 73, 70, 67, 64, 60, 56, 52},
                 Repeat(52, 10)),
            96 - kFactor * 21 * 21},
        Run{"Ten", kRest, {}, 10, 20, Then({0, 0, 1, 2, 3, 4, 5, 6}, Repeat(6, 12)), kFactor * 8 * 8},
        Run{"BelowTheBandNeverMoves", kRest, {}, 3, 50, Repeat(0, 50), 0},
        Run{"ZeroIsNotAboveZero", kRest, {}, 0, 30, Repeat(0, 30), 0},
        Run{"FiveAwayMoves", At(20, 0, 1, 20), {}, 25, 1, {20}, 20 + kFactor},
        Run{"JustInsideHolds", At(20.5, 0, 1, 20), {}, 25, 1, {20}, 20.5},
        Run{"TurnSnapsToTheTruncatedValue", At(96.1, 40), {}, 50, 1, {96}, 96},
        Run{"TurnInsideTheBandHolds", At(40.7, 12), {}, 38, 1, {41}, 40.7},
        Run{"HalfRoundsDownToEven", At(2.5), {}, 3, 1, {2}, 2.5},
        Run{"HalfRoundsUpToEven", At(3.5), {}, 4, 1, {4}, 3.5},
        Run{"NeverPastTheTargetUp", At(0, 1000), {}, 17, 1, {17}, 17},
        Run{"NeverPastTheTargetDown", At(200, 1000, -1, 200), {}, 12, 1, {12}, 12}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
