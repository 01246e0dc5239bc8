#include "stereo/mirror.h"

namespace stereo {

namespace {

bool MirrorsColumns(Mirror mirror) { return mirror == Mirror::Horizontal || mirror == Mirror::Both; }
bool MirrorsRows(Mirror mirror) { return mirror == Mirror::Vertical || mirror == Mirror::Both; }

}  // namespace

bool ParseMirror(const std::string& text, Mirror* mirror) {
  if (text == "h") {
    *mirror = Mirror::Horizontal;
  } else if (text == "v") {
    *mirror = Mirror::Vertical;
  } else if (text == "hv" || text == "vh") {
    *mirror = Mirror::Both;
  } else {
    return false;
  }
  return true;
}

cv::Mat Mirrored(const cv::Mat& image, Mirror mirror) {
  if (mirror == Mirror::None || image.empty()) return image;
  cv::Mat flipped;
  cv::flip(image, flipped, mirror == Mirror::Horizontal ? 1 : mirror == Mirror::Vertical ? 0 : -1);
  return flipped;
}

void MirrorMapSource(Mirror mirror, cv::Mat* mapX, cv::Mat* mapY) {
  // Column c of a mirrored frame is column (width - 1 - c) of the frame, and the same for rows; maps
  // and frames have one size. Coordinates outside the frame stay outside, so they stay black.
  // New matrices: the given ones may share their data with maps that must stay as loaded.
  if (MirrorsColumns(mirror)) {
    cv::Mat mirrored = static_cast<float>(mapX->cols - 1) - *mapX;
    *mapX = mirrored;
  }
  if (MirrorsRows(mirror)) {
    cv::Mat mirrored = static_cast<float>(mapY->rows - 1) - *mapY;
    *mapY = mirrored;
  }
}

}  // namespace stereo
