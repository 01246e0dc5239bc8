// The SDL2 display backend on a real X server. Run under scripts/with-xorg (--outputs 2) for placement
// and pixels. Without a server, or with another number of displays than a test needs, the test skips.
#include <SDL.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/error_text.h"
#include "display/display_pair.h"
#include "display/sdl/sdl_display.h"
#include "testing/viewer_harness.h"

namespace {

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
    pair.reset();
    if (videoHeld_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }

  // True on the two-output server: display 0 at 0,0 and display 1 at 800,0, both 800 x 600.
  bool TwoOutputs() const {
    SDL_Rect first{}, second{};
    return SDL_GetNumVideoDisplays() == 2 && SDL_GetDisplayBounds(0, &first) == 0 &&
           SDL_GetDisplayBounds(1, &second) == 0 && SameRect(first, {0, 0, 800, 600}) &&
           SameRect(second, {800, 0, 800, 600});
  }

  // Both devices as the viewer makes them, side 1 first; true when both exist.
  bool StartPair(display::SdlDisplayOptions options = {}, display::OutputMode output = display::OutputMode::Dual) {
    pair = std::make_unique<display::DisplayPair>(display::MakeSdlDisplayDriver(options));
    pair->SetOutput(output);
    for (int side = 0; side < 2; ++side) {
      EXPECT_EQ(pair->Create(side, this), display::Status::Ok) << "side " << side + 1;
      pair->CreateStaging(side);
    }
    return pair->device(0) && pair->device(1);
  }

  // Lets the X server and SDL catch up: window events pumped, drawing requests processed.
  static void Settle() {
    for (int i = 0; i < 5; ++i) {
      SDL_PumpEvents();
      SDL_Delay(20);
    }
  }

  // The root window as the X server holds it (BGR, 8 bits per channel); empty when that failed.
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
    return shot;
  }

  // The device's window at x, y of the root window, 800 x 600, full screen or not.
  static void ExpectWindow(display::Device* device, int x, int y, bool fullScreen) {
    ASSERT_NE(device, nullptr);
    SDL_Window* window = display::SdlDeviceWindow(*device);
    ASSERT_NE(window, nullptr);
    int wx = -1, wy = -1, ww = 0, wh = 0;
    SDL_GetWindowPosition(window, &wx, &wy);
    SDL_GetWindowSize(window, &ww, &wh);
    EXPECT_EQ(cv::Rect(wx, wy, ww, wh), cv::Rect(x, y, 800, 600));
    EXPECT_EQ((SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN) != 0, fullScreen);
  }

  // Frames whose every pixel tells where it came from, and the crops at shift h.
  void ShowTellingCrops(int shift) {
    for (int side = 0; side < 2; ++side) frames[side] = testkit::TellingFrame(side + 1);
    views[0] = frames[0](cv::Rect(112 + shift, 84, 800, 600));
    views[1] = frames[1](cv::Rect(112 - shift, 84, 800, 600));
    for (display::Status status : pair->Present(views[0], views[1])) EXPECT_EQ(status, display::Status::Ok);
  }

  // Both views on the screenshot: side 2 (adapter 0) on the left output, side 1 on the right one.
  void ExpectScreensShow() {
    const cv::Mat shot = Screenshot();
    ASSERT_EQ(shot.size(), cv::Size(1600, 600)) << "no screenshot of the root window (is ImageMagick there?)";
    const cv::Mat left = shot(cv::Rect(0, 0, 800, 600));
    const cv::Mat right = shot(cv::Rect(800, 0, 800, 600));
    EXPECT_EQ(cv::norm(left, views[1], cv::NORM_INF), 0) << "the left output does not show side 2's crop";
    EXPECT_EQ(cv::norm(right, views[0], cv::NORM_INF), 0) << "the right output does not show side 1's crop";
  }

  std::unique_ptr<display::DisplayPair> pair;
  cv::Mat frames[2], views[2];

 private:
  bool videoHeld_ = false;
};

// Created, each side covers its own output in white (ViewerUnderX.two-outputs sees the crops there); a window hidden is
// lost and shown again asks for a reset, as does the renderer's reset event (which the shell's loop takes off the
// queue); after the resets both draw again.
TEST_F(SdlDisplayXTest, EachSideCoversItsOutputAndDrawsAgainAfterALossOrADeviceReset) {
  if (!TwoOutputs()) GTEST_SKIP() << "needs two 800x600 outputs at 0,0 and 800,0 (scripts/with-xorg --outputs 2)";
  ASSERT_TRUE(StartPair());
  Settle();
  ExpectWindow(pair->device(0), 800, 0, true);
  ExpectWindow(pair->device(1), 0, 0, true);
  const cv::Mat blank = Screenshot();
  ASSERT_EQ(blank.size(), cv::Size(1600, 600)) << "no screenshot of the root window";
  EXPECT_EQ(cv::countNonZero(blank.reshape(1) != 255), 0) << "the screens are not white after creation";

  SDL_Window* window1 = display::SdlDeviceWindow(*pair->device(0));
  SDL_HideWindow(window1);
  Settle();
  EXPECT_EQ(pair->device(0)->TestCooperativeLevel(), display::D3DERR_DEVICELOST);
  EXPECT_EQ(pair->device(1)->TestCooperativeLevel(), display::D3D_OK);
  SDL_ShowWindow(window1);
  Settle();
  EXPECT_EQ(pair->device(0)->TestCooperativeLevel(), display::D3DERR_DEVICENOTRESET);
  for (int side = 0; side < 2; ++side) EXPECT_EQ(pair->Reset(side), display::Status::Ok) << "side " << side + 1;
  EXPECT_EQ(pair->device(0)->TestCooperativeLevel(), display::D3D_OK);

  SDL_Event event{};
  event.type = SDL_RENDER_DEVICE_RESET;
  ASSERT_EQ(SDL_PushEvent(&event), 1);
  SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  for (display::Device* device : {pair->device(0), pair->device(1)})
    EXPECT_EQ(device->TestCooperativeLevel(), display::D3DERR_DEVICENOTRESET);
  for (int side = 0; side < 2; ++side) EXPECT_EQ(pair->Reset(side), display::Status::Ok) << "side " << side + 1;
  for (display::Device* device : {pair->device(0), pair->device(1)})
    EXPECT_EQ(device->TestCooperativeLevel(), display::D3D_OK);
  ShowTellingCrops(40);
  ExpectScreensShow();
}

// Whatever SDL_RENDER_VSYNC in the environment says, presents wait for the retrace when asked
// (--vsync) and only then.
TEST_F(SdlDisplayXTest, RenderersWaitForTheRetraceExactlyWhenAsked) {
  if (!TwoOutputs()) GTEST_SKIP() << "needs two 800x600 outputs (scripts/with-xorg --outputs 2)";
  for (const bool vsync : {false, true}) {
    setenv("SDL_RENDER_VSYNC", vsync ? "0" : "1", 1);
    display::SdlDisplayOptions options;
    options.vsync = vsync;
    const bool started = StartPair(options);
    unsetenv("SDL_RENDER_VSYNC");
    ASSERT_TRUE(started);
    for (display::Device* device : {pair->device(0), pair->device(1)}) {
      SDL_RendererInfo info{};
      ASSERT_EQ(SDL_GetRendererInfo(SDL_GetRenderer(display::SdlDeviceWindow(*device)), &info), 0) << SDL_GetError();
      EXPECT_EQ((info.flags & SDL_RENDERER_PRESENTVSYNC) != 0, vsync) << info.name;
    }
    pair.reset();
  }
}

// One picture of both views (1600 x 600) full screen on display 0: the window covers that output, the
// picture fills its width at its own proportions (black above and below), display 1 is left alone.
TEST_F(SdlDisplayXTest, SideBySideOnOneOutputFillsItKeepingProportions) {
  if (!TwoOutputs()) GTEST_SKIP() << "needs two 800x600 outputs (scripts/with-xorg --outputs 2)";
  EXPECT_FALSE(StartPair({}, display::OutputMode::SideBySide));
  ASSERT_EQ(pair->device(0), nullptr);
  Settle();
  ExpectWindow(pair->device(1), 0, 0, true);
  // Smooth views, so that any linear filter gives nearly the same picture.
  cv::Mat left(600, 800, CV_8UC3), right(600, 800, CV_8UC3);
  left.forEach<cv::Vec3b>([](cv::Vec3b& p, const int* at) { p = cv::Vec3b(at[1] / 4, at[0] / 3, 40); });
  right.forEach<cv::Vec3b>([](cv::Vec3b& p, const int* at) { p = cv::Vec3b(220, at[1] / 4, at[0] / 3); });
  for (display::Status status : pair->Present(left, right)) EXPECT_EQ(status, display::Status::Ok);
  const cv::Mat shot = Screenshot();
  ASSERT_EQ(shot.size(), cv::Size(1600, 600));
  cv::Mat both, expected, diff;
  cv::hconcat(left, right, both);
  cv::resize(both, expected, cv::Size(800, 300), 0, 0, cv::INTER_AREA);
  cv::absdiff(shot(cv::Rect(0, 150, 800, 300)), expected, diff);
  EXPECT_LT(cv::mean(diff)[0] + cv::mean(diff)[1] + cv::mean(diff)[2], 6.0) << "the picture is not scaled to fit";
  EXPECT_EQ(cv::countNonZero(shot(cv::Rect(0, 0, 800, 150)).reshape(1)), 0) << "no black bar above";
  EXPECT_EQ(cv::countNonZero(shot(cv::Rect(0, 450, 800, 150)).reshape(1)), 0) << "no black bar below";
}

// The whole viewer on the real display driver and the fake window system (which makes no SDL window).
TEST_F(SdlDisplayXTest, ReleasingTheViewerClosesBothDeviceWindows) {
  if (!TwoOutputs()) GTEST_SKIP() << "needs two 800x600 outputs (scripts/with-xorg --outputs 2)";
  testkit::ViewerHarness harness;
  app::Platform platform = harness.MakePlatform();
  platform.displays = display::MakeSdlDisplayDriver();
  auto viewer = std::make_unique<app::StereoViewer>(std::move(platform), testkit::ViewerHarness::IdentityConfig());
  ASSERT_TRUE(viewer->Init()) << app::ErrorText;
  std::vector<Uint32> windows;
  for (Uint32 id = 1; id < 1000; ++id)
    if (SDL_GetWindowFromID(id)) windows.push_back(id);
  ASSERT_EQ(windows.size(), 2u);

  viewer.reset();

  for (Uint32 id : windows) EXPECT_EQ(SDL_GetWindowFromID(id), nullptr);
}

TEST_F(SdlDisplayXTest, WindowedModePlacesBothViewsSideBySideOnTheFirstDisplay) {
  SDL_Rect first{};
  ASSERT_EQ(SDL_GetDisplayBounds(0, &first), 0) << SDL_GetError();
  ASSERT_TRUE(StartPair({display::SdlWindowMode::Windowed, display::SdlRendererChoice::Software}));

  ExpectWindow(pair->device(0), first.x + 800, first.y, false);
  ExpectWindow(pair->device(1), first.x, first.y, false);
  if (TwoOutputs()) {
    ShowTellingCrops(95);
    ExpectScreensShow();
  }
}

}  // namespace
