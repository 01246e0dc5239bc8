// The SDL2 display backend on a real X server. Run under scripts/with-xorg: the two-output Xorg
// (--outputs 2) for placement and pixels, a one-screen server (--outputs 1) for the missing adapter.
// Without a server, or with another number of displays than a test needs, the test skips.
#include <SDL.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "app/error_text.h"
#include "display/sdl/sdl_display.h"
#include "tests/display/display_harness.h"

namespace {

using display_test::DisplayHarness;

bool SameRect(const SDL_Rect& a, const SDL_Rect& b) { return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h; }

class SdlDisplayXTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "DISPLAY is not set: run under scripts/with-xorg";
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) GTEST_SKIP() << "SDL video cannot start: " << SDL_GetError();
    videoHeld_ = true;
  }
  void TearDown() override {
    harness.viewer.reset();
    if (videoHeld_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }

  // True on the two-output server: display 0 at 0,0 and display 1 at 800,0, both 800 x 600.
  bool TwoOutputs() const {
    SDL_Rect first{}, second{};
    return SDL_GetNumVideoDisplays() == 2 && SDL_GetDisplayBounds(0, &first) == 0 &&
           SDL_GetDisplayBounds(1, &second) == 0 && SameRect(first, {0, 0, 800, 600}) &&
           SameRect(second, {800, 0, 800, 600});
  }

  app::StereoViewer& StartViewer(display::SdlDisplayOptions options = {}) {
    app::StereoViewer& viewer = harness.Make(display::MakeSdlDisplayDriver(options));
    EXPECT_TRUE(viewer.Init()) << app::ErrorText;
    return viewer;
  }

  // Lets the X server and SDL catch up: window events pumped, drawing requests processed.
  static void Settle() {
    for (int i = 0; i < 5; ++i) {
      SDL_PumpEvents();
      SDL_Delay(20);
    }
  }

  // The root window as the X server holds it (BGR, 8 bits per channel); empty when that failed.
  // With VIEWER_XTEST_SCREENSHOTS set to a folder, every screenshot is also kept there.
  static cv::Mat Screenshot() {
    Settle();
    char path[] = "/tmp/sdl-display-xtest-XXXXXX.png";
    const int fd = mkstemps(path, 4);
    if (fd < 0) return {};
    close(fd);
    const std::string command = std::string("import -window root png24:") + path + " 2>/dev/null";
    cv::Mat shot;
    if (std::system(command.c_str()) == 0) shot = cv::imread(path, cv::IMREAD_COLOR);
    std::remove(path);
    static int taken = 0;
    const char* keep = std::getenv("VIEWER_XTEST_SCREENSHOTS");
    if (keep && *keep && !shot.empty()) {
      const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
      cv::imwrite(std::string(keep) + "/" + test->name() + "-" + std::to_string(++taken) + ".png", shot);
    }
    return shot;
  }

  static void ShowTellingCrops(app::StereoViewer& viewer, int shift) {
    display_test::FillTellingFrame(viewer.frame1, 1);
    display_test::FillTellingFrame(viewer.frame2, 2);
    viewer.cropWindow1 = {112 + shift, 84, 800, 600};
    viewer.cropWindow2 = {112 - shift, 84, 800, 600};
    viewer.PresentViews();
  }

  // Both views on the screenshot: side 2 (adapter 0) on the left output, side 1 on the right one.
  static void ExpectScreensShow(const app::StereoViewer& viewer) {
    const cv::Mat shot = Screenshot();
    ASSERT_EQ(shot.size(), cv::Size(1600, 600)) << "no screenshot of the root window (is ImageMagick there?)";
    const cv::Mat left = shot(cv::Rect(0, 0, 800, 600));
    const cv::Mat right = shot(cv::Rect(800, 0, 800, 600));
    const cv::Mat want2 = viewer.frame2(viewer.cropWindow2);
    const cv::Mat want1 = viewer.frame1(viewer.cropWindow1);
    EXPECT_EQ(cv::norm(left, want2, cv::NORM_INF), 0) << "the left output does not show side 2's crop";
    EXPECT_EQ(cv::norm(right, want1, cv::NORM_INF), 0) << "the right output does not show side 1's crop";
  }

  DisplayHarness harness;

 private:
  bool videoHeld_ = false;
};

TEST_F(SdlDisplayXTest, EachSideCoversItsOwnOutputWhiteAtFirstThenShowsItsCrop) {
  if (!TwoOutputs()) GTEST_SKIP() << "needs two 800x600 outputs at 0,0 and 800,0 (scripts/with-xorg --outputs 2)";
  app::StereoViewer& viewer = StartViewer();
  ASSERT_NE(viewer.device1, nullptr);
  ASSERT_NE(viewer.device2, nullptr);

  Settle();
  for (auto [device, x] : {std::pair{viewer.device1.get(), 800}, std::pair{viewer.device2.get(), 0}}) {
    SDL_Window* window = display::SdlDeviceWindow(*device);
    ASSERT_NE(window, nullptr);
    int wx = -1, wy = -1, ww = 0, wh = 0;
    SDL_GetWindowPosition(window, &wx, &wy);
    SDL_GetWindowSize(window, &ww, &wh);
    EXPECT_EQ(wx, x);
    EXPECT_EQ(wy, 0);
    EXPECT_EQ(ww, 800);
    EXPECT_EQ(wh, 600);
    EXPECT_EQ(SDL_GetWindowDisplayIndex(window), x == 800 ? 1 : 0);
  }
  const cv::Mat blank = Screenshot();
  ASSERT_EQ(blank.size(), cv::Size(1600, 600)) << "no screenshot of the root window";
  EXPECT_EQ(cv::countNonZero(blank.reshape(1) != 255), 0) << "the screens are not white after creation";

  ShowTellingCrops(viewer, 95);
  ExpectScreensShow(viewer);
}

TEST_F(SdlDisplayXTest, BackBufferLocksWithRowsOfAtLeast3200Bytes) {
  if (!TwoOutputs()) GTEST_SKIP() << "needs two 800x600 outputs (scripts/with-xorg --outputs 2)";
  app::StereoViewer& viewer = StartViewer();
  ASSERT_NE(viewer.device1, nullptr);

  std::unique_ptr<display::Surface> surface;
  ASSERT_EQ(viewer.device1->GetBackBuffer(&surface), display::D3D_OK);
  display::LockedRect locked;
  ASSERT_EQ(surface->LockRect(&locked), display::D3D_OK);
  EXPECT_NE(locked.pBits, nullptr);
  EXPECT_GE(locked.Pitch, 3200);
  std::printf("back-buffer pitch: %d\n", locked.Pitch);
  EXPECT_EQ(surface->LockRect(&locked), display::D3DERR_INVALIDCALL) << "locked twice";
  EXPECT_EQ(viewer.device1->Reset(display::ViewerPresentParameters(viewer.window)), display::D3DERR_INVALIDCALL)
      << "reset while a back-buffer reference was held";
  EXPECT_EQ(surface->UnlockRect(), display::D3D_OK);
}

TEST_F(SdlDisplayXTest, RenderersPresentWithoutWaitingForTheRetraceEvenWhenTheEnvironmentAsks) {
  if (!TwoOutputs()) GTEST_SKIP() << "needs two 800x600 outputs (scripts/with-xorg --outputs 2)";
  setenv("SDL_RENDER_VSYNC", "1", 1);
  app::StereoViewer& viewer = StartViewer();
  unsetenv("SDL_RENDER_VSYNC");
  ASSERT_NE(viewer.device2, nullptr);

  for (display::Device* device : {viewer.device1.get(), viewer.device2.get()}) {
    SDL_RendererInfo info{};
    ASSERT_EQ(SDL_GetRendererInfo(SDL_GetRenderer(display::SdlDeviceWindow(*device)), &info), 0) << SDL_GetError();
    EXPECT_FALSE(info.flags & SDL_RENDERER_PRESENTVSYNC) << info.name;
  }
}

TEST_F(SdlDisplayXTest, HiddenWindowIsLostThenCanBeResetThenDrawsAgain) {
  if (!TwoOutputs()) GTEST_SKIP() << "needs two 800x600 outputs (scripts/with-xorg --outputs 2)";
  app::StereoViewer& viewer = StartViewer();
  ASSERT_NE(viewer.device1, nullptr);
  SDL_Window* window1 = display::SdlDeviceWindow(*viewer.device1);

  SDL_HideWindow(window1);
  Settle();
  EXPECT_EQ(viewer.device1->TestCooperativeLevel(), display::D3DERR_DEVICELOST);
  EXPECT_EQ(viewer.device2->TestCooperativeLevel(), display::D3D_OK);

  SDL_ShowWindow(window1);
  Settle();
  EXPECT_EQ(viewer.device1->TestCooperativeLevel(), display::D3DERR_DEVICENOTRESET);

  viewer.ResetDisplays();
  EXPECT_TRUE(app::ErrorTextIsOk()) << app::ErrorText;
  EXPECT_EQ(viewer.device1->TestCooperativeLevel(), display::D3D_OK);
  EXPECT_EQ(viewer.device2->TestCooperativeLevel(), display::D3D_OK);

  ShowTellingCrops(viewer, 40);
  ExpectScreensShow(viewer);
}

TEST_F(SdlDisplayXTest, RenderDeviceResetEventAsksForAResetThatRebuildsTheRenderer) {
  if (!TwoOutputs()) GTEST_SKIP() << "needs two 800x600 outputs (scripts/with-xorg --outputs 2)";
  app::StereoViewer& viewer = StartViewer();
  ASSERT_NE(viewer.device1, nullptr);
  // The shell's loop takes events off the queue; the devices must notice them all the same.
  SDL_Event event{};
  event.type = SDL_RENDER_DEVICE_RESET;
  ASSERT_EQ(SDL_PushEvent(&event), 1);
  SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);

  EXPECT_EQ(viewer.device1->TestCooperativeLevel(), display::D3DERR_DEVICENOTRESET);
  EXPECT_EQ(viewer.device2->TestCooperativeLevel(), display::D3DERR_DEVICENOTRESET);
  viewer.ResetDisplays();
  EXPECT_TRUE(app::ErrorTextIsOk()) << app::ErrorText;
  EXPECT_EQ(viewer.device1->TestCooperativeLevel(), display::D3D_OK);

  ShowTellingCrops(viewer, 0);
  ExpectScreensShow(viewer);
}

TEST_F(SdlDisplayXTest, ReleasingTheViewerClosesBothDeviceWindows) {
  if (!TwoOutputs()) GTEST_SKIP() << "needs two 800x600 outputs (scripts/with-xorg --outputs 2)";
  app::StereoViewer& viewer = StartViewer();
  ASSERT_NE(viewer.device2, nullptr);
  const Uint32 id1 = SDL_GetWindowID(display::SdlDeviceWindow(*viewer.device1));
  const Uint32 id2 = SDL_GetWindowID(display::SdlDeviceWindow(*viewer.device2));

  harness.viewer.reset();

  EXPECT_EQ(SDL_GetWindowFromID(id1), nullptr);
  EXPECT_EQ(SDL_GetWindowFromID(id2), nullptr);
}

TEST_F(SdlDisplayXTest, SingleDisplayCannotTakeTheSide1Device) {
  if (SDL_GetNumVideoDisplays() != 1) GTEST_SKIP() << "needs exactly one display (scripts/with-xorg --outputs 1)";
  app::StereoViewer& viewer = harness.Make(display::MakeSdlDisplayDriver());

  EXPECT_FALSE(viewer.Init());

  EXPECT_STREQ(app::ErrorText, "Nelze vytvořit objekt Direct3DDevice!");
  EXPECT_EQ(viewer.device1, nullptr);
  EXPECT_EQ(viewer.direct3D2, nullptr) << "side 2 was attempted";
}

TEST_F(SdlDisplayXTest, WindowedModePlacesBothViewsSideBySideOnTheFirstDisplay) {
  SDL_Rect first{};
  ASSERT_EQ(SDL_GetDisplayBounds(0, &first), 0) << SDL_GetError();
  app::StereoViewer& viewer = StartViewer({display::SdlWindowMode::Windowed, display::SdlRendererChoice::Software});
  ASSERT_NE(viewer.device1, nullptr);
  ASSERT_NE(viewer.device2, nullptr);

  for (auto [device, x] : {std::pair{viewer.device1.get(), 800}, std::pair{viewer.device2.get(), 0}}) {
    SDL_Window* window = display::SdlDeviceWindow(*device);
    int wx = -1, wy = -1, ww = 0, wh = 0;
    SDL_GetWindowPosition(window, &wx, &wy);
    SDL_GetWindowSize(window, &ww, &wh);
    EXPECT_EQ(wx, first.x + x);
    EXPECT_EQ(wy, first.y);
    EXPECT_EQ(ww, 800);
    EXPECT_EQ(wh, 600);
    EXPECT_FALSE(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN);
  }
  if (TwoOutputs()) {
    ShowTellingCrops(viewer, 95);
    ExpectScreensShow(viewer);
  }
}

}  // namespace
