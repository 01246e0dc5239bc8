// The figures the operator's overlay shows: rates over the last whole second and the latest latency,
// counted from the records of the frame steps.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "stereo/frame_pipeline.h"

namespace app {

class LiveFigures {
 public:
  // After every frame step that reached the matching (a record of a pass already seen is ignored);
  // its present time is the clock.
  void Update(const stereo::FrameStepRecord& record);

  double stepsPerSecond() const { return stepsPerSecond_; }
  // New frames taken per second from the camera of each side.
  double framesPerSecond(int side) const { return framesPerSecond_[side]; }
  // From the arrival to the end of the present of the side's last new frame; negative before one.
  double latencyMs(int side) const { return latencyMs_[side]; }

  // The overlay's lines for the last record and the operator's settings; `budget` when the parallax
  // budget is kept (the shown depth gets a line then).
  std::vector<std::string> Lines(const stereo::FrameStepRecord& record, int nudge, bool locked, bool swapped,
                                 const stereo::ParallaxBudget* budget = nullptr) const;

 private:
  long lastPass_ = 0;
  std::chrono::steady_clock::time_point windowStart_;
  long steps_ = 0, frames_[2] = {0, 0};
  double stepsPerSecond_ = 0.0, framesPerSecond_[2] = {0.0, 0.0};
  double latencyMs_[2] = {-1.0, -1.0};
};

}  // namespace app
