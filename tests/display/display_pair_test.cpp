// The display pair on the off-screen displays: white at creation, then each side's view, byte for
// byte, on its own adapter whatever the back buffer's row pitch; a back buffer that cannot be had
// costs only its own side.
#include "display/display_pair.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "display/offscreen/offscreen_display.h"

namespace {

// A frame whose every pixel tells where it came from: blue and green the column, red the row and
// the side, so a shifted or swapped view cannot match.
cv::Mat TellingFrame(int side) {
  cv::Mat frame(768, 1024, CV_8UC3);
  for (int r = 0; r < frame.rows; ++r)
    for (int c = 0; c < frame.cols; ++c)
      frame.at<cv::Vec3b>(r, c) = cv::Vec3b(c & 0xFF, (c >> 8) | (side << 4), (r * 7) & 0xFF);
  return frame;
}

struct Pair {
  explicit Pair(display::OffscreenFaultPlan faults = {})
      : pair(display::MakeOffscreenDisplayDriver(screens, std::move(faults))) {
    for (int side = 0; side < 2; ++side) {
      EXPECT_EQ(pair.Create(side, this), display::Status::Ok);
      pair.CreateStaging(side);
    }
  }
  // What the side's adapter shows, as BGR.
  cv::Mat Shown(int side) const {
    cv::Mat bgr;
    cv::cvtColor(screens->LastPresented(display::kAdapterOfSide[side]), bgr, cv::COLOR_BGRA2BGR);
    return bgr;
  }

  std::shared_ptr<display::OffscreenScreens> screens = std::make_shared<display::OffscreenScreens>();
  display::DisplayPair pair;
};

struct Placement {
  int shift, extraRowBytes;
};

class DisplayPairShows : public testing::TestWithParam<Placement> {};

TEST_P(DisplayPairShows, EachSidesViewOnItsAdapter) {
  display::OffscreenFaultPlan faults;
  for (auto& adapter : faults.adapters) adapter.extraRowBytes = GetParam().extraRowBytes;
  Pair p(std::move(faults));
  for (int side = 0; side < 2; ++side) {
    const cv::Mat shown = p.screens->LastPresented(display::kAdapterOfSide[side]);
    EXPECT_EQ(cv::countNonZero(shown.reshape(1) != 255), 0) << "white after creation";
  }
  const cv::Mat frames[2] = {TellingFrame(1), TellingFrame(2)};
  const int h = GetParam().shift;
  const cv::Mat views[2] = {frames[0](cv::Rect(112 + h, 84, 800, 600)), frames[1](cv::Rect(112 - h, 84, 800, 600))};
  const auto status = p.pair.Present(views[0], views[1]);
  for (int side = 0; side < 2; ++side) {
    EXPECT_EQ(status[side], display::Status::Ok);
    EXPECT_EQ(cv::norm(p.Shown(side), views[side], cv::NORM_INF), 0.0) << "side " << side + 1;
    const cv::Mat shown = p.screens->LastPresented(display::kAdapterOfSide[side]);
    cv::Mat alpha;
    cv::extractChannel(shown, alpha, 3);
    EXPECT_EQ(cv::countNonZero(alpha != 255), 0) << "the fourth byte is 255";
  }
}

// Rows of 3200 bytes (copied row by row), of a staging row's 3328 (one block), and wider ones.
INSTANTIATE_TEST_SUITE_P(ShiftsAndPitches, DisplayPairShows,
                         testing::Values(Placement{0, 0}, Placement{95, 0}, Placement{111, 0}, Placement{95, 128},
                                         Placement{1, 200}));

TEST(DisplayPair, ABackBufferThatCannotBeHadCostsOnlyItsSide) {
  display::OffscreenFaultPlan faults;
  faults.adapters[display::kAdapterOfSide[0]].noBackBufferFrom = 0;
  Pair p(std::move(faults));
  const cv::Mat frame = TellingFrame(2), view = frame(cv::Rect(112, 84, 800, 600));
  const auto status = p.pair.Present(view, view);
  EXPECT_EQ(status[0], display::Status::NoBackBuffer);
  EXPECT_EQ(status[1], display::Status::Ok);
  EXPECT_EQ(cv::norm(p.Shown(1), view, cv::NORM_INF), 0.0);
  EXPECT_EQ(cv::countNonZero(p.Shown(0).reshape(1) != 255), 0) << "side 1 keeps its white screen";
  EXPECT_EQ(p.screens->PresentCount(1), 2u) << "both devices are presented all the same";
}

}  // namespace
