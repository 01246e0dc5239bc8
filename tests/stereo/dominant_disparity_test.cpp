// The most frequent whole-pixel disparity of the centred square, on matrices of the viewer's shape.
#include "stereo/dominant_disparity.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr int kN = 192, kRows = 160, kCols = kN + 160;

struct Square {
  const char* name;
  std::vector<std::pair<int, int>> rows;  // (rows of the square, from the top, value); the rest holds -16
  int expected;
};

class DominantDisparity : public testing::TestWithParam<Square> {};

TEST_P(DominantDisparity, IsTheMostFrequentCountedBin) {
  // Left of the square a decoy that would win if it were counted.
  cv::Mat m(kRows, kCols, CV_16SC1, cv::Scalar(50 * 16));
  m.colRange(kN, kCols).setTo(cv::Scalar(-16));
  int row = 0;
  for (auto [count, value] : GetParam().rows) {
    m(cv::Rect(kN, row, 160, count)).setTo(cv::Scalar(value));
    row += count;
  }
  EXPECT_EQ(stereo::DominantDisparity(m, kN), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Squares, DominantDisparity,
                         testing::Values(Square{"NothingCounted", {}, 0},
                                         Square{"TruncatedTowardZero", {{160, -15}}, 0},
                                         Square{"Negative", {{160, -17}}, 0}, Square{"BelowOnePixel", {{160, 15}}, 0},
                                         Square{"OnePixel", {{160, 16}}, 1}, Square{"Fraction", {{160, 47}}, 2},
                                         Square{"LastBin", {{160, 3071}}, 191}, Square{"AtN", {{160, 3072}}, 0},
                                         Square{"OnlyTheCountedOne", {{1, 16}, {159, 3072}}, 1},
                                         Square{"TieGoesLow", {{10, 75 * 16 + 3}, {10, 40 * 16 + 15}}, 40},
                                         Square{"OneMoreDecides", {{10, 40 * 16}, {11, 75 * 16}}, 75},
                                         Square{"MostFrequent", {{5, 120 * 16}, {3, 7 * 16}, {4, 190 * 16}}, 120}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DominantDisparityArguments, UnusableOnesGiveZero) {
  const cv::Mat m(kRows, kCols, CV_16SC1, cv::Scalar(20 * 16));
  for (int n : {0, -5, kCols}) EXPECT_EQ(stereo::DominantDisparity(m, n), 0) << n;
  EXPECT_EQ(stereo::DominantDisparity(cv::Mat(), kN), 0);
  EXPECT_EQ(stereo::DominantDisparity(cv::Mat(kRows, kCols, CV_32FC1, cv::Scalar(320)), kN), 0);
}

}  // namespace
