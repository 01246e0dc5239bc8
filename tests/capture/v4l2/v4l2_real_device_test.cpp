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
}

// What the viewer does: cameras 0 and 1 at 1024 x 768, frames taken from both in turn.
TEST(V4l2RealDeviceTest, TwoCamerasDeliverSideBySide) {
  if (CameraCount() < 2) GTEST_SKIP() << "fewer than two video capture devices on this machine";
  capture::CaptureManager manager(capture::MakeV4l2Backend());
  ASSERT_TRUE(manager.OpenDevice(0, 1024, 768));
  ASSERT_TRUE(manager.OpenDevice(1, 1024, 768));
  const std::vector<int> taken = TakeFrames(manager, 2, 20);
  EXPECT_GE(taken[0], 20);
  EXPECT_GE(taken[1], 20);
}

}  // namespace
