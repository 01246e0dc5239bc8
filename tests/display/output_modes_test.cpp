// The one-display pictures computed from the two views pixel by pixel, the overlay at zero parallax
// and the full-screen plan.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "display/output_modes.h"
#include "display/overlay.h"
#include "display/sdl/sdl_display.h"

namespace {

using display::OutputMode;

// Of the left view, the right view and the picture pixel's place: what that pixel must be, by the
// definition of the mode (channel by channel, BGR).
using Definition = cv::Vec3d (*)(const cv::Mat& left, const cv::Mat& right, int x, int y);

cv::Vec3d At(const cv::Mat& view, int x, int y) { return view.at<cv::Vec3b>(y, x); }
// The mean of two pixels, rounded half up, as a squeezed picture averages them.
cv::Vec3d Mean(cv::Vec3d a, cv::Vec3d b) {
  cv::Vec3d m;
  for (int c = 0; c < 3; ++c) m[c] = std::floor((a[c] + b[c] + 1) / 2);
  return m;
}

cv::Vec3d Anaglyph(const cv::Mat& left, const cv::Mat& right, int x, int y) {
  const cv::Vec3d l = At(left, x, y), r = At(right, x, y);
  cv::Vec3d out;  // BGR
  for (int row = 0; row < 3; ++row) {
    double v = 0;
    for (int in = 0; in < 3; ++in)
      v += (display::kAnaglyphLeft[row][in] * l[2 - in] + display::kAnaglyphRight[row][in] * r[2 - in]) / 1000.0;
    out[2 - row] = std::clamp(v, 0.0, 255.0);
  }
  return out;
}

struct Mode {
  const char* name;
  OutputMode mode;
  Definition definition;
  double tolerance;  // 0.5 where the exact value is fractional: the picture holds it rounded
};

class OutputModes : public testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    cv::theRNG().state = 9;
    for (cv::Mat* view : {&left, &right}) {
      *view = cv::Mat(150, 200, CV_8UC3);  // rows of 200: twelve groups of 16 pixels and 8 more
      cv::randu(*view, cv::Scalar::all(0), cv::Scalar::all(256));
    }
  }
  cv::Mat Composed() {
    cv::Mat picture(display::PictureSize(GetParam().mode, left.size()), CV_8UC4, cv::Scalar::all(77));
    display::Compose(GetParam().mode, left, right, picture);
    return picture;
  }
  cv::Mat left, right;
};

TEST_P(OutputModes, EveryPixelIsWhatTheModeMakesOfTheViews) {
  const cv::Mat picture = Composed();
  for (int y = 0; y < picture.rows; ++y)
    for (int x = 0; x < picture.cols; ++x) {
      const cv::Vec3d expected = GetParam().definition(left, right, x, y);
      const cv::Vec4b got = picture.at<cv::Vec4b>(y, x);
      for (int c = 0; c < 3; ++c)
        ASSERT_LE(std::abs(got[c] - expected[c]), GetParam().tolerance + 1e-3) << x << "," << y << " channel " << c;
    }
}

// The overlay is drawn at the same place in each eye's part, so both eyes see it without parallax:
// with one view for both eyes, both parts stay alike.
TEST_P(OutputModes, TheOverlayLooksTheSameToBothEyes) {
  right = left.clone();
  const cv::Mat plain = Composed();
  cv::Mat picture = plain.clone(), diff;
  const std::vector<cv::Rect> areas = display::EyeAreas(GetParam().mode, left.size());
  display::DrawOverlay(display::RenderOverlay({"dominant 48 px", "LOCKED"}), picture, areas, left.size());
  cv::absdiff(picture, plain, diff);
  ASSERT_GT(cv::countNonZero(diff.reshape(1)), 0) << "no overlay";
  if (areas.size() == 2) {
    EXPECT_EQ(cv::norm(picture(areas[0]), picture(areas[1]), cv::NORM_INF), 0.0);
  }
}

// The depth bar spans twice the larger limit each way (here -4 % to +4 %): the shown range sits where
// its figures say, green while it keeps the budget, red when it does not.
TEST(DepthBar, ShowsTheShownRangeAgainstTheBudget) {
  const auto columns = [](const cv::Mat& patch, bool red) {
    std::vector<int> found;
    for (int x = 0; x < patch.cols; ++x)
      for (int y = 0; y < patch.rows; ++y) {
        const cv::Vec4b p = patch.at<cv::Vec4b>(y, x);
        if ((red ? p[2] - p[1] : p[1] - p[2]) > 100) {
          found.push_back(x);
          break;
        }
      }
    return found;
  };
  const std::vector<std::string> lines = {"parallax", "a line wide enough for a bar of its own width"};
  const cv::Mat plain = display::RenderOverlay(lines);
  const cv::Mat kept = display::RenderOverlay(lines, display::DepthBar{-1.0, 2.0, 1, 2, 3});
  EXPECT_GT(kept.rows, plain.rows);
  const std::vector<int> green = columns(kept, false);
  ASSERT_FALSE(green.empty());
  EXPECT_TRUE(columns(kept, true).empty());
  const int barWidth = plain.cols - 12;  // within the padding
  const auto at = [&](double pct) { return 6 + std::lround((pct + 4.0) / 8.0 * (barWidth - 1)); };
  EXPECT_NEAR(green.front(), at(-1.0), 1);
  EXPECT_NEAR(green.back(), at(2.0), 1);
  for (const display::DepthBar broken : {display::DepthBar{-1.5, 1.0, 1, 2, 3}, display::DepthBar{-0.5, 2.5, 1, 2, 3},
                                         display::DepthBar{-0.9, 1.9, 1, 2, 2.5}}) {
    const cv::Mat patch = display::RenderOverlay(lines, broken);
    EXPECT_TRUE(columns(patch, false).empty());
    EXPECT_FALSE(columns(patch, true).empty()) << broken.nearPct << " to " << broken.farPct;
  }
}

cv::Vec3d SideBySide(const cv::Mat& l, const cv::Mat& r, int x, int y) {
  return x < l.cols ? At(l, x, y) : At(r, x - l.cols, y);
}
cv::Vec3d SideBySideHalf(const cv::Mat& l, const cv::Mat& r, int x, int y) {
  const int half = l.cols / 2;
  const cv::Mat& v = x < half ? l : r;
  const int vx = 2 * (x % half);
  return Mean(At(v, vx, y), At(v, vx + 1, y));
}
cv::Vec3d TopBottomHalf(const cv::Mat& l, const cv::Mat& r, int x, int y) {
  const int half = l.rows / 2;
  const cv::Mat& v = y < half ? l : r;
  const int vy = 2 * (y % half);
  return Mean(At(v, x, vy), At(v, x, vy + 1));
}
cv::Vec3d Interlaced(const cv::Mat& l, const cv::Mat& r, int x, int y) { return At(y % 2 == 0 ? l : r, x, y); }
cv::Vec3d LeftOnly(const cv::Mat& l, const cv::Mat&, int x, int y) { return At(l, x, y); }
cv::Vec3d RightOnly(const cv::Mat&, const cv::Mat& r, int x, int y) { return At(r, x, y); }

// clang-format off
INSTANTIATE_TEST_SUITE_P(EveryOneDisplayMode, OutputModes, testing::Values(
    Mode{"SideBySide", OutputMode::SideBySide, SideBySide, 0},
    Mode{"SideBySideHalf", OutputMode::SideBySideHalf, SideBySideHalf, 0},
    Mode{"TopBottomHalf", OutputMode::TopBottomHalf, TopBottomHalf, 0},
    Mode{"Anaglyph", OutputMode::Anaglyph, Anaglyph, 0.5},
    Mode{"Interlaced", OutputMode::Interlaced, Interlaced, 0},
    Mode{"Left", OutputMode::Left, LeftOnly, 0},
    Mode{"Right", OutputMode::Right, RightOnly, 0}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(FullScreen, UsesTheDisplaysOwnModeOfThePicturesSizeElseScalesKeepingProportions) {
  using display::FullScreenPlan;
  const cv::Size picture(800, 600);
  const struct {
    cv::Size desktop;
    std::vector<cv::Size> modes;
    FullScreenPlan plan;
  } cases[] = {
      {{800, 600}, {{800, 600}}, FullScreenPlan::Desktop},
      {{1024, 768}, {{1024, 768}, {800, 600}, {640, 480}}, FullScreenPlan::SwitchMode},
      {{1920, 1080}, {{1920, 1080}, {800, 600}}, FullScreenPlan::DesktopScaled},  // a wide panel would stretch it
      {{1920, 1080}, {{1920, 1080}, {1280, 720}}, FullScreenPlan::DesktopScaled},
      {{1024, 768}, {}, FullScreenPlan::DesktopScaled},
  };
  for (const auto& c : cases)
    EXPECT_EQ(display::PlanFullScreen(c.desktop, c.modes, picture), c.plan) << c.desktop << " " << c.modes.size();
}

}  // namespace
