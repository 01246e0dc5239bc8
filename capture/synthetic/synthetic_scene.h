// Stereo scenes with known disparities for the synthetic cameras: a textured background far away
// and objects in front of it, each with its own surface, size, and position and disparity over
// time. The demo's scene and the scripted scenes of the convergence report are named scenes.
#pragma once

#include <limits>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace capture {

// Where an object is at a moment: its centre (as seen halfway between the cameras) and disparity.
struct Keyframe {
  double seconds = 0;
  int x = 0, y = 0;
  int disparity = 0;
};

struct SceneObject {
  cv::Size size;
  cv::Scalar tint;
  bool textured = true;  // false: one flat colour that block matching cannot match (a blank wall)
  bool framed = false;   // a white frame around it, which makes its depth easy to see
  // Linear from keyframe to keyframe, held before the first and after the last. With `loopSeconds`
  // above zero the path repeats with that period.
  std::vector<Keyframe> path;
  double loopSeconds = 0;
  // Seen only from `from` (inclusive) until `until` (exclusive) seconds.
  double from = -std::numeric_limits<double>::infinity();
  double until = std::numeric_limits<double>::infinity();
};

struct SceneScript {
  std::string name;
  int width = 1024, height = 768;
  int backgroundDisparity = 12;
  cv::Scalar backgroundTint{90, 60, 30};
  std::vector<SceneObject> objects;
  double seconds = 12;  // how long the scene takes to show what it shows
  unsigned seed = 1234;
};

// The nearest (largest) and farthest (smallest) disparity of what a region shows.
struct DisparityRange {
  int nearest = 0, farthest = 0;
};

// The script for frames of another size: positions and object sizes follow the frame, so what stood
// at the centre still does; disparities stay as they are (they are what the matching sees).
SceneScript FittedTo(SceneScript script, cv::Size frame);

// The names of the scenes, the demo's ("demo") first.
const std::vector<std::string>& SceneNames();
// The scene of that name; an empty name is the demo's. False for a name that is not one of them.
bool NamedScene(const std::string& name, SceneScript* script);

class SyntheticScene {
 public:
  explicit SyntheticScene(SceneScript script = DemoScript());

  // The disparity at the centre of the frame at a time since the scene started: the nearest object
  // there, or the background.
  int CentreDisparity(double seconds) const;
  // The disparity range of the surfaces that cover at least `minShare` of `region` of the left view.
  DisparityRange TrueRange(double seconds, const cv::Rect& region, double minShare) const;

  // Renders one camera's view (side 0: left, side 1: right, where every point sits its disparity
  // further left) as a top-down BGR image into `image` (created when needed).
  void Render(int side, double seconds, cv::Mat* image) const;

  const SceneScript& script() const { return script_; }
  static SceneScript DemoScript();

 private:
  struct Placed {
    int layer;  // 0 is the background, i + 1 the script's object i
    cv::Rect left;
    int disparity;
  };
  // The objects seen at that time, farthest first, so that nearer ones are drawn over them.
  std::vector<Placed> Place(double seconds) const;
  // The index of the layer each left-view pixel shows, as CV_8UC1.
  cv::Mat Layers(double seconds) const;

  SceneScript script_;
  cv::Mat background_;  // wider than a frame by the background disparity
  std::vector<cv::Mat> looks_;
};

}  // namespace capture
