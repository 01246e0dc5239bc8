#include "testing/stereo_rig.h"

#include <opencv2/imgproc.hpp>

#include "stereo/dominant_disparity.h"

namespace testkit {

StereoRig::StereoRig(cv::Size camera1, cv::Size camera2) {
  for (cv::Size size : {camera1, camera2}) {
    testkit::FakeCamera& camera = cameras->Add(u"Rig camera");
    camera.current = {capture::MEDIASUBTYPE_RGB24, size.width, size.height};
    camera.capabilities = {testkit::Sizes(capture::MEDIASUBTYPE_RGB24, size.width, size.height)};
  }
  capture = std::make_unique<capture::CaptureManager>(cameras->Backend());
  for (int device = 0; device < 2; ++device) capture->OpenDevice(device, 1024, 768);
}

bool StereoRig::Deliver(int index, const cv::Mat& topDownBgr) {
  cv::Mat bottomUp;
  cv::flip(topDownBgr, bottomUp, 0);
  return DeliverSample(index, std::vector<std::uint8_t>(bottomUp.datastart, bottomUp.dataend));
}

bool StereoRig::DeliverSample(int index, const std::vector<std::uint8_t>& bottomUpBgr) {
  return cameras->Push(index, bottomUpBgr);
}

cv::Ptr<cv::StereoBM> DocumentedMatcher() {
  cv::Ptr<cv::StereoBM> matcher = cv::StereoBM::create();
  matcher->setPreFilterType(cv::StereoBM::PREFILTER_NORMALIZED_RESPONSE);
  matcher->setPreFilterSize(41);
  matcher->setPreFilterCap(31);
  matcher->setBlockSize(21);
  matcher->setMinDisparity(0);
  matcher->setNumDisparities(192);
  matcher->setTextureThreshold(10);
  matcher->setUniquenessRatio(15);
  matcher->setSpeckleWindowSize(0);
  matcher->setSpeckleRange(0);
  return matcher;
}

ReferencePass::ReferencePass() {
  cv::Mat mapX, mapY;
  WarpMaps(0, 1, &mapX, &mapY);
  for (int side = 0; side < 2; ++side) {
    SetMaps(side, mapX, mapY);
    frames[side] = cv::Mat(768, 1024, CV_8UC3, cv::Scalar::all(0));
  }
}

void ReferencePass::SetMaps(int side, const cv::Mat& mapX, const cv::Mat& mapY) {
  cv::convertMaps(mapX, mapY, xy[side], alpha[side], CV_16SC2);
}

int ReferencePass::Run(capture::CaptureManager& capture, cv::Mat views[2]) {
  for (int side = 0; side < 2; ++side) {
    if (!capture.HasNewFrame(side) || !capture.GetPixels(side, frames[side].data, false, true)) continue;
    scratch.create(frames[side].size(), CV_8UC3);
    cv::remap(frames[side], scratch, xy[side], alpha[side], cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
    scratch.copyTo(frames[side]);
  }
  const int n = matcher->getNumDisparities();
  const cv::Rect window(432 - n, 304, n + 160, 160);
  cv::Mat disparity, left, right;
  cv::cvtColor(frames[0](window), left, cv::COLOR_BGR2GRAY);
  cv::cvtColor(frames[1](window), right, cv::COLOR_BGR2GRAY);
  matcher->compute(left, right, disparity);
  dominant = std::min(stereo::DominantDisparity(disparity, n), 222);
  const int v = std::max(stereo::ConvergenceFollower(follower, dominant), 1);
  const int h = v / 2;
  views[0] = frames[0](cv::Rect(112 + h, 84, 800, 600));
  views[1] = frames[1](cv::Rect(112 - h, 84, 800, 600));
  return v;
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

void TexturedPair(int shift, cv::Mat* left, cv::Mat* right, unsigned seed, cv::Size size) {
  cv::Mat noise(size.height, size.width + shift, CV_8UC3);
  cv::RNG rng(seed);
  rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
  cv::GaussianBlur(noise, noise, cv::Size(3, 3), 0);
  noise(cv::Rect(cv::Point(0, 0), size)).copyTo(*left);
  noise(cv::Rect(cv::Point(shift, 0), size)).copyTo(*right);
}

}  // namespace testkit
