// Where the viewer shows itself: as asked, except the demo, which finds a place of its own.
#include "app/display_plan.h"

#include <gtest/gtest.h>

namespace {

using display::OutputMode;

struct Case {
  const char* name;
  app::CommandLine options;
  bool server;
  int displays;  // what the video system would say; -1: it must not be asked
  bool headless, windowed, headlessDemo;
  OutputMode output;
};

app::CommandLine Options(bool demo, bool headless = false, bool windowed = false, OutputMode output = OutputMode::Dual,
                         bool outputGiven = false) {
  app::CommandLine o;
  o.demo = demo;
  o.headless = headless;
  o.windowed = windowed;
  o.output = output;
  o.outputGiven = outputGiven;
  return o;
}

class DisplayPlan : public testing::TestWithParam<Case> {};

TEST_P(DisplayPlan, FollowsTheCommandLineAndTheDisplaysThere) {
  const Case& c = GetParam();
  bool asked = false;
  const app::DisplayPlan plan = app::PlanDisplays(c.options, c.server, [&] {
    asked = true;
    return c.displays;
  });
  EXPECT_EQ(plan.headless, c.headless);
  EXPECT_EQ(plan.windowed, c.windowed);
  EXPECT_EQ(plan.headlessDemo, c.headlessDemo);
  EXPECT_EQ(plan.output, c.output);
  EXPECT_EQ(asked, c.displays >= 0) << "the video system is started only when the answer matters";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DisplayPlan,
    testing::Values(
        Case{"TheViewerNeverGoesHeadlessByItself", Options(false), false, -1, false, false, false, OutputMode::Dual},
        Case{"DemoWithoutAServerRunsHeadless", Options(true), false, -1, true, false, true, OutputMode::Dual},
        Case{"DemoOnTwoDisplays", Options(true), true, 2, false, false, false, OutputMode::Dual},
        Case{"DemoOnOneDisplayShowsBothViewsSideBySide", Options(true), true, 1, false, false, false,
             OutputMode::SideBySide},
        Case{"DualAskedForOnOneDisplayGetsTwoWindows", Options(true, false, false, OutputMode::Dual, true), true, 1,
             false, true, false, OutputMode::Dual},
        Case{"AOneDisplayModeIsKept", Options(true, false, false, OutputMode::Anaglyph, true), true, -1, false, false,
             false, OutputMode::Anaglyph},
        Case{"HeadlessAskedForIsNoHeadlessDemo", Options(true, true), false, -1, true, false, false, OutputMode::Dual},
        Case{"WindowedAskedForStays", Options(true, false, true), true, -1, false, true, false, OutputMode::Dual}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
