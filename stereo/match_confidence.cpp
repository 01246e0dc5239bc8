#include "stereo/match_confidence.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace stereo {

namespace {

constexpr int kMaxBins = 2048;  // a 16-bit value divided by 16 stays below this

}  // namespace

SquareConfidence MeasureSquare(const cv::Mat& disparity, int n) {
  SquareConfidence confidence;
  if (n <= 0 || disparity.empty() || disparity.type() != CV_16SC1 || n >= disparity.cols) return confidence;
  const int bins = std::min(n, kMaxBins);
  std::array<int32_t, kMaxBins> histogram{};
  const cv::Mat square = disparity.colRange(n, disparity.cols);
  long counted = 0;
  for (int r = 0; r < square.rows; ++r) {
    const int16_t* row = square.ptr<int16_t>(r);
    for (int c = 0; c < square.cols; ++c) {
      const int x = static_cast<int>(row[c]) / 16;
      if (x > 0 && x < bins) {
        ++histogram[x];
        ++counted;
      }
    }
  }
  const int peak = static_cast<int>(std::max_element(histogram.begin(), histogram.begin() + bins) - histogram.begin());
  confidence.validShare = static_cast<double>(counted) / static_cast<double>(square.total());
  long aroundPeak = 0;
  for (int i = std::max(0, peak - kPeakWidth); i <= std::min(bins - 1, peak + kPeakWidth); ++i)
    aroundPeak += histogram[i];
  if (counted > 0) confidence.peakShare = static_cast<double>(aroundPeak) / static_cast<double>(counted);
  return confidence;
}

bool Unsure(const SquareConfidence& confidence) {
  return confidence.validShare < kMinValidShare || confidence.peakShare < kMinPeakShare;
}

}  // namespace stereo
