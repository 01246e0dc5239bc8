// How much a pass's dominant disparity can be trusted: the share of the centre square that matched,
// and how clearly the histogram's peak stands out. A covered lens, a blank wall or a dark scene
// matches almost nowhere; scattered false matches spread over many bins with no clear peak.
#pragma once

#include <opencv2/core.hpp>

namespace stereo {

// Thresholds, from measurements on the synthetic scenes (see the README): textured views match at
// 80 % of the square or more and their peak is many times any rival; blank, flat or dark views match
// at a few per cent at most.
inline constexpr double kMinValidShare = 0.10;
inline constexpr double kMinPeakShare = 0.10;  // of the counted disparities, those within the peak
inline constexpr int kPeakWidth = 2;           // bins either side of the peak that still belong to it

struct SquareConfidence {
  double validShare = 0;  // of the square's pixels, those counted by the histogram
  double peakShare = 0;   // of those counted, the ones within kPeakWidth bins of the peak
};

// Over the same histogram as DominantDisparity (columns n .. W-1, whole pixels 0 < x < n).
SquareConfidence MeasureSquare(const cv::Mat& disparity, int n);

// True when the square matched too little or its peak does not stand out.
bool Unsure(const SquareConfidence& confidence);

}  // namespace stereo
