// The V4L2 backend against the machine's real /dev/video* nodes, as the viewer uses them; skipped
// where there are none (or too few).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include <gtest/gtest.h>

#include "capture/camera_listing.h"
#include "capture/capture_manager.h"
#include "capture/v4l2/v4l2_backend.h"
#include "testing/viewer_harness.h"

namespace {

int CameraCount() { return static_cast<int>(capture::MakeV4l2Backend()->ListDevices().size()); }

// Takes frames from the open devices in turn until each gave `wanted` or ten seconds passed.
std::vector<int> TakeFrames(capture::CaptureManager& manager, int devices, int wanted) {
  std::vector<int> taken(devices, 0);
  std::vector<std::vector<unsigned char>> pixels(devices);
  for (int d = 0; d < devices; ++d) {
    int width = 0, height = 0;
    EXPECT_TRUE(manager.GetFrameSize(d, &width, &height));
    pixels[d].resize(static_cast<std::size_t>(width) * height * 3);
  }
  const auto start = std::chrono::steady_clock::now();
  while (*std::min_element(taken.begin(), taken.end()) < wanted &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
    for (int d = 0; d < devices; ++d)
      if (manager.HasNewFrame(d) && manager.GetPixels(d, pixels[d].data(), false, true)) ++taken[d];
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return taken;
}

TEST(V4l2RealDeviceTest, TheFirstCameraIsListedOpensAndDelivers) {
  if (CameraCount() < 1) GTEST_SKIP() << "no video capture device on this machine";
  const std::string listing = capture::ListCameras(*capture::MakeV4l2Backend());
  EXPECT_EQ(listing.rfind("0: ", 0), 0u) << listing;
  std::printf("%s", listing.c_str());  // what --list-cameras shows on this machine
  capture::CaptureManager manager(capture::MakeV4l2Backend());
  if (!manager.OpenDevice(0, 640, 480)) GTEST_SKIP() << "the first camera is in use or cannot stream";
  EXPECT_GE(TakeFrames(manager, 1, 2)[0], 2);
  // The driver's capture time, or the arrival where it gives none: never after the arrival.
  EXPECT_LE(manager.LastFrameCapture(0), manager.LastFrameArrival(0));
  EXPECT_GT(manager.LastFrameCapture(0), manager.LastFrameArrival(0) - std::chrono::seconds(1));
}

// The viewer program on the first two cameras at their own size, chosen as a user would (the left by
// its node, the right by its name or, when another camera has that name, its stable path), with matched
// controls and closest pairing: it runs, pairs frames of both and says how the controls went.
TEST(V4l2RealDeviceTest, TheViewerRunsOnTwoChosenCamerasWithMatchedControlsAndPairedFrames) {
  if (CameraCount() < 2) GTEST_SKIP() << "fewer than two video capture devices on this machine";
  const std::vector<capture::DeviceEntry> devices = capture::MakeV4l2Backend()->ListDevices();
  std::unique_ptr<capture::SourceDevice> first;
  capture::StreamFormat format;
  ASSERT_TRUE(capture::SUCCEEDED(devices[0].open(&first)) && first && capture::SUCCEEDED(first->GetFormat(&format)));
  first.reset();
  std::string error, right = capture::Utf16ToUtf8(devices[1].name);
  if (capture::ChooseCamera(devices, right, &error) != 1)
    right = devices[1].stablePaths.empty() ? devices[1].path : devices[1].stablePaths.back();
  const testkit::TempDir dir;
  char sizes[64];
  std::snprintf(sizes, sizeof sizes, "--frame %dx%d --view %dx%d", format.width, format.height,
                format.width * 4 / 5 / 2 * 2, format.height * 4 / 5 / 2 * 2);
  const testkit::ProgramRun run = testkit::RunProgram(
      std::string(VIEWER_BINARY_DIR) + "/stereo-viewer --cameras " + devices[0].path + " '" + right + "' " + sizes +
      " --identity-maps --headless --passes 600 --match-controls --pairing closest --trace " + dir.File("t.csv"));
  ASSERT_EQ(run.code, 0) << run.err;
  const std::vector<std::string> lines = testkit::Lines(dir.File("t.csv"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "pass,new1,new2,dominant,follower,crop1_x,crop2_x,latency1_ms,latency2_ms,skew_ms");
  std::vector<double> skews;
  for (std::size_t i = 1; i < lines.size(); ++i)
    if (const std::string skew = lines[i].substr(lines[i].rfind(',') + 1); !skew.empty())
      skews.push_back(std::abs(std::stod(skew)));
  ASSERT_GT(skews.size(), 10u) << "frames of both cameras shown";
  std::nth_element(skews.begin(), skews.begin() + skews.size() / 2, skews.end());
  std::printf("median pair skew %.3f ms over %zu passes\n%s", skews[skews.size() / 2], skews.size(), run.err.c_str());
  EXPECT_LT(skews[skews.size() / 2], 100.0);
  EXPECT_TRUE(run.err.find("controls matched to camera 0") != std::string::npos ||
              run.err.find("no camera control matched") != std::string::npos)
      << run.err;
}

}  // namespace
