// The shell: start-up and shut-down orders, the main loop, failures and the error box.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/error_text.h"
#include "tests/support/viewer_harness.h"

using app::WindowMessage;
using testing::ElementsAre;
using testing_support::ViewerHarness;

namespace {

WindowMessage Key(int code) { return {WindowMessage::Kind::KeyDown, code}; }
WindowMessage Activate(int on) { return {WindowMessage::Kind::ActivateApp, on}; }

// Queues a message when the loop reaches the given pass.
void At(ViewerHarness& h, std::map<int, WindowMessage> script) {
  h.window->onPass = [state = h.window.get(), script](int pass) {
    auto it = script.find(pass);
    if (it != script.end()) state->queue.push_back(it->second);
  };
}

TEST(ShellStartup, CreatesWindowThenBothDisplaysInOrderAndBlanksThemWhite) {
  ViewerHarness h;
  auto viewer = h.MakeViewer();
  ASSERT_TRUE(viewer->Init());
  EXPECT_THAT(
      h.log.entries(),
      ElementsAre("window: register Direct3D aplikace", "window: create Direct3D aplikace", "window: show",
                  "display: create system 0", "display: create device on adapter 1", "display: clear adapter 1",
                  "display: present adapter 1", "display: create system 1", "display: create device on adapter 0",
                  "display: clear adapter 0", "display: present adapter 0"));
  for (int adapter : {0, 1}) {
    const fake::DeviceScript& d = h.display->adapters[adapter];
    EXPECT_EQ(d.clears, 1);
    EXPECT_EQ(d.lastClearColor, 0xFFFFFFFFu);
    EXPECT_EQ(d.presents, 1);
    EXPECT_EQ(d.createParameters, display::ViewerPresentParameters(viewer->window));
  }
  EXPECT_NE(viewer->window, nullptr);
}

TEST(ShellStartup, BuffersAndConvertedMapsHaveTheFrameGeometry) {
  ViewerHarness h;
  auto viewer = h.MakeViewer();
  ASSERT_TRUE(viewer->InitResources());
  for (const cv::Mat* frame : {&viewer->frame1, &viewer->frame2}) {
    EXPECT_EQ(frame->size(), cv::Size(1024, 768));
    EXPECT_EQ(frame->type(), CV_8UC3);
  }
  for (const cv::Mat* staging : {&viewer->staging1, &viewer->staging2}) {
    EXPECT_EQ(staging->size(), cv::Size(832, 600));
    EXPECT_EQ(staging->type(), CV_8UC4);
    EXPECT_EQ(staging->step[0], 3328u);
  }
  for (const cv::Mat* xy : {&viewer->mapXY1, &viewer->mapXY2}) {
    EXPECT_EQ(xy->size(), cv::Size(1024, 768));
    EXPECT_EQ(xy->type(), CV_16SC2);
  }
  for (const cv::Mat* alpha : {&viewer->mapAlpha1, &viewer->mapAlpha2}) {
    EXPECT_EQ(alpha->size(), cv::Size(1024, 768));
    EXPECT_EQ(alpha->depth(), CV_16U);
  }
  EXPECT_EQ(viewer->cameraId1, 0);
  EXPECT_EQ(viewer->cameraId2, 1);
}

TEST(ShellShutdown, ReleasesSideOneBeforeSideTwoDeviceBeforeSystemAndMinimisesTheWindow) {
  ViewerHarness h;
  auto viewer = h.MakeViewer();
  ASSERT_TRUE(viewer->Init());
  h.log.Clear();
  viewer->Shutdown();
  EXPECT_THAT(h.log.entries(),
              ElementsAre("display: release device on adapter 1", "display: release system 0",
                          "display: release device on adapter 0", "display: release system 1", "window: minimise"));
  EXPECT_TRUE(viewer->frame1.empty() && viewer->staging1.empty() && viewer->mapX1.empty() && viewer->mapXY2.empty() &&
              viewer->mapAlpha2.empty() && viewer->frame2.empty());
  EXPECT_EQ(viewer->device1, nullptr);
  EXPECT_EQ(viewer->direct3D2, nullptr);

  h.log.Clear();
  viewer->ReleaseResources();
  EXPECT_TRUE(h.log.entries().empty()) << "a second release must find nothing left";
  viewer->Shutdown();
  EXPECT_THAT(h.log.entries(), ElementsAre("window: minimise"));
}

TEST(ShellRun, EscapeEndsTheRunWithoutABoxAndExitCodeZero) {
  ViewerHarness h;
  At(h, {{3, Key(app::kVirtualKeyEscape)}});
  const int code = app::WinMain(h.MakePlatform(), ViewerHarness::IdentityConfig());
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(h.window->boxes.empty());
  EXPECT_TRUE(h.window->minimized);
  EXPECT_STREQ(app::ErrorText, "OK");
  // Passes 0..3 stepped; pass 4 retrieved the quit request.
  EXPECT_EQ(h.display->adapters[1].presents, 1 + 4);
}

TEST(ShellRun, FrameStepsRunFromTheFirstPassAndOtherKeysDoNothing) {
  ViewerHarness h;
  At(h, {{1, Key('a')}, {2, Key(13)}, {6, Key(app::kVirtualKeyEscape)}});
  EXPECT_EQ(app::WinMain(h.MakePlatform(), ViewerHarness::IdentityConfig()), 0);
  EXPECT_EQ(h.window->passes, 8);
  EXPECT_EQ(h.display->adapters[0].presents, 1 + 7);
}

TEST(ShellRun, DeactivationPausesFrameStepsWhileMessagesAreStillHandled) {
  ViewerHarness h;
  At(h, {{2, Activate(0)}, {5, Key('x')}, {8, Activate(1)}, {10, Key(app::kVirtualKeyEscape)}});
  EXPECT_EQ(app::WinMain(h.MakePlatform(), ViewerHarness::IdentityConfig()), 0);
  // Stepped on passes 0, 1, then 8, 9, 10; passes 2..7 only pumped messages.
  EXPECT_EQ(h.display->adapters[1].presents, 1 + 5);
  EXPECT_EQ(h.window->passes, 12);
}

TEST(ShellRun, WindowDestructionEndsTheRun) {
  ViewerHarness h;
  At(h, {{0, {WindowMessage::Kind::Destroy, 0}}});
  EXPECT_EQ(app::WinMain(h.MakePlatform(), ViewerHarness::IdentityConfig()), 0);
  EXPECT_TRUE(h.window->boxes.empty());
  EXPECT_EQ(h.window->passes, 2);
}

struct StartupFailure {
  const char* name;
  std::function<void(ViewerHarness&)> arrange;
  const char* message;
  bool displaysAttempted;
};

class ShellStartupFailure : public testing::TestWithParam<StartupFailure> {};

TEST_P(ShellStartupFailure, ShowsItsMessageOnceAfterShutdownAndExitsWithZero) {
  ViewerHarness h;
  GetParam().arrange(h);
  const int code = app::WinMain(h.MakePlatform(), ViewerHarness::IdentityConfig());
  EXPECT_EQ(code, 0);
  ASSERT_EQ(h.window->boxes.size(), 1u);
  EXPECT_EQ(h.window->boxes[0], GetParam().message);
  EXPECT_EQ(h.window->boxCaptions[0], "Direct3D aplikace");
  EXPECT_EQ(h.window->passes, 0) << "the main loop must not run after a failed start";
  EXPECT_EQ(h.display->systemsCreated > 0, GetParam().displaysAttempted);
  // Whatever was created is released before the box is shown.
  const auto& e = h.log.entries();
  auto box = std::find(e.begin(), e.end(), std::string("window: box ") + GetParam().message);
  for (auto it = box; it != e.end(); ++it) EXPECT_EQ(it->rfind("display: release", 0), std::string::npos) << *it;
  EXPECT_FALSE(h.display->adapters[0].exists || h.display->adapters[1].exists);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFailure, ShellStartupFailure,
    testing::Values(
        StartupFailure{"Registration", [](ViewerHarness& h) { h.window->failRegister = true; },
                       "Chyba při registraci okna aplikace!", false},
        StartupFailure{"Window", [](ViewerHarness& h) { h.window->failCreate = true; },
                       "Chyba při vytváření okna aplikace!", false},
        StartupFailure{"DisplaySystem", [](ViewerHarness& h) { h.display->failSystemAt = {0}; },
                       "Nelze vytvořit objekt Direct3D!", true},
        StartupFailure{"SecondDisplaySystem", [](ViewerHarness& h) { h.display->failSystemAt = {1}; },
                       "Nelze vytvořit objekt Direct3D!", true},
        StartupFailure{"SingleAdapter",
                       [](ViewerHarness& h) { h.display->adapters[1].createResult = display::D3DERR_NOTAVAILABLE; },
                       "Nelze vytvořit objekt Direct3DDevice!", true},
        StartupFailure{"NoDevice", [](ViewerHarness& h) { h.display->adapters[0].createReturnsNoDevice = true; },
                       "Neexistuje objekt Direct3DDevice!", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ShellStartupFailureDetails, SingleAdapterNeverAttemptsSideTwoAndLeavesTheWindowMinimised) {
  ViewerHarness h;
  h.display->adapters[1].createResult = display::D3DERR_NOTAVAILABLE;
  app::WinMain(h.MakePlatform(), ViewerHarness::IdentityConfig());
  EXPECT_EQ(h.display->systemsCreated, 1);
  EXPECT_TRUE(h.window->created);
  EXPECT_TRUE(h.window->minimized);
}

TEST(ShellStartupFailureDetails, SideTwoFailureReleasesSideOneBeforeTheBox) {
  ViewerHarness h;
  h.display->adapters[0].createResult = display::D3DERR_NOTAVAILABLE;
  app::WinMain(h.MakePlatform(), ViewerHarness::IdentityConfig());
  const auto& e = h.log.entries();
  auto released = std::find(e.begin(), e.end(), "display: release device on adapter 1");
  auto box = std::find(e.begin(), e.end(), "window: box Nelze vytvořit objekt Direct3DDevice!");
  ASSERT_NE(released, e.end());
  ASSERT_NE(box, e.end());
  EXPECT_LT(released, box);
}

TEST(ShellRunFailure, TheLaterOfTwoFailuresIsShown) {
  ViewerHarness h;
  // Pass 0 cannot get side 1's back buffer; pass 1 finds the device ready to reset and the reset fails.
  h.display->adapters[1].getBackBufferResult = display::D3DERR_INVALIDCALL;
  h.display->adapters[1].cooperativeLevels = {display::D3D_OK, display::D3DERR_DEVICENOTRESET};
  h.display->adapters[1].resetResult = display::D3DERR_INVALIDCALL;
  h.window->queue = {{WindowMessage::Kind::Other, 0}, {WindowMessage::Kind::Other, 0}};
  EXPECT_EQ(app::WinMain(h.MakePlatform(), ViewerHarness::IdentityConfig()), 0);
  ASSERT_EQ(h.window->boxes.size(), 1u);
  EXPECT_EQ(h.window->boxes[0], "Nelze obnovit zařízení!");
}

TEST(ShellErrorText, HoldsTheLongestMessageAndNeverOverruns) {
  app::SetErrorText("Nelze načíst rektifikační mapu mx1.xml!");
  EXPECT_STREQ(app::ErrorText, "Nelze načíst rektifikační mapu mx1.xml!");
  const std::string tooLong(1000, 'x');
  app::SetErrorText(tooLong.c_str());
  EXPECT_EQ(std::string(app::ErrorText), tooLong.substr(0, app::kErrorTextSize - 1));
  app::ResetShellState();
  EXPECT_TRUE(app::ErrorTextIsOk());
}

}  // namespace
