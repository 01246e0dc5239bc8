// The nearest and farthest disparities of everything a view shows, coarsely: the viewer's matching
// sees only the centre square, but comfort depends on the whole picture. Block matching at a quarter
// of the width over the shown rows, beside the viewer's own matching, which it does not touch.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

namespace stereo {

inline constexpr int kCoarseScale = 4;           // the width shrunk by this
inline constexpr int kCoarseRowStep = 16;        // one row of the small images for so many of the frame's
inline constexpr int kCoarseDisparities = 48;    // at the small size: 192 pixels of the frames
inline constexpr int kCoarseBlock = 9;           // block side at the small size
inline constexpr double kNearPercentile = 98.0;  // of the valid disparities: a few stray matches do not count
inline constexpr double kFarPercentile = 2.0;
// Below this share of valid disparities in the shown part the estimate is not trusted (a blank or
// dark view gives a few scattered matches at best).
inline constexpr double kCoarseMinValidShare = 0.10;

// One bin per sixteenth of a small pixel, the matcher's unit.
inline constexpr std::size_t kCoarseBins = static_cast<std::size_t>(kCoarseDisparities) * 16;

struct DepthEstimate {
  bool known = false;  // false: too few valid disparities to say
  double nearest = 0;  // disparities in pixels of the frames
  double farthest = 0;
  double validShare = 0;  // of the shown part
};

// Main thread only; keeps its images between calls so that a pass allocates nothing.
class CoarseDepth {
 public:
  CoarseDepth();
  CoarseDepth(const CoarseDepth&) = delete;
  CoarseDepth& operator=(const CoarseDepth&) = delete;

  // Matches rows `top` .. `top + height - 1` of the rectified BGR frames `left` and `right` (one
  // size) across their full width.
  void Match(const cv::Mat& left, const cv::Mat& right, int top, int height);
  // The estimate for the columns `left` .. `left + width - 1` of the left frame, from the last Match.
  DepthEstimate Range(int left, int width);

 private:
  cv::Ptr<cv::StereoBM> matcher_;
  cv::Mat small_[2];
  cv::Mat disparity_;  // CV_16SC1, sixteenths of a small pixel
  std::array<int32_t, kCoarseBins> histogram_{};
};

}  // namespace stereo
