#include "display/overlay.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>

namespace display {

namespace {

constexpr int kFont = cv::FONT_HERSHEY_SIMPLEX;
constexpr double kFontScale = 0.5;
constexpr int kThickness = 1;
constexpr int kPadding = 6;      // inside the box, around the text
constexpr int kLineSpacing = 6;  // between lines
constexpr int kMargin = 16;      // from the view's top-left corner to the box

}  // namespace

cv::Mat RenderOverlay(const std::vector<std::string>& lines) {
  int width = 0, lineHeight = 0;
  for (const std::string& line : lines) {
    int baseline = 0;
    const cv::Size size = cv::getTextSize(line, kFont, kFontScale, kThickness, &baseline);
    width = std::max(width, size.width);
    lineHeight = std::max(lineHeight, size.height + baseline);
  }
  const int rows = static_cast<int>(lines.size());
  cv::Mat patch(2 * kPadding + rows * lineHeight + std::max(rows - 1, 0) * kLineSpacing, 2 * kPadding + width, CV_8UC4,
                cv::Scalar(32, 32, 32, 255));
  for (int i = 0; i < rows; ++i) {
    const cv::Point origin(kPadding, kPadding + i * (lineHeight + kLineSpacing) + lineHeight * 3 / 4);
    cv::putText(patch, lines[i], origin, kFont, kFontScale, cv::Scalar(255, 255, 255, 255), kThickness, cv::LINE_AA);
  }
  return patch;
}

void DrawOverlay(const cv::Mat& patch, cv::Mat& picture, const std::vector<cv::Rect>& areas, cv::Size view) {
  if (patch.empty() || view.width <= 0 || view.height <= 0) return;
  cv::Mat scaled;
  for (const cv::Rect& area : areas) {
    const double sx = static_cast<double>(area.width) / view.width, sy = static_cast<double>(area.height) / view.height;
    const cv::Mat* source = &patch;
    if (sx != 1.0 || sy != 1.0) {
      if (scaled.empty()) cv::resize(patch, scaled, cv::Size(), sx, sy, cv::INTER_AREA);
      source = &scaled;
    }
    const cv::Point at(area.x + static_cast<int>(kMargin * sx), area.y + static_cast<int>(kMargin * sy));
    const cv::Rect placed = cv::Rect(at, source->size()) & area & cv::Rect(0, 0, picture.cols, picture.rows);
    if (placed.empty()) continue;
    (*source)(cv::Rect(0, 0, placed.width, placed.height)).copyTo(picture(placed));
  }
}

}  // namespace display
