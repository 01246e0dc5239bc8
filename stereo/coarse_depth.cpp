#include "stereo/coarse_depth.h"

#include <algorithm>

namespace stereo {

namespace {

// The value below which `percent` of the counted values lie (the histogram's bin index).
int Percentile(const std::array<int32_t, kCoarseBins>& histogram, long total, double percent) {
  const long wanted = static_cast<long>(static_cast<double>(total) * percent / 100.0);
  long seen = 0;
  for (std::size_t bin = 0; bin < histogram.size(); ++bin) {
    seen += histogram[bin];
    if (seen > wanted) return static_cast<int>(bin);
  }
  return static_cast<int>(histogram.size()) - 1;
}

constexpr int kBorder = kCoarseBlock / 2;  // the matcher's blocks reach this far past a point

// Grey, a quarter of the width (each pixel the mean of four) and a kCoarseRowStep-th of the height
// (two rows of every step): disparities lie along the rows, so the columns keep the finer grain.
// Reads a small part of the frame's bytes, far less than a colour conversion and a resize of the
// whole. The matcher leaves points without a full block around them unmatched, so the first
// kCoarseDisparities columns stay black (it cannot search left of its images) and the first and
// last rows are repeated kBorder times: points at any edge of the frame are matched all the same.
void Shrink(const cv::Mat& bgr, cv::Mat* small) {
  const int rows = bgr.rows / kCoarseRowStep;
  small->create(rows + 2 * kBorder, kCoarseDisparities + bgr.cols / kCoarseScale, CV_8UC1);
  (*small)(cv::Rect(0, 0, kCoarseDisparities, small->rows)).setTo(0);
  for (int r = 0; r < rows; ++r) {
    const uint8_t* a = bgr.ptr<uint8_t>(kCoarseRowStep * r + kCoarseRowStep / 2 - 1);
    const uint8_t* b = bgr.ptr<uint8_t>(kCoarseRowStep * r + kCoarseRowStep / 2);
    uint8_t* out = small->ptr<uint8_t>(kBorder + r) + kCoarseDisparities;
    constexpr int kBytes = 3 * kCoarseScale;  // of the pixels one small pixel stands for
    for (int c = kCoarseDisparities; c < small->cols; ++c, a += kBytes, b += kBytes) {
      int sum = 0;  // blue + 2 green + red, over the pixels of both rows
      for (int k = 0; k < kBytes; k += 3) sum += a[k] + 2 * a[k + 1] + a[k + 2] + b[k] + 2 * b[k + 1] + b[k + 2];
      *out++ = static_cast<uint8_t>(sum / (8 * kCoarseScale));
    }
  }
  for (int r = 0; r < kBorder; ++r) {
    small->row(kBorder).copyTo(small->row(r));
    small->row(kBorder + rows - 1).copyTo(small->row(kBorder + rows + r));
  }
}

}  // namespace

CoarseDepth::CoarseDepth() : matcher_(cv::StereoBM::create(kCoarseDisparities, kCoarseBlock)) {
  matcher_->setPreFilterType(cv::StereoBM::PREFILTER_NORMALIZED_RESPONSE);
  matcher_->setPreFilterSize(9);
  matcher_->setPreFilterCap(31);
  matcher_->setTextureThreshold(10);
  matcher_->setUniquenessRatio(15);
  matcher_->setSpeckleWindowSize(0);
}

void CoarseDepth::Match(const cv::Mat& left, const cv::Mat& right, int top, int height) {
  const cv::Rect rows(0, top, left.cols, height);
  Shrink(left(rows), &small_[0]);
  Shrink(right(rows), &small_[1]);
  disparity_.create(small_[0].size(), CV_16SC1);
  matcher_->compute(small_[0], small_[1], disparity_);
}

DepthEstimate CoarseDepth::Range(int left, int width) {
  histogram_.fill(0);
  // Half a block in from either side: a block reaching past the shown part may straddle the black
  // border of a rectified frame, whose edge matches any other edge.
  const int first = kCoarseDisparities + left / kCoarseScale + kBorder;
  const int last = std::min(disparity_.cols, kCoarseDisparities + (left + width) / kCoarseScale - kBorder);
  long valid = 0;
  const int rows = std::max(0, disparity_.rows - 2 * kBorder);
  for (int r = kBorder; r < kBorder + rows; ++r) {
    const int16_t* row = disparity_.ptr<int16_t>(r);
    for (int c = first; c < last; ++c) {
      // Invalid points are marked below zero; nothing can reach the top bin's end.
      if (row[c] < 0 || row[c] >= static_cast<int>(histogram_.size())) continue;
      ++histogram_[row[c]];
      ++valid;
    }
  }
  DepthEstimate estimate;
  estimate.validShare = static_cast<double>(valid) / std::max(1, (last - first) * rows);
  if (estimate.validShare < kCoarseMinValidShare) return estimate;
  estimate.known = true;
  const double toFrame = static_cast<double>(kCoarseScale) / 16.0;
  estimate.nearest = Percentile(histogram_, valid, kNearPercentile) * toFrame;
  estimate.farthest = Percentile(histogram_, valid, kFarPercentile) * toFrame;
  return estimate;
}

}  // namespace stereo
