// Faults injected end to end, the whole viewer running in app::WinMain on the off-screen displays:
// a display lost and back, resets that fail, a back buffer that cannot be had.
#include <chrono>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/viewer_harness.h"

namespace {

using testkit::ViewerHarness;
using Plan = display::OffscreenFaultPlan::Adapter;
using Calls = std::vector<std::string>;

struct DisplayFault {
  const char* name;
  Plan side1, side2;
  int passes;    // the loop is ended on this pass if nothing ends it before
  Calls calls;   // after start-up, before the releases: "P" for both presents of a pass, "R" for both resets
  long matched;  // passes that reached the matching (and moved the follower)
  const char* box = nullptr;
  int held = 0;  // messages waiting before the run, which a quit request queues behind
};

class DisplayFaults : public testing::TestWithParam<DisplayFault> {};

TEST_P(DisplayFaults, FollowTheLossProtocol) {
  ViewerHarness h;
  h.faults.adapters[1] = GetParam().side1;
  h.faults.adapters[0] = GetParam().side2;
  h.window->quitAtPass = GetParam().passes;
  h.window->queue.resize(GetParam().held);
  long matched = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(app::WinMain(h.MakePlatform(), ViewerHarness::IdentityConfig(),
                         [&](app::StereoViewer& viewer) { matched = viewer.lastStep().passes; }),
            0);
  const auto took = std::chrono::steady_clock::now() - start;
  Calls expected, calls = h.Calls("display: ");
  for (const std::string& call : GetParam().calls) {
    if (call == "P") expected.insert(expected.end(), {"present adapter 1", "present adapter 0"});
    if (call == "R") expected.insert(expected.end(), {"reset adapter 1", "reset adapter 0"});
    if (call != "P" && call != "R") expected.push_back(call);
  }
  ASSERT_GE(calls.size(), 12u);
  EXPECT_EQ(Calls(calls.begin() + 8, calls.end() - 4), expected) << "between creation and release";
  EXPECT_EQ(matched, GetParam().matched);
  if (GetParam().box) {
    EXPECT_THAT(h.window->boxes, testing::ElementsAre(GetParam().box));
  } else {
    EXPECT_TRUE(h.window->boxes.empty());
    // Each successful reset is followed by 100 ms of sleep.
    const auto resets = std::count(expected.begin(), expected.end(), "reset adapter 1");
    EXPECT_GE(took, std::chrono::milliseconds(200) * resets);
  }
}

const char* const kResetFailed = "Nelze obnovit zařízení!";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Faults, DisplayFaults, testing::Values(
    // Switched away for passes 1 and 2: nothing happens; back at pass 3: both reset, the pass ends.
    DisplayFault{"Device1LostThenBack", {.lostAtCheck = 1, .resettableAtCheck = 3}, {}, 5, {"P", "R", "P"}, 2},
    DisplayFault{"Device2AsksForAReset", {}, {.resettableAtCheck = 1}, 3, {"P", "R", "P"}, 2},
    // Side 1's frame would still be taken on each pass, but nothing is matched or presented.
    DisplayFault{"Device2Lost", {}, {.lostAtCheck = 0}, 3, {}, 0},
    DisplayFault{"Device1ResetFails", {.resettableAtCheck = 0, .resetFails = true}, {}, 50, {"reset adapter 1"}, 0,
                 kResetFailed},
    DisplayFault{"Device2ResetFails", {}, {.resettableAtCheck = 0, .resetFails = true}, 50, {"R"}, 0, kResetFailed},
    // The failing pass still presents both; the quit request ends the loop on the next pass.
    DisplayFault{"NoBackBufferFromPass2", {}, {.noBackBufferFrom = 2}, 50, {"P", "P", "P"}, 3,
                 "Nelze získat ukazatel na back buffer!"},
    // Pass 0 cannot get side 1's back buffer; pass 1 finds side 1 ready for a reset, which fails.
    DisplayFault{"TheLaterOfTwoFailuresIsShown", {.resettableAtCheck = 1, .resetFails = true, .noBackBufferFrom = 0},
                 {}, 50, {"P", "reset adapter 1"}, 1, kResetFailed, 2}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
