// One pass of the viewer's pipeline: device checks, new frames, matching, convergence, present.
#include "stereo/frame_step.h"

#include <cstdio>

#include <opencv2/imgproc.hpp>

#include "app/stereo_viewer.h"
#include "stereo/convergence_follower.h"
#include "stereo/dominant_disparity.h"
#include "stereo/rectification_maps.h"

namespace stereo {

cv::Ptr<cv::StereoBM> CreateViewerMatcher() {
  cv::Ptr<cv::StereoBM> matcher = cv::StereoBM::create(0, 21);
  // The basic preset's choices: normalised-response prefilter, no speckle filtering.
  matcher->setPreFilterType(cv::StereoBM::PREFILTER_NORMALIZED_RESPONSE);
  matcher->setSpeckleWindowSize(0);
  matcher->setSpeckleRange(0);
  matcher->setPreFilterSize(41);
  matcher->setPreFilterCap(31);
  matcher->setBlockSize(21);
  matcher->setMinDisparity(0);
  matcher->setNumDisparities(192);
  matcher->setTextureThreshold(10);
  matcher->setUniquenessRatio(15);
  return matcher;
}

FrameStepWorkspace::FrameStepWorkspace() : matcher(CreateViewerMatcher()) {
  const int n = matcher->getNumDisparities();
  for (int side = 0; side < 2; ++side) {
    raw[side].create(kFrameHeight, kFrameWidth, CV_8UC3);
    grey[side].create(kMatchingHeight, n + 160, CV_8UC1);
  }
  disparity.create(kMatchingHeight, n + 160, CV_16SC1);
}

}  // namespace stereo

namespace app {

namespace {

// True when the pass goes on; a lost device ends it, one that can be reset resets both.
bool DeviceReady(StereoViewer& viewer, display::Device& device) {
  const display::HRESULT level = device.TestCooperativeLevel();
  if (level == display::D3DERR_DEVICELOST) return false;
  if (level == display::D3DERR_DEVICENOTRESET) {
    viewer.ResetDisplays();
    return false;
  }
  return true;
}

// The part of a frame that is ever shown or matched: the rows of the crops (which contain the
// matching rows) and the columns any crop position can reach on that side. Pixels outside it are
// never read, so rectifying them would be wasted work.
cv::Rect UsedRegion(int side) {
  const int maxShift = stereo::kDisparityBound / 2;
  const int left = side == 0 ? stereo::kCropCentreX : stereo::kCropCentreX - maxShift;
  const int right =
      side == 0 ? stereo::kCropCentreX + maxShift + stereo::kViewWidth : stereo::kCropCentreX + stereo::kViewWidth;
  return cv::Rect(left, stereo::kCropY, right - left, stereo::kViewHeight);
}

}  // namespace

// Takes the waiting frame of one side, if any, and rectifies it into the side's frame image.
// Returns true when a new frame was rectified.
bool StereoViewer::TakeFrame(int side) {
  const int camera = side == 0 ? cameraId1 : cameraId2;
  if (!capture.HasNewFrame(camera)) return false;
  stereo::FrameStepWorkspace& ws = *workspace;
  int width = 0, height = 0;
  if (capture.GetFrameSize(camera, &width, &height) &&
      (width != stereo::kFrameWidth || height != stereo::kFrameHeight)) {
    // A frame of another size would not fit the frame image: drop it, and say so once.
    if (ws.reportedSize[side] != cv::Size(width, height)) {
      std::fprintf(stderr, "device %d delivers %d by %d, expected %d by %d\n", camera, width, height,
                   stereo::kFrameWidth, stereo::kFrameHeight);
      ws.reportedSize[side] = cv::Size(width, height);
    }
    capture.DiscardFrame(camera);
    return false;
  }
  if (!capture.GetPixels(camera, ws.raw[side].data, false, true)) return false;
  const cv::Rect region = UsedRegion(side);
  cv::Mat& frame = side == 0 ? frame1 : frame2;
  const cv::Mat& xy = side == 0 ? mapXY1 : mapXY2;
  const cv::Mat& alpha = side == 0 ? mapAlpha1 : mapAlpha2;
  cv::Mat target = frame(region);
  cv::remap(ws.raw[side], target, xy(region), alpha(region), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
  lastStep.arrival[side] = capture.LastFrameArrival(camera);
  return true;
}

void StereoViewer::FrameStep() {
  if (!workspace) workspace = std::make_unique<stereo::FrameStepWorkspace>();
  stereo::FrameStepWorkspace& ws = *workspace;

  if (!DeviceReady(*this, *device1)) return;
  const bool new1 = TakeFrame(0);
  if (dualDisplay && !DeviceReady(*this, *device2)) return;
  const bool new2 = dualDisplay && TakeFrame(1);

  const int n = ws.matcher->getNumDisparities();
  const cv::Rect matching(stereo::kSquareRight - n, stereo::kMatchingY, n + 160, stereo::kMatchingHeight);
  cv::cvtColor(frame1(matching), ws.grey[0], cv::COLOR_BGR2GRAY);
  cv::cvtColor(frame2(matching), ws.grey[1], cv::COLOR_BGR2GRAY);
  ws.matcher->compute(ws.grey[0], ws.grey[1], ws.disparity);

  int d = stereo::DominantDisparity(ws.disparity, n);
  if (d > stereo::kDisparityBound) d = stereo::kDisparityBound;
  int v = stereo::ConvergenceFollower(d);
  if (v < stereo::kFollowerFloor) v = stereo::kFollowerFloor;
  cropWindow1 = cv::Rect(stereo::CropX1(v), stereo::kCropY, stereo::kViewWidth, stereo::kViewHeight);
  cropWindow2 = cv::Rect(stereo::CropX2(v), stereo::kCropY, stereo::kViewWidth, stereo::kViewHeight);

  lastStep.passes++;
  lastStep.newFrame[0] = new1;
  lastStep.newFrame[1] = new2;
  lastStep.dominant = d;
  lastStep.follower = v;
  lastStep.cropX[0] = cropWindow1.x;
  lastStep.cropX[1] = cropWindow2.x;

  PresentViews();
  lastStep.presented = std::chrono::steady_clock::now();
}

}  // namespace app
