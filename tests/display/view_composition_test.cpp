// PresentViews: which bytes reach which back buffer, for the pitches devices report, and what a
// failed back-buffer access or lock does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include "app/error_text.h"
#include "tests/display/display_harness.h"

namespace {

using display_test::AllBytesAre;
using display_test::DisplayHarness;
using display_test::ViewShows;

constexpr std::uint8_t kUntouched = fake::kGuardByte;

class ViewCompositionTest : public ::testing::Test {
 protected:
  // Devices report `pitch`; both frames carry telling pixels, both crops are centred (h = 0).
  void Start(int pitch = 3200) {
    for (fake::DeviceScript& device : h.display->adapters) device.pitch = pitch;
    viewer = &h.Make();
    ASSERT_TRUE(viewer->Init());
    display_test::FillTellingFrame(viewer->frame1, 1);
    display_test::FillTellingFrame(viewer->frame2, 2);
    SetShift(0);
    h.log.Clear();
  }

  void SetShift(int shift) {
    viewer->cropWindow1 = cv::Rect(112 + shift, 84, 800, 600);
    viewer->cropWindow2 = cv::Rect(112 - shift, 84, 800, 600);
  }

  fake::DeviceScript& device1() { return h.display->adapters[1]; }
  fake::DeviceScript& device2() { return h.display->adapters[0]; }

  DisplayHarness h;
  app::StereoViewer* viewer = nullptr;
};

class CropShiftTest : public ViewCompositionTest, public ::testing::WithParamInterface<int> {};

TEST_P(CropShiftTest, EachDeviceShowsItsOwnCrop) {
  Start();
  const int shift = GetParam();
  SetShift(shift);

  viewer->PresentViews();

  ASSERT_EQ(device1().presented.size(), 2u);
  ASSERT_EQ(device2().presented.size(), 2u);
  EXPECT_TRUE(ViewShows(h.display->LastPresented(1).data(), 3200, viewer->frame1, {112 + shift, 84, 800, 600}));
  EXPECT_TRUE(ViewShows(h.display->LastPresented(0).data(), 3200, viewer->frame2, {112 - shift, 84, 800, 600}));
}

INSTANTIATE_TEST_SUITE_P(Shifts, CropShiftTest, ::testing::Values(0, 1, 95, 111));

TEST_F(ViewCompositionTest, AtShift95Device1StartsAtColumn207AndDevice2AtColumn17) {
  Start();
  SetShift(95);

  viewer->PresentViews();

  // Blue and green of a telling pixel hold its frame column; column 207 = 0x0CF, 1006 = 0x3EE.
  const std::uint8_t* view1 = h.display->LastPresented(1).data();
  const std::uint8_t* view2 = h.display->LastPresented(0).data();
  EXPECT_EQ(view1[0], 207);
  EXPECT_EQ(view1[1], 0x10);
  EXPECT_EQ(view1[4 * 799 + 0], 0xEE);
  EXPECT_EQ(view1[4 * 799 + 1], 0x13);
  EXPECT_EQ(view2[0], 17);
  EXPECT_EQ(view2[1], 0x20);
  EXPECT_EQ(view2[4 * 799 + 0], 816 & 0xFF);
  EXPECT_EQ(view2[4 * 799 + 1], 0x23);
  // Row 0 of the view is frame row 84.
  EXPECT_EQ(view1[2], (84 * 7) & 0xFF);
}

TEST_F(ViewCompositionTest, PixelArrivesAsBlueGreenRedThenOpaque) {
  Start();
  viewer->frame1.setTo(cv::Scalar(10, 20, 30));

  viewer->PresentViews();

  const std::vector<std::uint8_t>& view = h.display->LastPresented(1);
  for (std::size_t i = 0; i < view.size(); i += 4) {
    ASSERT_EQ(view[i], 10) << "byte " << i;
    ASSERT_EQ(view[i + 1], 20) << "byte " << i + 1;
    ASSERT_EQ(view[i + 2], 30) << "byte " << i + 2;
    ASSERT_EQ(view[i + 3], 255) << "byte " << i + 3;
  }
}

TEST_F(ViewCompositionTest, Pitch3328CopiesTheWholeStagingImageAsOneBlock) {
  Start(3328);
  viewer->frame1.setTo(cv::Scalar(10, 20, 30));
  viewer->staging1.setTo(cv::Scalar(1, 2, 3, 4));  // columns 800 to 831 keep this
  h.display->FillBackBuffer(1, kUntouched);

  viewer->PresentViews();

  const std::vector<std::uint8_t>& memory = device1().memory;
  const std::size_t written =
      memory.size() - static_cast<std::size_t>(std::count(memory.begin(), memory.end(), kUntouched));
  EXPECT_EQ(written, 1996800u);
  ASSERT_TRUE(viewer->staging1.isContinuous());
  EXPECT_EQ(0, std::memcmp(memory.data(), viewer->staging1.data, 1996800));
  EXPECT_TRUE(h.display->GuardIntact(1));
}

TEST_F(ViewCompositionTest, Pitch3200Writes600RowsOf3200BytesAndNothingPastThem) {
  Start(3200);
  h.display->FillBackBuffer(1, kUntouched);

  viewer->PresentViews();

  const std::vector<std::uint8_t>& memory = device1().memory;
  for (int r = 0; r < 600; ++r)
    ASSERT_EQ(0, std::memcmp(memory.data() + r * 3200, viewer->staging1.ptr(r), 3200)) << "row " << r;
  EXPECT_TRUE(h.display->GuardIntact(1));
  EXPECT_TRUE(ViewShows(memory.data(), 3200, viewer->frame1, viewer->cropWindow1));
}

TEST_F(ViewCompositionTest, PitchWiderThanAStagingRowLeavesTheRowEndsAlone) {
  Start(3456);
  h.display->FillBackBuffer(1, kUntouched);

  viewer->PresentViews();

  const std::vector<std::uint8_t>& memory = device1().memory;
  for (int r = 0; r < 600; ++r) {
    ASSERT_EQ(0, std::memcmp(memory.data() + r * 3456, viewer->staging1.ptr(r), 3328)) << "row " << r;
    ASSERT_TRUE(AllBytesAre(memory.data() + r * 3456 + 3328, 128, kUntouched)) << "row " << r;
  }
  EXPECT_TRUE(h.display->GuardIntact(1));
}

TEST_F(ViewCompositionTest, PitchTooNarrowForAViewRowReceivesNothing) {
  Start(3000);
  h.display->FillBackBuffer(1, kUntouched);

  viewer->PresentViews();

  EXPECT_TRUE(AllBytesAre(device1().memory.data(), device1().memory.size(), kUntouched));
  EXPECT_EQ(device1().unlocks, 1);
}

TEST_F(ViewCompositionTest, BackBufferFailureOnDevice1StillComposesDevice2AndPresentsBoth) {
  Start();
  device1().getBackBufferResults = {display::D3DERR_INVALIDCALL};

  viewer->PresentViews();

  EXPECT_STREQ(app::ErrorText, "Nelze získat ukazatel na back buffer!");
  EXPECT_EQ(h.QuitRequests(), 1);
  EXPECT_EQ(device1().locks, 0);
  EXPECT_EQ(device1().presents, 2);
  EXPECT_EQ(device2().presents, 2);
  EXPECT_TRUE(AllBytesAre(h.display->LastPresented(1).data(), 3200 * 600, 0xFF)) << "device 1 changed";
  EXPECT_TRUE(ViewShows(h.display->LastPresented(0).data(), 3200, viewer->frame2, viewer->cropWindow2));
  EXPECT_THAT(h.DisplayCalls(), ::testing::ElementsAre("display: present adapter 1", "display: present adapter 0"));
}

TEST_F(ViewCompositionTest, BackBufferFailureOnBothSidesRequestsTheQuitForEach) {
  Start();
  device1().getBackBufferResult = display::D3DERR_DEVICELOST;
  device2().getBackBufferResult = display::D3DERR_DEVICELOST;

  viewer->PresentViews();

  EXPECT_STREQ(app::ErrorText, "Nelze získat ukazatel na back buffer!");
  EXPECT_EQ(h.QuitRequests(), 2);
  EXPECT_EQ(device1().presents, 2);
  EXPECT_EQ(device2().presents, 2);
}

TEST_F(ViewCompositionTest, FailedLockCopiesNothingAndIsNotUnlocked) {
  Start();
  device1().lockResult = display::D3DERR_INVALIDCALL;
  h.display->FillBackBuffer(1, kUntouched);

  viewer->PresentViews();

  EXPECT_TRUE(AllBytesAre(device1().memory.data(), device1().memory.size(), kUntouched));
  EXPECT_EQ(device1().locks, 1);
  EXPECT_EQ(device1().unlocks, 0);
  EXPECT_EQ(device1().surfacesAlive, 0);
  EXPECT_EQ(device1().presents, 2);
  EXPECT_TRUE(app::ErrorTextIsOk());
  EXPECT_EQ(h.QuitRequests(), 0);
  EXPECT_TRUE(ViewShows(h.display->LastPresented(0).data(), 3200, viewer->frame2, viewer->cropWindow2));
}

TEST_F(ViewCompositionTest, LockWithAPositiveResultCountsAsSuccess) {
  Start();
  device1().lockResult = 1;

  viewer->PresentViews();

  EXPECT_EQ(device1().unlocks, 1);
  EXPECT_TRUE(ViewShows(h.display->LastPresented(1).data(), 3200, viewer->frame1, viewer->cropWindow1));
}

TEST_F(ViewCompositionTest, EverySurfaceIsUnlockedAndReleasedWithinTheCall) {
  Start();

  for (int call = 0; call < 3; ++call) viewer->PresentViews();

  for (fake::DeviceScript* device : {&device1(), &device2()}) {
    EXPECT_EQ(device->backBufferRequests, 3);
    EXPECT_EQ(device->locks, 3);
    EXPECT_EQ(device->unlocks, 3);
    EXPECT_EQ(device->surfacesAlive, 0);
  }
}

TEST_F(ViewCompositionTest, CropReachingPastTheFrameLeavesThatViewUndrawn) {
  Start();
  viewer->cropWindow1 = cv::Rect(300, 84, 800, 600);  // would end at column 1099
  h.display->FillBackBuffer(1, kUntouched);

  viewer->PresentViews();

  EXPECT_TRUE(AllBytesAre(device1().memory.data(), device1().memory.size(), kUntouched));
  EXPECT_EQ(device1().presents, 2);
  EXPECT_TRUE(ViewShows(h.display->LastPresented(0).data(), 3200, viewer->frame2, viewer->cropWindow2));
}

}  // namespace
