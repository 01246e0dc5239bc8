#include "tests/support/stereo_rig.h"

#include <opencv2/imgproc.hpp>

#include "stereo/dominant_disparity.h"
#include "stereo/frame_step.h"

namespace testing_support {

StereoRig::StereoRig(cv::Size camera1, cv::Size camera2) {
  for (cv::Size size : {camera1, camera2}) {
    testkit::FakeCamera& camera = cameras->Add(u"Rig camera");
    camera.current = {capture::MEDIASUBTYPE_RGB24, size.width, size.height};
    camera.capabilities = {testkit::Sizes(capture::MEDIASUBTYPE_RGB24, size.width, size.height)};
  }
  viewer =
      std::make_unique<app::StereoViewer>(harness.MakePlatform(cameras->Backend()), ViewerHarness::IdentityConfig());
  viewer->Init();
}

StereoRig::~StereoRig() { viewer.reset(); }

bool StereoRig::Deliver(int index, const cv::Mat& topDownBgr) {
  cv::Mat bottomUp;
  cv::flip(topDownBgr, bottomUp, 0);
  return cameras->Push(index, std::vector<std::uint8_t>(bottomUp.datastart, bottomUp.dataend));
}

void SetMaps(app::StereoViewer& viewer, int side, const cv::Mat& mapX, const cv::Mat& mapY) {
  cv::Mat& xy = side == 0 ? viewer.mapXY1 : viewer.mapXY2;
  cv::Mat& alpha = side == 0 ? viewer.mapAlpha1 : viewer.mapAlpha2;
  cv::convertMaps(mapX, mapY, xy, alpha, CV_16SC2);
}

void WarpMaps(double degrees, double scale, cv::Mat* mapX, cv::Mat* mapY) {
  const cv::Mat rotation = cv::getRotationMatrix2D(cv::Point2f(512, 384), degrees, scale);
  mapX->create(768, 1024, CV_32FC1);
  mapY->create(768, 1024, CV_32FC1);
  for (int r = 0; r < 768; ++r)
    for (int c = 0; c < 1024; ++c) {
      mapX->at<float>(r, c) =
          static_cast<float>(rotation.at<double>(0, 0) * c + rotation.at<double>(0, 1) * r + rotation.at<double>(0, 2));
      mapY->at<float>(r, c) =
          static_cast<float>(rotation.at<double>(1, 0) * c + rotation.at<double>(1, 1) * r + rotation.at<double>(1, 2));
    }
}

int ReferenceFrameStep(app::StereoViewer& viewer, stereo::FollowerState& follower, cv::Mat views[2]) {
  cv::Mat* frames[2] = {&viewer.frame1, &viewer.frame2};
  const cv::Mat* xy[2] = {&viewer.mapXY1, &viewer.mapXY2};
  const cv::Mat* alpha[2] = {&viewer.mapAlpha1, &viewer.mapAlpha2};
  const int cameraIds[2] = {viewer.cameraId1, viewer.cameraId2};
  for (int side = 0; side < 2; ++side) {
    if (!viewer.capture.HasNewFrame(cameraIds[side])) continue;
    if (!viewer.capture.GetPixels(cameraIds[side], frames[side]->data, false, true)) continue;
    cv::Mat scratch(frames[side]->size(), CV_8UC3);
    cv::remap(*frames[side], scratch, *xy[side], *alpha[side], cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
    scratch.copyTo(*frames[side]);
  }
  cv::Ptr<cv::StereoBM> matcher = stereo::CreateViewerMatcher();
  const int n = matcher->getNumDisparities();
  const cv::Rect window(432 - n, 304, n + 160, 160);
  cv::Mat disparity(160, n + 160, CV_16SC1), left(160, n + 160, CV_8UC1), right(160, n + 160, CV_8UC1);
  cv::cvtColor(viewer.frame1(window), left, cv::COLOR_BGR2GRAY);
  cv::cvtColor(viewer.frame2(window), right, cv::COLOR_BGR2GRAY);
  matcher->compute(left, right, disparity);
  int d = stereo::DominantDisparity(disparity, n);
  if (d > 222) d = 222;
  int v = stereo::ConvergenceFollower(follower, d);
  if (v < 1) v = 1;
  const int h = v / 2;
  const cv::Rect crops[2] = {cv::Rect(112 + h, 84, 800, 600), cv::Rect(112 - h, 84, 800, 600)};
  for (int side = 0; side < 2; ++side) {
    cv::Mat composition(600, 832, CV_8UC3, cv::Scalar::all(0));
    (*frames[side])(crops[side]).copyTo(composition(cv::Rect(0, 0, 800, 600)));
    cv::Mat staging;
    cv::cvtColor(composition, staging, cv::COLOR_BGR2BGRA);
    staging(cv::Rect(0, 0, 800, 600)).copyTo(views[side]);
  }
  return v;
}

void TexturedPair(int shift, cv::Mat* left, cv::Mat* right, unsigned seed) {
  cv::Mat noise(768, 1024 + shift, CV_8UC3);
  cv::RNG rng(seed);
  rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
  cv::GaussianBlur(noise, noise, cv::Size(3, 3), 0);
  noise(cv::Rect(0, 0, 1024, 768)).copyTo(*left);
  noise(cv::Rect(shift, 0, 1024, 768)).copyTo(*right);
}

}  // namespace testing_support
