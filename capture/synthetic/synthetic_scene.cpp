#include "capture/synthetic/synthetic_scene.h"

#include <cmath>

#include <opencv2/imgproc.hpp>

namespace capture {

namespace {

// Blurred colour noise: enough texture everywhere for block matching, pleasant enough to look at.
cv::Mat Texture(int width, int height, cv::RNG& rng, const cv::Scalar& tint) {
  cv::Mat noise(height, width, CV_8UC3);
  rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
  cv::GaussianBlur(noise, noise, cv::Size(5, 5), 0);
  cv::Mat tinted;
  cv::addWeighted(noise, 0.7, cv::Mat(height, width, CV_8UC3, tint), 0.3, 0, tinted);
  return tinted;
}

}  // namespace

SyntheticScene::SyntheticScene(SceneSettings settings) : settings_(settings) {
  cv::RNG rng(settings_.seed);
  background_ = Texture(settings_.width + settings_.backgroundDisparity, settings_.height, rng, cv::Scalar(90, 60, 30));
  object_ = Texture(settings_.objectSize, settings_.objectSize, rng, cv::Scalar(40, 120, 220));
  // A frame around the object makes its depth easy to see.
  cv::rectangle(object_, cv::Rect(0, 0, object_.cols, object_.rows), cv::Scalar(255, 255, 255), 6);
}

int SyntheticScene::ObjectDisparity(double seconds) const {
  const double phase = std::fmod(std::max(seconds, 0.0), settings_.periodSeconds) / settings_.periodSeconds;
  const double wave = phase < 0.5 ? phase * 2 : 2 - phase * 2;  // 0 → 1 → 0
  return static_cast<int>(
      std::lround(settings_.farDisparity + wave * (settings_.nearDisparity - settings_.farDisparity)));
}

void SyntheticScene::Render(int side, double seconds, cv::Mat* image) const {
  image->create(settings_.height, settings_.width, CV_8UC3);
  // The right camera sees every point `disparity` pixels further left: it looks at the texture
  // `disparity` pixels further right.
  const int bgShift = side == 0 ? 0 : settings_.backgroundDisparity;
  background_(cv::Rect(bgShift, 0, settings_.width, settings_.height)).copyTo(*image);
  const int d = ObjectDisparity(seconds);
  const int size = settings_.objectSize;
  const int left = settings_.width / 2 - size / 2 + (side == 0 ? d / 2 : d / 2 - d);
  const int top = settings_.height / 2 - size / 2;
  object_.copyTo((*image)(cv::Rect(left, top, size, size)));
}

}  // namespace capture
