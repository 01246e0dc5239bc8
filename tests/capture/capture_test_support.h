// Helpers for the capture layer's tests: what a piece of code prints on standard output, and a
// camera of the usual kind.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "capture/capture_manager.h"
#include "testing/fake_cameras.h"

namespace capture_test {

// What `run` prints, with the capture layer's diagnostics switched on or off for it.
inline std::string Printed(const std::function<void()>& run, bool verbose = true) {
  const bool was = capture::verbose;
  capture::verbose = verbose;
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  run();
  std::fflush(stdout);
  capture::verbose = was;
  return testing::internal::GetCapturedStdout();
}

// RGB24 from 8 x 8 to 1280 x 960 in steps of 8; 640 x 480 to begin with.
inline testkit::FakeCamera& AddRgbCamera(testkit::FakeCameras& cameras, std::u16string name = u"Fake Camera") {
  testkit::FakeCamera& camera = cameras.Add(std::move(name));
  camera.capabilities = {testkit::Sizes(capture::MEDIASUBTYPE_RGB24, 8, 8, 1280, 960, 8, 8)};
  return camera;
}

}  // namespace capture_test
