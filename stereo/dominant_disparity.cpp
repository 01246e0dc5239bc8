#include "stereo/dominant_disparity.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

namespace stereo {

namespace {

// A 16-bit value divided by 16 never exceeds 2047, so bins from 2048 on could never be counted:
// a histogram of this size serves every n without allocating.
constexpr int kMaxBins = std::numeric_limits<int16_t>::max() / 16 + 1;

}  // namespace

int DominantDisparity(const cv::Mat& disparity, int n) {
  if (n <= 0 || disparity.empty() || disparity.type() != CV_16SC1 || n >= disparity.cols) return 0;
  const int bins = std::min(n, kMaxBins);
  std::array<int32_t, kMaxBins> histogram{};

  // A header over the centred square; it shares the elements of the matrix.
  const cv::Mat square = disparity.colRange(n, disparity.cols);
  for (int r = 0; r < square.rows; ++r) {
    const int16_t* row = square.ptr<int16_t>(r);
    for (int c = 0; c < square.cols; ++c) {
      const int x = static_cast<int>(row[c]) / 16;  // truncates toward zero, as C++ division does
      if (x > 0 && x < bins) ++histogram[x];
    }
  }

  int best = 0, index = 0;
  for (int i = 0; i < bins; ++i) {
    if (histogram[i] > best) {
      best = histogram[i];
      index = i;
    }
  }
  return index;
}

}  // namespace stereo
