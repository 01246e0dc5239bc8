#include "stereo/geometry.h"

namespace stereo {

namespace {

std::string Text(cv::Size size) { return std::to_string(size.width) + "x" + std::to_string(size.height); }

}  // namespace

std::string CheckGeometry(const Geometry& g) {
  if (g.frame.width % 2 || g.frame.height % 2) return "--frame " + Text(g.frame) + ": both sizes must be even";
  if (g.view.width % 2 || g.view.height % 2) return "--view " + Text(g.view) + ": both sizes must be even";
  // The crops must be able to move apart: at zero they stand at least a column inside the frame.
  if (g.view.width > g.frame.width - 2 || g.view.height > g.frame.height)
    return "--view " + Text(g.view) + " does not fit the " + Text(g.frame) +
           " frame (it must be narrower, to leave the crops room to move apart)";
  if (g.disparities < 16 || g.disparities % 16 != 0)
    return "--disparities " + std::to_string(g.disparities) + ": a multiple of 16, at least 16";
  const cv::Rect window = g.MatchingWindow();
  if (window.x < 0 || g.frame.height < Geometry::kSquare)
    return "the " + Text(g.frame) + " frame is too small for the matching window: " + std::to_string(g.disparities) +
           " disparities and the 160 x 160 square need a frame of at least " +
           std::to_string(2 * (g.disparities + Geometry::kSquare / 2)) + "x" + std::to_string(Geometry::kSquare);
  return {};
}

bool ParseSize(const std::string& text, cv::Size* size) {
  const std::size_t x = text.find_first_of("xX");
  const auto number = [](const std::string& digits, int* value) {
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
      return false;
    *value = std::stoi(digits);
    return *value >= 1 && *value <= 16384;
  };
  int width = 0, height = 0;
  if (x == std::string::npos || !number(text.substr(0, x), &width) || !number(text.substr(x + 1), &height))
    return false;
  *size = {width, height};
  return true;
}

}  // namespace stereo
