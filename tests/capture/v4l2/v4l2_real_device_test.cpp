// The viewer on the machine's real /dev/video* nodes, as a user runs it; skipped where there are
// fewer than two.
#include <algorithm>
#include <cstdio>

#include <gtest/gtest.h>

#include "capture/camera_listing.h"
#include "capture/v4l2/v4l2_backend.h"
#include "testing/viewer_harness.h"

namespace {

// The first two cameras at their own size, chosen as a user would (the left by its node, the right by
// its name or, if another has that name, its stable path), for passes outlasting the 3 s before controls
// are matched, with closest pairing: the viewer runs, pairs frames of both and says how the controls went.
TEST(V4l2RealDeviceTest, TheViewerRunsOnTwoChosenCamerasWithMatchedControlsAndPairedFrames) {
  const std::vector<capture::DeviceEntry> devices = capture::MakeV4l2Backend()->ListDevices();
  if (devices.size() < 2) GTEST_SKIP() << "fewer than two video capture devices on this machine";
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
      " --identity-maps --headless --passes 3000 --match-controls --pairing closest --trace " + dir.File("t.csv"));
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
