// Two fake cameras at 1024 x 768 RGB24, both opened by a capture manager, and the
// straightforward pass the frame pipeline must agree with.
#pragma once

#include <memory>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "capture/capture_manager.h"
#include "stereo/convergence_follower.h"
#include "testing/fake_cameras.h"

namespace testkit {

struct StereoRig {
  // Cameras of the given sizes (1024 x 768 unless said otherwise), opened as devices 0 and 1.
  explicit StereoRig(cv::Size camera1 = {1024, 768}, cv::Size camera2 = {1024, 768});

  // Delivers a top-down BGR image as camera `index`'s next sample (bottom row first, as grabbed).
  bool Deliver(int index, const cv::Mat& topDownBgr);
  // Delivers a sample as the grabber hands it over.
  bool DeliverSample(int index, const std::vector<std::uint8_t>& bottomUpBgr);

  std::shared_ptr<testkit::FakeCameras> cameras = std::make_shared<testkit::FakeCameras>();
  std::unique_ptr<capture::CaptureManager> capture;
};

// The viewer's matcher as its documentation gives it, each setting made on a fresh matcher.
cv::Ptr<cv::StereoBM> DocumentedMatcher();

// One pass done the obvious way: whole frames remapped into a scratch image and copied back, grey
// windows, the documented matcher, the histogram, the follower, the crops. Starts with identity maps
// and black frames. The frame_step benchmark measures the viewer's pass against it.
struct ReferencePass {
  ReferencePass();
  void SetMaps(int side, const cv::Mat& mapX, const cv::Mat& mapY);
  // Takes the waiting frames from `capture`, runs the pass and returns the follower value after the
  // floor; `views` get the two 800 x 600 BGR crops.
  int Run(capture::CaptureManager& capture, cv::Mat views[2]);

  cv::Mat frames[2], xy[2], alpha[2], scratch;
  cv::Ptr<cv::StereoBM> matcher = DocumentedMatcher();
  stereo::FollowerState follower;
  int dominant = 0;  // of the last pass, after the bound
};

// A gentle warp (small rotation and scale about the centre) as float maps of the frame size.
void WarpMaps(double degrees, double scale, cv::Mat* mapX, cv::Mat* mapY);

// A textured scene whose right image is the left one moved left by `shift` pixels.
void TexturedPair(int shift, cv::Mat* left, cv::Mat* right, unsigned seed = 7, cv::Size size = {1024, 768});

}  // namespace testkit
