// The shell through app::WinMain, as the program runs it, on the fake window system and the
// off-screen displays: start-up and release orders, the main loop, every start-up failure and its box.
#include <map>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/error_text.h"
#include "testing/viewer_harness.h"

namespace {

using app::WindowMessage;
using testkit::ViewerHarness;
using Log = std::vector<std::string>;

const WindowMessage kEscape{WindowMessage::Kind::KeyDown, app::kVirtualKeyEscape};

// Runs the viewer, queueing each message of `script` when the loop reaches its pass.
int RunViewer(ViewerHarness& h, std::map<int, WindowMessage> script = {}) {
  h.window->onPass = [state = h.window.get(), script](int pass) {
    if (auto it = script.find(pass); it != script.end()) state->queue.push_back(it->second);
  };
  return app::WinMain(h.MakePlatform(), ViewerHarness::IdentityConfig());
}

Log Join(std::initializer_list<Log> parts) {
  Log all;
  for (const Log& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const Log kWindow = {"window: register Direct3D aplikace", "window: create Direct3D aplikace", "window: show"};
const Log kSide1 = {"display: create system 0", "display: create device on adapter 1", "display: clear adapter 1",
                    "display: present adapter 1"};
const Log kSide2 = {"display: create system 1", "display: create device on adapter 0", "display: clear adapter 0",
                    "display: present adapter 0"};
const Log kPass = {"display: present adapter 1", "display: present adapter 0"};
const Log kRelease = {"display: release device on adapter 1", "display: release system 0",
                      "display: release device on adapter 0", "display: release system 1", "window: minimise"};

TEST(Shell, StartsUpStepsFromTheFirstPassAndReleasesSideBySideBeforeMinimising) {
  ViewerHarness h;
  EXPECT_EQ(RunViewer(h, {{1, kEscape}}), 0);
  // The second minimise is the destructor's shut-down, which finds nothing left to release.
  EXPECT_EQ(h.window->log,
            Join({kWindow, kSide1, kSide2, kPass, {"window: quit requested"}, kPass, kRelease, {"window: minimise"}}));
  EXPECT_TRUE(h.window->boxes.empty());
  EXPECT_STREQ(app::ErrorText, "OK");
}

struct Loop {
  const char* name;
  std::map<int, WindowMessage> messages;
  int passes, steps;
};

class ShellLoop : public testing::TestWithParam<Loop> {};

TEST_P(ShellLoop, PumpsOneMessageAndRunsOneStepPerPassWhileActive) {
  ViewerHarness h;
  EXPECT_EQ(RunViewer(h, GetParam().messages), 0);
  EXPECT_EQ(h.window->passes, GetParam().passes);
  EXPECT_EQ(h.screens->PresentCount(1), 1u + GetParam().steps);
  EXPECT_TRUE(h.window->boxes.empty());
}

using Kind = WindowMessage::Kind;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Scripts, ShellLoop, testing::Values(
    Loop{"Escape", {{3, kEscape}}, 5, 4},
    // Stepped on passes 0, 1 and 8 to 10; passes 2 to 7 only pump messages.
    Loop{"DeactivationPausesSteps",
         {{2, {Kind::ActivateApp, 0}}, {5, {Kind::KeyDown, 'x'}}, {8, {Kind::ActivateApp, 1}}, {10, kEscape}}, 12, 5},
    Loop{"WindowDestroyed", {{0, {Kind::Destroy, 0}}}, 2, 1}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

struct StartFailure {
  const char* name;
  std::function<void(ViewerHarness&)> arrange;
  const char* message;
  Log log;
};

std::string Box(const char* message) { return std::string("window: box Direct3D aplikace: ") + message; }

// A display failure: the window and whatever display `made` shows, then, before the box, the
// releases, side 1 first, and the minimised window; the destructor's shut-down minimises it again.
StartFailure DisplayFailure(const char* name, std::function<void(ViewerHarness&)> arrange, const char* message,
                            Log made, Log released) {
  return {name, std::move(arrange), message,
          Join({kWindow, made, released, {"window: minimise", Box(message), "window: minimise"}})};
}

class ShellStartFailure : public testing::TestWithParam<StartFailure> {};

TEST_P(ShellStartFailure, ReleasesWhatWasMadeThenShowsItsBoxAndExitsWithZero) {
  ViewerHarness h;
  GetParam().arrange(h);
  EXPECT_EQ(RunViewer(h), 0);
  EXPECT_EQ(h.window->log, GetParam().log);
  EXPECT_THAT(h.window->boxes, testing::ElementsAre(GetParam().message));
  EXPECT_EQ(h.window->passes, 0);
}

const char* const kNoSystem = "Nelze vytvořit objekt Direct3D!";
const char* const kNoDevice = "Nelze vytvořit objekt Direct3DDevice!";
const char* const kNoDeviceGiven = "Neexistuje objekt Direct3DDevice!";
const Log kReleaseSide1 = {"display: release device on adapter 1", "display: release system 0"};

void OneAdapter(ViewerHarness& h) { h.screens = std::make_shared<display::OffscreenScreens>(1); }

const char* const kNoRegistration = "Chyba při registraci okna aplikace!";
const char* const kNoWindow = "Chyba při vytváření okna aplikace!";

// clang-format off
INSTANTIATE_TEST_SUITE_P(EveryFailure, ShellStartFailure, testing::Values(
    StartFailure{"Registration", [](ViewerHarness& h) { h.window->failRegister = true; }, kNoRegistration,
                 {kWindow[0], Box(kNoRegistration)}},
    StartFailure{"Window", [](ViewerHarness& h) { h.window->failCreate = true; }, kNoWindow,
                 {kWindow[0], kWindow[1], Box(kNoWindow)}},
    DisplayFailure("DisplaySystem", [](ViewerHarness& h) { h.faults.noSystemAt = 0; }, kNoSystem, {kSide1[0]}, {}),
    DisplayFailure("SecondDisplaySystem", [](ViewerHarness& h) { h.faults.noSystemAt = 1; }, kNoSystem,
                   Join({kSide1, {kSide2[0]}}), kReleaseSide1),
    // Side 2 is never tried.
    DisplayFailure("SingleAdapter", OneAdapter, kNoDevice, {kSide1[0], kSide1[1]}, {"display: release system 0"}),
    DisplayFailure("NoDevice", [](ViewerHarness& h) { h.faults.noDeviceOnAdapter = 0; }, kNoDeviceGiven,
                   Join({kSide1, {kSide2[0], kSide2[1]}}), Join({kReleaseSide1, {"display: release system 1"}}))),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(Shell, ErrorTextHoldsTheLongestMessageAndNeverOverruns) {
  app::SetErrorText("Nelze načíst rektifikační mapu mx1.xml!");
  EXPECT_STREQ(app::ErrorText, "Nelze načíst rektifikační mapu mx1.xml!");
  app::SetErrorText(std::string(1000, 'x').c_str());
  EXPECT_EQ(std::string(app::ErrorText), std::string(app::kErrorTextSize - 1, 'x'));
  app::ResetShellState();
}

}  // namespace
