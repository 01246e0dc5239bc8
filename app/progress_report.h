// One line per second on standard output while the viewer runs without a window: what the scene
// holds (when known), what the matching found, where the follower is, and how fast passes go.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>

#include "stereo/frame_pipeline.h"

namespace app {

class ProgressReport {
 public:
  // `trueDisparity` gives the disparity the scene really has now (null when unknown).
  explicit ProgressReport(std::function<int()> trueDisparity, std::FILE* out = stdout);

  // Called after every frame step; prints when a second has passed since the last line.
  void Update(const stereo::FrameStepRecord& record);
  // The line for a record and a rate, as printed.
  std::string Line(const stereo::FrameStepRecord& record, double stepsPerSecond) const;

 private:
  std::function<int()> trueDisparity_;
  std::FILE* out_;
  std::chrono::steady_clock::time_point lineStart_;
  long stepsSinceLine_ = 0;
};

}  // namespace app
