// The operator's overlay: a few lines of text on a dark box, drawn at the same place in each eye's
// view (zero parallax, so it is comfortable to read whatever the convergence).
#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace display {

// The lines drawn with the image library's own font, light on dark, as a BGRA patch.
cv::Mat RenderOverlay(const std::vector<std::string>& lines);

// Copies the patch into each area of `picture` (BGRA), near the area's top-left corner; an area that
// holds a view of `view` size squeezed gets the patch squeezed alike. Whatever does not fit is cut.
void DrawOverlay(const cv::Mat& patch, cv::Mat& picture, const std::vector<cv::Rect>& areas, cv::Size view);

}  // namespace display
