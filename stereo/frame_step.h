// Buffers and matcher the frame step keeps from pass to pass, and the record of the last pass.
#pragma once

#include <chrono>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

namespace stereo {

// Matcher settings of the viewer: a 21-pixel block, 192 disparities, normalised-response prefilter.
cv::Ptr<cv::StereoBM> CreateViewerMatcher();

// The frame-step constants.
inline constexpr int kMatchingY = 304;
inline constexpr int kMatchingHeight = 160;
inline constexpr int kSquareRight = 432;  // the matching window starts n columns left of this
inline constexpr int kDisparityBound = 222;
inline constexpr int kFollowerFloor = 1;
inline constexpr int kCropCentreX = 112;
inline constexpr int kCropY = 84;

// Where the crops of both sides start for a follower value (after the floor).
inline int CropX1(int followerValue) { return kCropCentreX + followerValue / 2; }
inline int CropX2(int followerValue) { return kCropCentreX - followerValue / 2; }

// Everything a pass needs, allocated once so that a steady-state pass does not touch the heap.
struct FrameStepWorkspace {
  FrameStepWorkspace();

  cv::Ptr<cv::StereoBM> matcher;
  cv::Mat raw[2];            // camera frames as taken, before rectification
  cv::Mat grey[2];           // the matching window of each side in grey
  cv::Mat disparity;         // 160 x (n + 160), CV_16SC1
  cv::Size reportedSize[2];  // the wrong frame size last reported per side (reported once)
};

// What the last pass that reached the matching did; read by traces and checks.
struct FrameStepRecord {
  long passes = 0;  // passes that reached the matching
  bool newFrame[2] = {false, false};
  int dominant = 0;  // after the bound
  int follower = 0;  // after the floor
  int cropX[2] = {0, 0};
  std::chrono::steady_clock::time_point arrival[2];  // when the new frames reached the capture layer
  std::chrono::steady_clock::time_point presented;   // when the present of this pass ended
};

}  // namespace stereo
