// The V4L2 backend against the machine's real /dev/video* nodes, as the viewer uses them; skipped
// where there are none.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>

#include <gtest/gtest.h>

#include "capture/camera_listing.h"
#include "capture/camera_watch.h"
#include "capture/capture_manager.h"
#include "capture/v4l2/v4l2_backend.h"

namespace {

// The first two cameras (or the only one) listed, opened at 640 x 480 and streaming at once, as the
// viewer runs them: each delivers frames whose capture time is never after their arrival, and their
// controls can be matched.
TEST(V4l2RealDeviceTest, TheFirstCamerasAreListedOpenAndDeliverTogether) {
  const int devices = std::min(static_cast<int>(capture::MakeV4l2Backend()->ListDevices().size()), 2);
  if (devices < 1) GTEST_SKIP() << "no video capture device on this machine";
  const std::string listing = capture::ListCameras(*capture::MakeV4l2Backend());
  EXPECT_EQ(listing.rfind("0: ", 0), 0u) << listing;
  std::printf("%s", listing.c_str());  // what --list-cameras shows on this machine
  capture::CaptureManager manager(capture::MakeV4l2Backend());
  std::vector<std::vector<unsigned char>> pixels(devices);
  for (int d = 0; d < devices; ++d) {
    if (!manager.OpenDevice(d, 640, 480)) GTEST_SKIP() << "camera " << d << " is in use or cannot stream";
    int width = 0, height = 0;
    ASSERT_TRUE(manager.GetFrameSize(d, &width, &height));
    pixels[d].resize(static_cast<std::size_t>(width) * height * 3);
  }
  for (int take = 0; take < 2; ++take)  // each take waits up to a second for its frame
    for (int d = 0; d < devices; ++d) EXPECT_TRUE(manager.GetPixels(d, pixels[d].data(), false, true)) << d;
  for (int d = 0; d < devices; ++d) {
    // The driver's capture time, or the arrival where it gives none: never after the arrival.
    EXPECT_LE(manager.LastFrameCapture(d), manager.LastFrameArrival(d));
    EXPECT_GT(manager.LastFrameCapture(d), manager.LastFrameArrival(d) - std::chrono::seconds(1));
  }
  std::array<std::vector<capture::Control>, 2> set;
  if (devices == 2) std::printf("%s\n", capture::MatchControls(manager, 0, 1, &set).back().c_str());
}

}  // namespace
