#include "stereo/dominant_disparity.h"

#include <gtest/gtest.h>

namespace {

constexpr int kN = 192;
constexpr int kRows = 160;
constexpr int kCols = kN + 160;

// A disparity matrix of the viewer's shape; columns outside the square hold a decoy value that
// would win if they were counted.
cv::Mat Disparities(int16_t squareValue, int16_t outsideValue = 50 * 16) {
  cv::Mat m(kRows, kCols, CV_16SC1, cv::Scalar(outsideValue));
  m.colRange(kN, kCols).setTo(cv::Scalar(squareValue));
  return m;
}

cv::Mat Square(cv::Mat& m) { return m.colRange(kN, kCols); }

TEST(DominantDisparity, NothingCountedGivesZero) {
  EXPECT_EQ(stereo::DominantDisparity(Disparities(-16), kN), 0) << "invalid matches";
  EXPECT_EQ(stereo::DominantDisparity(Disparities(-1), kN), 0);
  cv::Mat mixedNegative = Disparities(-32768);
  Square(mixedNegative).rowRange(0, 80).setTo(cv::Scalar(-17));
  EXPECT_EQ(stereo::DominantDisparity(mixedNegative, kN), 0);

  // 1 .. 15 are below one whole pixel.
  cv::Mat subPixel = Disparities(0);
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < 160; ++c) Square(subPixel).at<int16_t>(r, c) = static_cast<int16_t>(1 + (r + c) % 15);
  EXPECT_EQ(stereo::DominantDisparity(subPixel, kN), 0);

  // At or above n is out of the searched range.
  EXPECT_EQ(stereo::DominantDisparity(Disparities(3072), kN), 0);
  EXPECT_EQ(stereo::DominantDisparity(Disparities(32767), kN), 0);
}

TEST(DominantDisparity, BinEdges) {
  EXPECT_EQ(stereo::DominantDisparity(Disparities(16), kN), 1);
  EXPECT_EQ(stereo::DominantDisparity(Disparities(31), kN), 1);
  EXPECT_EQ(stereo::DominantDisparity(Disparities(47), kN), 2);
  EXPECT_EQ(stereo::DominantDisparity(Disparities(3071), kN), 191);

  // A lone element of 3072 beside a few of 16: only bin 1 is counted.
  cv::Mat m = Disparities(-16);
  Square(m).at<int16_t>(0, 0) = 16;
  Square(m).rowRange(1, kRows).setTo(cv::Scalar(3072));
  EXPECT_EQ(stereo::DominantDisparity(m, kN), 1);
}

TEST(DominantDisparity, MostFrequentBinWinsAndTiesGoLow) {
  cv::Mat m = Disparities(-16);
  Square(m).rowRange(0, 10).setTo(cv::Scalar(75 * 16 + 3));
  Square(m).rowRange(10, 20).setTo(cv::Scalar(40 * 16 + 15));
  EXPECT_EQ(stereo::DominantDisparity(m, kN), 40) << "equal counts: the lowest disparity";

  Square(m).row(20).colRange(0, 1).setTo(cv::Scalar(75 * 16));
  EXPECT_EQ(stereo::DominantDisparity(m, kN), 75) << "one more element decides";

  cv::Mat spread = Disparities(-16);
  Square(spread).rowRange(0, 5).setTo(cv::Scalar(120 * 16));
  Square(spread).rowRange(5, 8).setTo(cv::Scalar(7 * 16));
  Square(spread).rowRange(8, 12).setTo(cv::Scalar(190 * 16));
  EXPECT_EQ(stereo::DominantDisparity(spread, kN), 120);
}

TEST(DominantDisparity, ColumnsLeftOfTheSquareNeverCount) {
  cv::Mat m = Disparities(20 * 16, 0);
  for (int16_t decoy : {int16_t(5 * 16), int16_t(100 * 16), int16_t(191 * 16), int16_t(-16), int16_t(16)}) {
    m.colRange(0, kN).setTo(cv::Scalar(decoy));
    EXPECT_EQ(stereo::DominantDisparity(m, kN), 20) << "decoy " << decoy;
  }
  // Nothing countable in the square: whatever lies left of it, the answer is 0.
  cv::Mat empty = Disparities(-16, 30 * 16);
  EXPECT_EQ(stereo::DominantDisparity(empty, kN), 0);
}

TEST(DominantDisparity, WorksOnAViewAndLeavesTheMatrixAlone) {
  // The matching result may itself be a view into a larger matrix (non-continuous rows).
  cv::Mat big(kRows + 20, kCols + 40, CV_16SC1, cv::Scalar(-16));
  cv::Mat view = big(cv::Rect(20, 10, kCols, kRows));
  view.colRange(kN, kCols).setTo(cv::Scalar(33 * 16));
  big.colRange(kCols + 20, kCols + 40).setTo(cv::Scalar(60 * 16));  // right of the view: must not count
  const cv::Mat before = big.clone();
  EXPECT_EQ(stereo::DominantDisparity(view, kN), 33);
  EXPECT_EQ(cv::norm(big, before, cv::NORM_INF), 0.0);
}

TEST(DominantDisparity, UnusableArgumentsGiveZero) {
  cv::Mat m = Disparities(20 * 16);
  EXPECT_EQ(stereo::DominantDisparity(m, 0), 0);
  EXPECT_EQ(stereo::DominantDisparity(m, -5), 0);
  EXPECT_EQ(stereo::DominantDisparity(m, kCols), 0) << "no square left";
  EXPECT_EQ(stereo::DominantDisparity(m, kCols + 100), 0);
  EXPECT_EQ(stereo::DominantDisparity(cv::Mat(), kN), 0);
  cv::Mat floats(kRows, kCols, CV_32FC1, cv::Scalar(20 * 16));
  EXPECT_EQ(stereo::DominantDisparity(floats, kN), 0);

  // A small n bounds the bins: 20 is out of range for n = 16, 10 is in it.
  cv::Mat small(4, 40, CV_16SC1, cv::Scalar(-16));
  small.colRange(16, 40).rowRange(0, 3).setTo(cv::Scalar(20 * 16));
  small.colRange(16, 40).row(3).setTo(cv::Scalar(10 * 16));
  EXPECT_EQ(stereo::DominantDisparity(small, 16), 10);
  // A very large n (beyond any 16-bit disparity) still counts the top disparity.
  cv::Mat wide(2, 5000, CV_16SC1, cv::Scalar(32767));
  EXPECT_EQ(stereo::DominantDisparity(wide, 4000), 2047);
}

}  // namespace
