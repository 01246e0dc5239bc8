// The operator's overlay: a few lines of text on a dark box, drawn at the same place in each eye's
// view (zero parallax, so it is comfortable to read whatever the convergence).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace display {

// Where the shown points lie against a parallax budget, in per cent of the view width (negative in
// front of the screen).
struct DepthBar {
  double nearPct = 0, farPct = 0;                      // the nearest and farthest shown points
  double inFrontPct = 1, behindPct = 2, totalPct = 3;  // the budget's limits (magnitudes)
};

// The lines drawn with the image library's own font, light on dark, as a BGRA patch; with a depth
// bar below them: the budget as a lighter band with the screen plane marked, and the shown range on
// it, green while it keeps the budget and red when it does not.
cv::Mat RenderOverlay(const std::vector<std::string>& lines, const std::optional<DepthBar>& bar = std::nullopt);

// Copies the patch into each area of `picture` (BGRA), near the area's top-left corner; an area that
// holds a view of `view` size squeezed gets the patch squeezed alike. Whatever does not fit is cut.
void DrawOverlay(const cv::Mat& patch, cv::Mat& picture, const std::vector<cv::Rect>& areas, cv::Size view);

}  // namespace display
