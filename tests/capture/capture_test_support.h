// Helpers for the capture layer's tests: a manager over the scripted cameras, the diagnostic switch,
// and standard output captured for exact comparison.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture/capture_manager.h"
#include "capture/fake/scripted_capture.h"

namespace capture_test {

// Turns the capture layer's messages on for one scope.
class VerboseScope {
 public:
  VerboseScope() : previous_(capture::verbose) { capture::verbose = true; }
  ~VerboseScope() { capture::verbose = previous_; }

 private:
  bool previous_;
};

// Everything printed to standard output between construction and Take().
class StdoutCapture {
 public:
  StdoutCapture() {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
  }
  ~StdoutCapture() {
    if (!taken_) Take();
  }
  std::string Take() {
    std::fflush(stdout);
    taken_ = true;
    return testing::internal::GetCapturedStdout();
  }

 private:
  bool taken_ = false;
};

// A camera of the usual kind: one RGB24 range 8 x 8 .. 1280 x 960 in steps of 8 (and the
// grabber's type straight away), 640 x 480 by default.
inline fake::CameraScript& AddRgbCamera(fake::FakeCameraSystem& system, std::u16string name = u"Fake Camera") {
  fake::CameraScript& camera = system.AddCamera(std::move(name));
  camera.capture.capabilities = {fake::SizeRange(capture::MEDIASUBTYPE_RGB24, 8, 8, 1280, 960, 8, 8)};
  camera.preview.capabilities = camera.capture.capabilities;
  return camera;
}

class CaptureFixture : public testing::Test {
 protected:
  CaptureFixture() : system(std::make_shared<fake::FakeCameraSystem>()) {}

  capture::CaptureManager& Manager() {
    if (!manager)
      manager = std::make_unique<capture::CaptureManager>(std::make_unique<fake::ScriptedCaptureBackend>(system));
    return *manager;
  }

  std::shared_ptr<fake::FakeCameraSystem> system;
  std::unique_ptr<capture::CaptureManager> manager;
};

inline std::string Concat(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& line : lines) all += line;
  return all;
}

}  // namespace capture_test
