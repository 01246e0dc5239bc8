// Two fake cameras at 1024 x 768 RGB24 behind a viewer on the fake displays, and the
// straightforward pipeline the frame step must agree with.
#pragma once

#include <memory>

#include <opencv2/core.hpp>

#include "stereo/convergence_follower.h"
#include "testing/fake_cameras.h"
#include "tests/support/viewer_harness.h"

namespace testing_support {

struct StereoRig {
  // Cameras of the given sizes (1024 x 768 unless said otherwise); the viewer is initialised.
  explicit StereoRig(cv::Size camera1 = {1024, 768}, cv::Size camera2 = {1024, 768});
  ~StereoRig();

  // Delivers a top-down BGR image as camera `index`'s next sample (bottom row first, as grabbed).
  bool Deliver(int index, const cv::Mat& topDownBgr);

  ViewerHarness harness;
  std::shared_ptr<testkit::FakeCameras> cameras = std::make_shared<testkit::FakeCameras>();
  std::unique_ptr<app::StereoViewer> viewer;
};

// Replaces a viewer's side maps with the conversion of the given float maps.
void SetMaps(app::StereoViewer& viewer, int side, const cv::Mat& mapX, const cv::Mat& mapY);

// A gentle warp (small rotation and scale about the centre) as float maps of the frame size.
void WarpMaps(double degrees, double scale, cv::Mat* mapX, cv::Mat* mapY);

// One pass done the obvious way on the viewer's fields: allocate, remap whole frames into scratch
// images and copy back, grey conversion, a freshly configured matcher, the histogram, the follower
// (on `follower`), and both compositions through 832 x 600 images into `views` (800 x 600 BGRA each).
// Device checks are left out. Returns the follower value after the floor.
int ReferenceFrameStep(app::StereoViewer& viewer, stereo::FollowerState& follower, cv::Mat views[2]);

// A textured scene whose right image is the left one moved left by `shift` pixels.
void TexturedPair(int shift, cv::Mat* left, cv::Mat* right, unsigned seed = 7);

}  // namespace testing_support
