// A StereoViewer on the fake window system with identity maps, plus pixel helpers for checking views.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "app/stereo_viewer.h"
#include "tests/support/viewer_harness.h"

namespace display_test {

// The viewer harness keeping the viewer it made, with a display driver of the test's choice (the
// scripted fake unless told otherwise), and queries over the call log.
class DisplayHarness : public testing_support::ViewerHarness {
 public:
  app::StereoViewer& Make(std::unique_ptr<display::DisplayDriver> driver = nullptr) {
    app::Platform platform = MakePlatform();
    if (driver) platform.displays = std::move(driver);
    viewer = std::make_unique<app::StereoViewer>(std::move(platform), IdentityConfig());
    return *viewer;
  }

  std::vector<std::string> DisplayCalls() const {
    std::vector<std::string> calls;
    for (const std::string& entry : log.entries())
      if (entry.rfind("display: ", 0) == 0) calls.push_back(entry);
    return calls;
  }

  bool Logged(const std::string& entry) const { return LogIndex(entry) >= 0; }

  // Position of an entry in the log; -1 when absent.
  int LogIndex(const std::string& entry) const {
    const auto& entries = log.entries();
    const auto found = std::find(entries.begin(), entries.end(), entry);
    return found == entries.end() ? -1 : static_cast<int>(found - entries.begin());
  }

  int QuitRequests() const {
    return static_cast<int>(std::count_if(window->queue.begin(), window->queue.end(), [](const app::WindowMessage& m) {
      return m.kind == app::WindowMessage::Kind::Quit;
    }));
  }

  std::unique_ptr<app::StereoViewer> viewer;
};

// A frame whose every pixel tells where it came from: blue and green the column, red the row
// and the side, so a shifted or swapped view cannot match.
inline void FillTellingFrame(cv::Mat& frame, int side) {
  for (int r = 0; r < frame.rows; ++r)
    for (int c = 0; c < frame.cols; ++c)
      frame.at<cv::Vec3b>(r, c) =
          cv::Vec3b(static_cast<std::uint8_t>(c & 0xFF), static_cast<std::uint8_t>((c >> 8) | (side << 4)),
                    static_cast<std::uint8_t>((r * 7) & 0xFF));
}

// Checks that an 800 x 600 view with rows `pitch` bytes apart holds `crop` of `frame`, each pixel as
// blue, green, red, 255. Reports the first mismatch.
inline ::testing::AssertionResult ViewShows(const std::uint8_t* view, std::size_t pitch, const cv::Mat& frame,
                                            const cv::Rect& crop) {
  int mismatches = 0;
  std::ostringstream first;
  for (int r = 0; r < crop.height; ++r) {
    const std::uint8_t* row = view + r * pitch;
    for (int c = 0; c < crop.width; ++c) {
      const cv::Vec3b want = frame.at<cv::Vec3b>(crop.y + r, crop.x + c);
      const std::uint8_t* got = row + 4 * c;
      if (got[0] != want[0] || got[1] != want[1] || got[2] != want[2] || got[3] != 255) {
        if (mismatches++ == 0)
          first << "view pixel (x " << c << ", y " << r << ") is " << int(got[0]) << "," << int(got[1]) << ","
                << int(got[2]) << "," << int(got[3]) << " but frame pixel (x " << crop.x + c << ", y " << crop.y + r
                << ") is " << int(want[0]) << "," << int(want[1]) << "," << int(want[2]) << ",255";
      }
    }
  }
  if (mismatches == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << mismatches << " pixels differ; first: " << first.str();
}

inline ::testing::AssertionResult AllBytesAre(const std::uint8_t* begin, std::size_t count, std::uint8_t value) {
  const auto* end = begin + count;
  const auto* found = std::find_if(begin, end, [value](std::uint8_t b) { return b != value; });
  if (found == end) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "byte " << (found - begin) << " is " << int(*found) << ", expected "
                                       << int(value);
}

}  // namespace display_test
