// A stereo scene with known disparities: a textured background far away and a textured object in
// the middle of the view that moves in depth. Both cameras of the demo render it.
#pragma once

#include <opencv2/core.hpp>

namespace capture {

struct SceneSettings {
  int width = 1024, height = 768;
  int backgroundDisparity = 12;
  int nearDisparity = 150, farDisparity = 30;  // the object's disparity sweeps between these
  double periodSeconds = 12.0;                 // one sweep there and back
  int objectSize = 360;                        // square, centred: covers the matching square
  unsigned seed = 1234;
};

class SyntheticScene {
 public:
  explicit SyntheticScene(SceneSettings settings = {});

  // The object's disparity at a time since the scene started (a triangle wave, whole pixels).
  int ObjectDisparity(double seconds) const;

  // Renders one camera's view (side 0: left, side 1: right, where every point sits `disparity` pixels
  // further left) as a top-down BGR image into `image` (created when needed).
  void Render(int side, double seconds, cv::Mat* image) const;

  const SceneSettings& settings() const { return settings_; }

 private:
  SceneSettings settings_;
  cv::Mat background_;  // wider than a frame by the background disparity
  cv::Mat object_;
};

}  // namespace capture
