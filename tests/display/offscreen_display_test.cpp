// The headless display backend: the viewer's views land in the screens of the right adapters.
#include <gtest/gtest.h>

#include "app/error_text.h"
#include "display/offscreen/offscreen_display.h"
#include "tests/display/display_harness.h"

namespace {

using display_test::DisplayHarness;
using display_test::ViewShows;

TEST(OffscreenDisplay, ViewerScreensAreWhiteAfterCreationThenShowTheCrops) {
  auto screens = std::make_shared<display::OffscreenScreens>(2);
  DisplayHarness h;
  app::StereoViewer& viewer = h.Make(display::MakeOffscreenDisplayDriver(screens));
  ASSERT_TRUE(viewer.Init());

  for (int adapter : {0, 1}) {
    const cv::Mat screen = screens->LastPresented(adapter);
    ASSERT_EQ(screen.size(), cv::Size(800, 600));
    EXPECT_EQ(cv::countNonZero(screen.reshape(1) != 255), 0) << "adapter " << adapter << " is not white";
    EXPECT_EQ(screens->PresentCount(adapter), 1u);
  }

  display_test::FillTellingFrame(viewer.frame1, 1);
  display_test::FillTellingFrame(viewer.frame2, 2);
  viewer.cropWindow1 = {207, 84, 800, 600};
  viewer.cropWindow2 = {17, 84, 800, 600};
  viewer.PresentViews();

  const cv::Mat side1 = screens->LastPresented(1);
  const cv::Mat side2 = screens->LastPresented(0);
  ASSERT_TRUE(side1.isContinuous() && side2.isContinuous());
  EXPECT_TRUE(ViewShows(side1.data, side1.step[0], viewer.frame1, viewer.cropWindow1));
  EXPECT_TRUE(ViewShows(side2.data, side2.step[0], viewer.frame2, viewer.cropWindow2));
  EXPECT_EQ(screens->PresentCount(1), 2u);
}

TEST(OffscreenDisplay, OneAdapterMakesSide1DeviceCreationFail) {
  auto screens = std::make_shared<display::OffscreenScreens>(1);
  DisplayHarness h;
  app::StereoViewer& viewer = h.Make(display::MakeOffscreenDisplayDriver(screens));

  EXPECT_FALSE(viewer.Init());

  EXPECT_STREQ(app::ErrorText, "Nelze vytvořit objekt Direct3DDevice!");
  EXPECT_EQ(viewer.direct3D2, nullptr);
  EXPECT_TRUE(screens->LastPresented(0).empty());
  EXPECT_TRUE(screens->LastPresented(1).empty());
}

class OffscreenDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    system = display::MakeOffscreenDisplayDriver(screens)->Create();
    ASSERT_NE(system, nullptr);
    ASSERT_EQ(system->CreateDevice(0, nullptr, parameters, &device), display::D3D_OK);
  }

  std::shared_ptr<display::OffscreenScreens> screens = std::make_shared<display::OffscreenScreens>(2);
  const display::PresentParameters parameters = display::ViewerPresentParameters(nullptr);
  std::unique_ptr<display::DisplaySystem> system;
  std::unique_ptr<display::Device> device;
};

TEST_F(OffscreenDeviceTest, LockedBackBufferHasRowsOf3200BytesAndReachesTheScreenAtPresent) {
  std::unique_ptr<display::Surface> surface;
  ASSERT_EQ(device->GetBackBuffer(&surface), display::D3D_OK);
  display::LockedRect locked;
  ASSERT_EQ(surface->LockRect(&locked), display::D3D_OK);
  EXPECT_EQ(locked.Pitch, 3200);
  auto* pixel = static_cast<std::uint8_t*>(locked.pBits) + 599 * 3200 + 799 * 4;
  pixel[0] = 10, pixel[1] = 20, pixel[2] = 30;
  EXPECT_EQ(device->Present(), display::D3DERR_INVALIDCALL) << "presented while locked";
  ASSERT_EQ(surface->UnlockRect(), display::D3D_OK);
  surface.reset();

  ASSERT_EQ(device->Present(), display::D3D_OK);

  const cv::Mat screen = screens->LastPresented(0);
  EXPECT_EQ(screen.at<cv::Vec4b>(599, 799), cv::Vec4b(10, 20, 30, 0));
  EXPECT_EQ(screens->PresentCount(0), 1u);
  EXPECT_TRUE(screens->LastPresented(1).empty());
}

TEST_F(OffscreenDeviceTest, NeverLostAndResetRefusedWhileASurfaceIsHeld) {
  EXPECT_EQ(device->TestCooperativeLevel(), display::D3D_OK);
  std::unique_ptr<display::Surface> surface;
  ASSERT_EQ(device->GetBackBuffer(&surface), display::D3D_OK);
  EXPECT_EQ(device->Reset(parameters), display::D3DERR_INVALIDCALL);
  surface.reset();
  EXPECT_EQ(device->Reset(parameters), display::D3D_OK);
  EXPECT_EQ(device->TestCooperativeLevel(), display::D3D_OK);
}

TEST_F(OffscreenDeviceTest, SecondLockOfTheSameBackBufferFails) {
  std::unique_ptr<display::Surface> first, second;
  ASSERT_EQ(device->GetBackBuffer(&first), display::D3D_OK);
  ASSERT_EQ(device->GetBackBuffer(&second), display::D3D_OK);
  display::LockedRect locked;
  ASSERT_EQ(first->LockRect(&locked), display::D3D_OK);
  EXPECT_EQ(second->LockRect(&locked), display::D3DERR_INVALIDCALL);
  EXPECT_EQ(second->UnlockRect(), display::D3DERR_INVALIDCALL);
  first.reset();  // releasing a locked surface unlocks it
  EXPECT_EQ(second->LockRect(&locked), display::D3D_OK);
}

TEST_F(OffscreenDeviceTest, RefusesAdaptersItDoesNotHaveAndOtherFormats) {
  std::unique_ptr<display::Device> other;
  EXPECT_EQ(system->CreateDevice(2, nullptr, parameters, &other), display::D3DERR_INVALIDCALL);
  EXPECT_EQ(system->CreateDevice(-1, nullptr, parameters, &other), display::D3DERR_INVALIDCALL);
  display::PresentParameters unknownFormat = parameters;
  unknownFormat.BackBufferFormat = display::Format::Unknown;
  EXPECT_EQ(system->CreateDevice(1, nullptr, unknownFormat, &other), display::D3DERR_INVALIDCALL);
  EXPECT_EQ(other, nullptr);
}

}  // namespace
