// The display pair on the off-screen displays: white at creation, then each side's view, byte for
// byte with an opaque fourth byte, on its own adapter whatever the back buffer's row pitch; a back
// buffer that cannot be had costs only its own side.
#include "display/display_pair.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "testing/viewer_harness.h"

namespace {

struct Pair {
  explicit Pair(display::OffscreenFaultPlan faults = {}, display::OutputMode output = display::OutputMode::Dual)
      : pair(display::MakeOffscreenDisplayDriver(screens, std::move(faults))) {
    pair.SetOutput(output);
    for (int side = 0; side < 2; ++side) {
      EXPECT_EQ(pair.Create(side, this), display::Status::Ok);
      pair.CreateStaging(side);
    }
  }
  // What the side's adapter shows (BGRA).
  cv::Mat Shown(int side) const { return screens->LastPresented(display::kAdapterOfSide[side]); }

  std::shared_ptr<display::OffscreenScreens> screens = std::make_shared<display::OffscreenScreens>();
  display::DisplayPair pair;
};

cv::Mat Bgra(const cv::Mat& bgr) {
  cv::Mat bgra;
  cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
  return bgra;
}

bool AllWhite(const cv::Mat& shown) { return !shown.empty() && cv::countNonZero(shown.reshape(1) != 255) == 0; }

struct Placement {
  int shift, extraRowBytes;
};

class DisplayPairShows : public testing::TestWithParam<Placement> {};

TEST_P(DisplayPairShows, EachSidesViewOnItsAdapter) {
  display::OffscreenFaultPlan faults;
  for (auto& adapter : faults.adapters) adapter.extraRowBytes = GetParam().extraRowBytes;
  Pair p(std::move(faults));
  EXPECT_TRUE(AllWhite(p.Shown(0)) && AllWhite(p.Shown(1))) << "white after creation";
  const cv::Mat frames[2] = {testkit::TellingFrame(1), testkit::TellingFrame(2)};
  const int h = GetParam().shift;
  const cv::Mat views[2] = {frames[0](cv::Rect(112 + h, 84, 800, 600)), frames[1](cv::Rect(112 - h, 84, 800, 600))};
  const auto status = p.pair.Present(views[0], views[1]);
  for (int side = 0; side < 2; ++side) {
    EXPECT_EQ(status[side], display::Status::Ok);
    EXPECT_EQ(cv::norm(p.Shown(side), Bgra(views[side]), cv::NORM_INF), 0.0) << "side " << side + 1;
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
  const cv::Mat frame = testkit::TellingFrame(2), view = frame(cv::Rect(112, 84, 800, 600));
  const auto status = p.pair.Present(view, view);
  EXPECT_EQ(status[0], display::Status::NoBackBuffer);
  EXPECT_EQ(status[1], display::Status::Ok);
  EXPECT_EQ(cv::norm(p.Shown(1), Bgra(view), cv::NORM_INF), 0.0);
  EXPECT_TRUE(AllWhite(p.Shown(0))) << "side 1 keeps its white screen";
  EXPECT_EQ(p.screens->PresentCount(display::kAdapterOfSide[0]), 2u) << "both devices are presented all the same";
}

// A view cut short or of another kind is left undrawn, on two displays (its side only) and on one
// (the whole picture): the screen keeps what it showed.
TEST(DisplayPair, ViewsThatAreNotWholePicturesAreLeftUndrawn) {
  const cv::Mat good(600, 800, CV_8UC3, cv::Scalar(1, 2, 3));
  const cv::Mat bad[2] = {good.rowRange(0, 599), cv::Mat(600, 800, CV_8UC1, cv::Scalar(5))};
  for (const display::OutputMode output : {display::OutputMode::Dual, display::OutputMode::SideBySide}) {
    for (int side = 0; side < 2; ++side) {
      for (const cv::Mat& view : bad) {
        Pair p({}, output);
        p.pair.Present(side == 0 ? view : good, side == 1 ? view : good);
        EXPECT_TRUE(AllWhite(p.Shown(output == display::OutputMode::Dual ? side : 1))) << "side " << side + 1;
      }
    }
  }
}

// A side vouched unchanged keeps its drawing and is not drawn again, unless its staging image holds
// none yet: before the first present, and once made anew.
TEST(DisplayPair, AnUnchangedSideKeepsItsDrawingUntilItsStagingImageIsMadeAgain) {
  const cv::Mat first = testkit::TellingFrame(1)(cv::Rect(112, 84, 800, 600)), second = first + cv::Scalar::all(9);
  for (const display::OutputMode output : {display::OutputMode::Dual, display::OutputMode::SideBySide}) {
    Pair p({}, output);
    const auto shows = [&](int side, const cv::Mat& view) {
      if (output != display::OutputMode::Dual) return cv::norm(p.pair.Shown()(cv::Rect(800 * side, 0, 800, 600)), view);
      return cv::norm(p.Shown(side), Bgra(view), cv::NORM_INF);
    };
    p.pair.Present(first, first, {}, {true, true});
    EXPECT_EQ(shows(0, first) + shows(1, first), 0.0) << "nothing was drawn before";
    p.pair.Present(second, second, {}, {true, false});
    EXPECT_EQ(shows(0, output == display::OutputMode::Dual ? first : second) + shows(1, second), 0.0);
    for (int side = 0; side < 2; ++side) p.pair.CreateStaging(side);
    p.pair.Present(first, first, {}, {true, true});
    EXPECT_EQ(shows(0, first) + shows(1, first), 0.0) << "a new staging image holds no drawing";
  }
}

}  // namespace
