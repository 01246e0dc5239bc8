// Stereo calibration from chessboard pairs, built on OpenCV's calib3d: image loading and checks,
// corner search, calibration, rectification maps and the misalignment that remains.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "tools/stereo_maps/map_set.h"

namespace stereo_maps {

// Expands globs (or plain names) in order; each pattern's matches are sorted. False when a
// pattern matches nothing.
bool ExpandPatterns(const std::vector<std::string>& patterns, std::vector<std::string>* paths, std::string* reason);

struct ImagePair {
  std::string leftPath, rightPath;
  cv::Mat left, right;  // 8-bit grey
};

// Reads every image as grey. False on the first image that cannot be read or whose size differs
// from the first one's.
bool LoadPairs(const std::vector<std::string>& lefts, const std::vector<std::string>& rights,
               std::vector<ImagePair>* pairs, cv::Size* imageSize, std::string* reason);

// Inner chessboard corners to sub-pixel accuracy, in the board's row order. False when the whole
// board is not visible.
bool FindBoard(const cv::Mat& grey, cv::Size board, std::vector<cv::Point2f>* corners);

struct BoardViews {
  std::vector<size_t> used;  // indices of the pairs where both sides show the board
  std::vector<std::vector<cv::Point2f>> left, right;
  size_t imagesWithBoard = 0;  // of either side, used or not
};

// Searches every pair, reporting progress ("pair n of m") and each skipped pair on `log`.
BoardViews FindBoards(const std::vector<ImagePair>& pairs, cv::Size board, std::ostream& log);

struct StereoCalibration {
  cv::Size imageSize, board;
  double squareSize = 0.0;
  cv::Mat K1, D1, K2, D2;     // intrinsics and distortion of the left and right camera
  cv::Mat R, T, E, F;         // the right camera relative to the left
  cv::Mat R1, R2, P1, P2, Q;  // rectification
  double leftError = 0.0, rightError = 0.0, stereoError = 0.0;  // RMS reprojection, pixels
  MapSet maps;                                                  // mx1, my1, mx2, my2 at imageSize
};

// Calibrates both cameras, then the pair, rectifies and builds the float maps. Needs at least
// three views. False with a reason when the library gives up.
bool Calibrate(const BoardViews& views, cv::Size imageSize, cv::Size board, double squareSize,
               StereoCalibration* result, std::string* reason);

struct Misalignment {
  double mean = 0.0, max = 0.0;  // |y_left - y_right| over corresponding points, pixels
  size_t points = 0;
};

// Corresponding points of already rectified images.
Misalignment VerticalMisalignment(const std::vector<cv::Point2f>& left, const std::vector<cv::Point2f>& right);

// Where the calibration's rectification puts the corners of the views.
Misalignment RectifiedMisalignment(const StereoCalibration& calibration, const BoardViews& views);

// calibration.yml: image size, board, square size, errors and every matrix, for later use.
bool WriteCalibrationFile(const std::string& path, const StereoCalibration& calibration, std::string* reason);

}  // namespace stereo_maps
