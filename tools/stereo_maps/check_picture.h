// The picture that `stereo-maps check` writes: both rectified images side by side with horizontal
// guide lines, so a person sees at a glance whether rows line up.
#pragma once

#include <string>

#include <opencv2/core.hpp>

namespace stereo_maps {

inline constexpr int kGuideSpacing = 32;

// Remaps `image` with float maps of its own size (bilinear, outside black).
bool Rectify(const cv::Mat& image, const cv::Mat& mapX, const cv::Mat& mapY, cv::Mat* rectified, std::string* reason);

// Left and right (same size, grey or colour) next to each other in colour, a green line across
// both every kGuideSpacing rows, starting at row kGuideSpacing / 2.
cv::Mat SideBySide(const cv::Mat& left, const cv::Mat& right);

// Encodes by the file's extension and writes through a temporary file and a rename.
bool WriteImage(const std::string& path, const cv::Mat& image, std::string* reason);

}  // namespace stereo_maps
