// Keeps a rig's two cameras going while the viewer runs: a camera that goes away (unplugged) is
// closed and opened again when it comes back, known by its stable path; and, when asked, once the
// left camera's automatic exposure and white balance have settled, both cameras are switched to
// manual with the left camera's values. Each event is one line on standard error. Main thread only.
#pragma once

#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "capture/capture_manager.h"

namespace capture {

// Reads the left camera's exposure, gain, white balance and focus and sets both cameras to them by
// hand, each value clamped to the camera's range. Returns one line per event: a control a camera
// lacks (skipped), a value clamped or refused, and the values matched. `set` gets what was set on
// each camera (left, right).
std::vector<std::string> MatchControls(CaptureManager& capture, int left, int right,
                                       std::array<std::vector<Control>, 2>* set);

class CameraWatch {
 public:
  // How long automatic exposure and white balance are given to settle before the match.
  static constexpr std::chrono::seconds kSettle{3};
  // How often a camera that went away is looked for.
  static constexpr std::chrono::milliseconds kLookEvery{500};

  CameraWatch(CaptureManager& capture, std::array<int, 2> cameras, int width, int height, bool matchControls)
      : capture_(capture), cameras_(cameras), width_(width), height_(height), matchControls_(matchControls) {}

  // The cameras have been opened: remembers which devices they are and starts the settling time.
  void Begin(std::chrono::steady_clock::time_point now);
  // Once per pass: closes a camera that went away, reopens one that came back, matches the controls
  // when their time has come.
  void Check(std::chrono::steady_clock::time_point now);

 private:
  struct Side {
    DeviceEntry entry;  // empty when the camera never opened
    bool gone = false;
    std::chrono::steady_clock::time_point lookedAt;
  };
  // "camera 0 (/dev/v4l/by-id/...)".
  std::string Name(int side) const;

  CaptureManager& capture_;
  const std::array<int, 2> cameras_;
  const int width_, height_;
  bool matchControls_;
  std::chrono::steady_clock::time_point matchAt_;
  std::array<std::vector<Control>, 2> matched_;  // what was set on each side's camera, again when it comes back
  Side sides_[2];
};

}  // namespace capture
