// Creating the two display devices: order, parameters, white blanking, every failure message.
#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/error_text.h"
#include "tests/display/display_harness.h"

namespace {

using display_test::DisplayHarness;
using ::testing::ElementsAre;

TEST(CreateDisplays, Side1OnAdapter1ThenSide2OnAdapter0EachBlankedWhiteAndPresentedOnce) {
  DisplayHarness h;
  app::StereoViewer& viewer = h.Make();

  ASSERT_TRUE(viewer.Init());

  EXPECT_TRUE(app::ErrorTextIsOk());
  EXPECT_THAT(h.DisplayCalls(), ElementsAre("display: create system 0", "display: create device on adapter 1",
                                            "display: clear adapter 1", "display: present adapter 1",
                                            "display: create system 1", "display: create device on adapter 0",
                                            "display: clear adapter 0", "display: present adapter 0"));
  ASSERT_NE(viewer.window, nullptr);
  for (int adapter : {1, 0}) {
    SCOPED_TRACE(adapter);
    const fake::DeviceScript& device = h.display->adapters[adapter];
    EXPECT_EQ(device.createParameters, display::ViewerPresentParameters(viewer.window));
    EXPECT_EQ(device.focusWindow, viewer.window);
    EXPECT_EQ(device.lastClearColor, 0xFFFFFFFFu);
    ASSERT_EQ(device.presented.size(), 1u);
    EXPECT_TRUE(display_test::AllBytesAre(device.presented[0].data(), device.presented[0].size(), 0xFF));
  }
  EXPECT_NE(viewer.direct3D1.get(), viewer.direct3D2.get());
}

TEST(CreateDisplays, PresentParametersAreThe800x600LockableImmediateFullScreenSet) {
  int window = 0;
  const display::PresentParameters p = display::ViewerPresentParameters(&window);

  EXPECT_EQ(p.BackBufferWidth, 800u);
  EXPECT_EQ(p.BackBufferHeight, 600u);
  EXPECT_EQ(static_cast<std::uint32_t>(p.BackBufferFormat), 22u);
  EXPECT_EQ(p.BackBufferCount, 0u);
  EXPECT_EQ(p.MultiSampleType, 0u);
  EXPECT_EQ(p.MultiSampleQuality, 0u);
  EXPECT_EQ(p.SwapEffect, 1u);
  EXPECT_EQ(p.hDeviceWindow, &window);
  EXPECT_FALSE(p.Windowed);
  EXPECT_FALSE(p.EnableAutoDepthStencil);
  EXPECT_EQ(static_cast<std::uint32_t>(p.AutoDepthStencilFormat), 0u);
  EXPECT_EQ(p.Flags, 1u);
  EXPECT_EQ(p.FullScreen_RefreshRateInHz, 0u);
  EXPECT_EQ(p.PresentationInterval, 0x80000000u);
}

TEST(CreateDisplays, ResultsOfClearAndPresentAreNotExamined) {
  DisplayHarness h;
  for (fake::DeviceScript& device : h.display->adapters) {
    device.clearResult = display::D3DERR_INVALIDCALL;
    device.presentResult = display::D3DERR_DEVICELOST;
  }
  EXPECT_TRUE(h.Make().Init());
  EXPECT_TRUE(app::ErrorTextIsOk());
}

struct CreationFailure {
  const char* name;
  std::function<void(fake::DisplayState&)> arrange;
  const char* message;
  bool onSide1;
};

class CreationFailureTest : public ::testing::TestWithParam<CreationFailure> {};

TEST_P(CreationFailureTest, WritesItsMessageAndReleasesNothingItself) {
  DisplayHarness h;
  GetParam().arrange(*h.display);
  app::StereoViewer& viewer = h.Make();

  EXPECT_FALSE(viewer.Init());

  EXPECT_STREQ(app::ErrorText, GetParam().message);
  if (GetParam().onSide1) {
    EXPECT_FALSE(h.Logged("display: create system 1")) << "side 2 attempted after side 1 failed";
    EXPECT_FALSE(h.Logged("display: create device on adapter 0"));
    EXPECT_EQ(h.display->adapters[0].clears, 0);
  } else {
    // Side 1 stays as it was made, blanked and presented, until the shut-down releases it.
    EXPECT_TRUE(h.display->adapters[1].exists);
    EXPECT_NE(viewer.direct3D1, nullptr);
    EXPECT_EQ(h.display->adapters[1].presents, 1);
    EXPECT_FALSE(h.Logged("display: release device on adapter 1"));
    EXPECT_FALSE(h.Logged("display: release system 0"));

    viewer.Shutdown();
    EXPECT_FALSE(h.display->adapters[1].exists);
    EXPECT_LT(h.LogIndex("display: release device on adapter 1"), h.LogIndex("display: release system 0"));
  }
}

void FailSystem(fake::DisplayState& s, int index) { s.failSystemAt.push_back(index); }

INSTANTIATE_TEST_SUITE_P(
    EveryStep, CreationFailureTest,
    ::testing::Values(
        CreationFailure{"Side1NoDisplaySystem", [](fake::DisplayState& s) { FailSystem(s, 0); },
                        "Nelze vytvořit objekt Direct3D!", true},
        CreationFailure{"Side1DeviceRefused",
                        [](fake::DisplayState& s) { s.adapters[1].createResult = display::D3DERR_NOTAVAILABLE; },
                        "Nelze vytvořit objekt Direct3DDevice!", true},
        // Only D3D_OK counts: a positive result is a failure too.
        CreationFailure{"Side1DeviceNotOk", [](fake::DisplayState& s) { s.adapters[1].createResult = 1; },
                        "Nelze vytvořit objekt Direct3DDevice!", true},
        CreationFailure{"Side1NoDevice", [](fake::DisplayState& s) { s.adapters[1].createReturnsNoDevice = true; },
                        "Neexistuje objekt Direct3DDevice!", true},
        CreationFailure{"Side2NoDisplaySystem", [](fake::DisplayState& s) { FailSystem(s, 1); },
                        "Nelze vytvořit objekt Direct3D!", false},
        CreationFailure{"Side2DeviceRefused",
                        [](fake::DisplayState& s) { s.adapters[0].createResult = display::D3DERR_INVALIDCALL; },
                        "Nelze vytvořit objekt Direct3DDevice!", false},
        CreationFailure{"Side2NoDevice", [](fake::DisplayState& s) { s.adapters[0].createReturnsNoDevice = true; },
                        "Neexistuje objekt Direct3DDevice!", false}),
    [](const ::testing::TestParamInfo<CreationFailure>& info) { return std::string(info.param.name); });

TEST(CreateDisplays, SingleAdapterMachineEndsBeforeTheMainLoopWithTheDeviceMessage) {
  DisplayHarness h;
  h.display->adapters[1].createResult = display::D3DERR_INVALIDCALL;  // no display 1

  const int exitCode = app::WinMain(h.MakePlatform(), DisplayHarness::IdentityConfig());

  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(h.window->passes, 0) << "the main loop ran";
  EXPECT_THAT(h.window->boxes, ElementsAre("Nelze vytvořit objekt Direct3DDevice!"));
  EXPECT_THAT(h.window->boxCaptions, ElementsAre("Direct3D aplikace"));
  EXPECT_FALSE(h.Logged("display: create device on adapter 0"));
  // The shut-down releases the display-system object before the message is shown.
  EXPECT_LT(h.LogIndex("display: release system 0"), h.LogIndex("window: box Nelze vytvořit objekt Direct3DDevice!"));
}

TEST(CreateDisplays, Side2FailureReleasesSide1BeforeTheMessageIsShown) {
  DisplayHarness h;
  h.display->adapters[0].createResult = display::D3DERR_NOTAVAILABLE;

  EXPECT_EQ(app::WinMain(h.MakePlatform(), DisplayHarness::IdentityConfig()), 0);

  EXPECT_THAT(h.window->boxes, ElementsAre("Nelze vytvořit objekt Direct3DDevice!"));
  const int box = h.LogIndex("window: box Nelze vytvořit objekt Direct3DDevice!");
  const int device = h.LogIndex("display: release device on adapter 1");
  const int system = h.LogIndex("display: release system 0");
  ASSERT_GE(device, 0);
  EXPECT_LT(device, system);
  EXPECT_LT(system, box);
}

}  // namespace
