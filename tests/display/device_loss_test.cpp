// The loss protocol as a frame step runs it: a lost device stops the pass, a device that can be
// reset makes both reset, a failed reset ends the run.
#include <chrono>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/error_text.h"
#include "tests/display/display_harness.h"

namespace {

using display_test::DisplayHarness;
using ::testing::ElementsAre;
using namespace std::chrono_literals;

class DeviceLossTest : public ::testing::Test {
 protected:
  void SetUp() override {
    viewer = &h.Make();
    ASSERT_TRUE(viewer->Init());
    h.log.Clear();
  }

  fake::DeviceScript& side1() { return h.display->adapters[1]; }
  fake::DeviceScript& side2() { return h.display->adapters[0]; }

  DisplayHarness h;
  app::StereoViewer* viewer = nullptr;
};

TEST_F(DeviceLossTest, Device1LostEndsThePassBeforeAnythingElse) {
  side1().cooperativeLevels = {display::D3DERR_DEVICELOST};

  viewer->FrameStep();

  EXPECT_EQ(side1().cooperativeTests, 1);
  EXPECT_EQ(side2().cooperativeTests, 0);
  EXPECT_THAT(h.DisplayCalls(), ElementsAre());
  EXPECT_EQ(side1().backBufferRequests + side2().backBufferRequests, 0);
  EXPECT_EQ(side1().presents, 1);  // the blanking at creation only
  EXPECT_EQ(side2().presents, 1);
}

TEST_F(DeviceLossTest, Device2LostEndsThePassWithoutPresenting) {
  side2().cooperativeLevels = {display::D3DERR_DEVICELOST};

  viewer->FrameStep();

  EXPECT_EQ(side1().cooperativeTests, 1);
  EXPECT_EQ(side2().cooperativeTests, 1);
  EXPECT_THAT(h.DisplayCalls(), ElementsAre());
}

TEST_F(DeviceLossTest, ResultsOtherThanLostOrNotResetCountAsUsable) {
  side1().cooperativeLevels = {display::D3DERR_INVALIDCALL};
  side2().cooperativeLevels = {display::D3DERR_NOTAVAILABLE};

  viewer->FrameStep();

  EXPECT_EQ(side1().presents, 2);
  EXPECT_EQ(side2().presents, 2);
  EXPECT_EQ(side1().resets + side2().resets, 0);
}

class ResetRequestTest : public DeviceLossTest, public ::testing::WithParamInterface<int> {};

// Whichever device asks, both are reset (side 1 first) with the creation parameters, 100 ms of
// sleep follow each reset, and the pass ends; the next pass draws.
TEST_P(ResetRequestTest, BothDevicesResetThenThePassEnds) {
  h.display->adapters[GetParam()].cooperativeLevels = {display::D3DERR_DEVICENOTRESET};

  viewer->FrameStep();
  const auto passEnded = std::chrono::steady_clock::now();

  EXPECT_THAT(h.DisplayCalls(), ElementsAre("display: reset adapter 1", "display: reset adapter 0"));
  for (fake::DeviceScript* side : {&side1(), &side2()}) {
    EXPECT_EQ(side->resets, 1);
    EXPECT_EQ(side->resetParameters, display::ViewerPresentParameters(viewer->window));
    EXPECT_EQ(side->presents, 1);
  }
  ASSERT_EQ(side1().resetTimes.size(), 1u);
  ASSERT_EQ(side2().resetTimes.size(), 1u);
  EXPECT_GE(side2().resetTimes[0] - side1().resetTimes[0], 100ms);
  EXPECT_GE(passEnded - side2().resetTimes[0], 100ms);
  EXPECT_TRUE(app::ErrorTextIsOk());
  EXPECT_EQ(h.QuitRequests(), 0);

  viewer->FrameStep();
  EXPECT_EQ(side1().presents, 2);
  EXPECT_EQ(side2().presents, 2);
}

INSTANTIATE_TEST_SUITE_P(AskedBy, ResetRequestTest, ::testing::Values(1, 0),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return info.param == 1 ? std::string("Device1") : std::string("Device2");
                         });

TEST_F(DeviceLossTest, SwitchedAwayAndBackLostPassesThenOneResetThenDrawing) {
  side1().cooperativeLevels = {display::D3DERR_DEVICELOST, display::D3DERR_DEVICELOST, display::D3DERR_DEVICENOTRESET};

  for (int pass = 0; pass < 4; ++pass) viewer->FrameStep();

  EXPECT_THAT(h.DisplayCalls(), ElementsAre("display: reset adapter 1", "display: reset adapter 0",
                                            "display: present adapter 1", "display: present adapter 0"));
}

TEST_F(DeviceLossTest, FailedResetOfDevice1WritesTheMessageAndRequestsTheQuit) {
  side1().cooperativeLevels = {display::D3DERR_DEVICENOTRESET};
  side1().resetResults = {display::D3DERR_DEVICELOST};

  viewer->FrameStep();

  EXPECT_STREQ(app::ErrorText, "Nelze obnovit zařízení!");
  EXPECT_EQ(h.QuitRequests(), 1);
  EXPECT_EQ(side2().resets, 0);
  EXPECT_EQ(side1().presents, 1);
}

TEST_F(DeviceLossTest, FailedResetOfDevice2WritesTheMessageAfterDevice1WasReset) {
  side2().cooperativeLevels = {display::D3DERR_DEVICENOTRESET};
  side2().resetResult = display::D3DERR_NOTAVAILABLE;

  viewer->FrameStep();

  EXPECT_STREQ(app::ErrorText, "Nelze obnovit zařízení!");
  EXPECT_EQ(h.QuitRequests(), 1);
  EXPECT_EQ(side1().resets, 1);
  EXPECT_EQ(side2().resets, 1);
}

TEST(DeviceLoss, FailedResetEndsTheRunWithTheMessageBoxAndExitCode0) {
  DisplayHarness h;
  h.display->adapters[1].cooperativeLevels = {display::D3DERR_DEVICENOTRESET};
  h.display->adapters[1].resetResult = display::D3DERR_DEVICELOST;
  h.window->quitAtPass = 50;  // a broken quit request must not hang the test

  const int exitCode = app::WinMain(h.MakePlatform(), DisplayHarness::IdentityConfig());

  EXPECT_EQ(exitCode, 0);
  EXPECT_THAT(h.window->boxes, ElementsAre("Nelze obnovit zařízení!"));
  EXPECT_LT(h.window->passes, 50);
}

}  // namespace
