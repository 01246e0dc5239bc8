// The most frequent whole-pixel disparity of the centred square of a block-matching result.
#pragma once

#include <opencv2/core.hpp>

namespace stereo {

// Histogram over the whole-pixel disparities (value / 16, truncated toward zero) of columns
// n .. W-1 of a CV_16SC1 disparity matrix, counting only 0 < x < n, and returns the bin with the
// highest count; the lowest disparity wins a tie. Returns 0 when nothing was counted, and also for
// n <= 0, a matrix of another type, or n at or beyond the matrix width. Keeps no state and does not
// touch the heap, so it is safe to call on every frame.
int DominantDisparity(const cv::Mat& disparity, int n);

}  // namespace stereo
