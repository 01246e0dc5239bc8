// The rig's sizes and every figure that follows from them: the camera frame (and the maps), the view
// each display shows, and the disparities the matcher searches. With the defaults every figure is the
// one the viewer has always used (1024 x 768 frames, 800 x 600 views, 192 disparities).
#pragma once

#include <string>

#include <opencv2/core.hpp>

namespace stereo {

struct Geometry {
  // The matching square: its valid disparities decide the dominant one.
  static constexpr int kSquare = 160;

  cv::Size frame{1024, 768};
  cv::Size view{800, 600};
  int disparities = 192;

  // Where both crops stand with the follower at zero: centred in the frame.
  int CropCentreX() const { return (frame.width - view.width) / 2; }
  int CropY() const { return (frame.height - view.height) / 2; }
  // The square sits at the frame's centre; the matching window ends at its right edge and reaches
  // `disparities` columns further left, so that every pixel of the square can be matched.
  cv::Rect Square() const { return {frame.width / 2 - kSquare / 2, frame.height / 2 - kSquare / 2, kSquare, kSquare}; }
  cv::Rect MatchingWindow() const {
    const cv::Rect square = Square();
    return {square.x - disparities, square.y, disparities + kSquare, kSquare};
  }
  // The largest disparity followed: each crop may move by half of it and stay a column inside the frame.
  int DisparityBound() const { return 2 * (CropCentreX() - 1); }
};

// Empty when the viewer can work with `geometry`; otherwise one line saying what does not fit.
std::string CheckGeometry(const Geometry& geometry);

// Reads "WIDTHxHEIGHT" (both positive, at most 16384); false when `text` is anything else.
bool ParseSize(const std::string& text, cv::Size* size);

}  // namespace stereo
