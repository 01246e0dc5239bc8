// Virtual cameras behind the capture graph: each renders frames from its own streaming thread at a
// fixed rate and size, in RGB24 as the sample grabber takes them. The demo's synthetic cameras and
// the --camera-files cameras are both virtual cameras.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "capture/device_backend.h"

namespace capture {

struct VirtualCamera {
  std::string name;
  int width = 1024, height = 768;
  double framesPerSecond = 30.0;
  // Frame n comes `phaseSeconds` + n periods after `epoch` (unset: when the stream starts), late by up
  // to `jitterSeconds` (uniformly, from a generator seeded with `seed`): cameras given one epoch are in
  // step, or out of step by their phases. A stream that starts after its epoch delivers the frame
  // under way at once, then keeps to the grid.
  std::chrono::steady_clock::time_point epoch;
  double phaseSeconds = 0.0, jitterSeconds = 0.0;
  unsigned seed = 1;
  // Renders frame number `frameIndex` as a top-down BGR image of width x height. Runs on the camera's
  // streaming thread; must be safe to call from there.
  std::function<void(long frameIndex, cv::Mat* image)> render;
};

std::unique_ptr<DeviceBackend> MakeVirtualCameraBackend(std::vector<VirtualCamera> cameras);

class SyntheticScene;

// The demo's two cameras (left and right) looking at one synthetic scene.
std::unique_ptr<DeviceBackend> MakeSyntheticBackend(const std::shared_ptr<const SyntheticScene>& scene);

// Two image files (shown as still cameras) or video files (played in a loop) as cameras 0 and 1.
// Null with a one-line `error` when a file cannot be read or its frames are not of the `frame` size.
std::unique_ptr<DeviceBackend> MakeFileBackend(const std::string& left, const std::string& right, cv::Size frame,
                                               std::string* error);

}  // namespace capture
