// Faults injected end to end through the fakes, with the whole viewer running in app::WinMain: the
// display lost and back, a back buffer that cannot be had, and every kind of bad map file. (The
// camera faults are in tests/capture/camera_faults_test.cpp.)
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "stereo/convergence_follower.h"
#include "stereo/rectification_maps.h"
#include "tests/support/viewer_harness.h"

namespace {

using testing_support::TempDir;
using testing_support::ViewerHarness;
using namespace std::chrono_literals;

constexpr int kWidth = stereo::kFrameWidth;
constexpr int kHeight = stereo::kFrameHeight;

void Escape(app::StereoViewer& viewer) {
  viewer.WindowProc({app::WindowMessage::Kind::KeyDown, app::kVirtualKeyEscape});
}

class FaultInjection : public testing::Test {
 protected:
  void SetUp() override { stereo::ResetConvergenceFollower(); }
  void TearDown() override { stereo::ResetConvergenceFollower(); }

  ViewerHarness h;
};

// ---- displays ----

// A textured pair whose right image is the left one moved `disparity` pixels left.
void TexturedPair(int disparity, cv::Mat* left, cv::Mat* right) {
  cv::Mat noise(kHeight, kWidth + disparity, CV_8UC3);
  cv::RNG rng(11);
  rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
  cv::GaussianBlur(noise, noise, cv::Size(3, 3), 0);
  noise(cv::Rect(0, 0, kWidth, kHeight)).copyTo(*left);
  noise(cv::Rect(disparity, 0, kWidth, kHeight)).copyTo(*right);
}

TEST_F(FaultInjection, DisplayLostAndBackResetsBothDevicesOnceAndTheFollowerGoesOnWhereItWas) {
  // Side 1's display is lost for passes 20..24 (switched away), then can be reset.
  fake::DeviceScript& side1 = h.display->adapters[1];
  for (int pass = 0; pass < 20; ++pass) side1.cooperativeLevels.push_back(display::D3D_OK);
  for (int pass = 0; pass < 5; ++pass) side1.cooperativeLevels.push_back(display::D3DERR_DEVICELOST);
  side1.cooperativeLevels.push_back(display::D3DERR_DEVICENOTRESET);

  std::vector<int> followerByMatchingPass;
  stereo::FollowerState beforeLoss, atReset;
  long pass = 0, matchingBefore = -1, matchingAtReset = -1;
  const int code = app::WinMain(h.MakePlatform(), ViewerHarness::IdentityConfig(), [&](app::StereoViewer& viewer) {
    ++pass;
    if (pass == 1) TexturedPair(48, &viewer.frame1, &viewer.frame2);
    if (static_cast<long>(followerByMatchingPass.size()) < viewer.lastStep.passes)
      followerByMatchingPass.push_back(viewer.lastStep.follower);
    if (pass == 20) {
      beforeLoss = stereo::ConvergenceFollowerState();
      matchingBefore = viewer.lastStep.passes;
    }
    if (pass == 26) {
      atReset = stereo::ConvergenceFollowerState();
      matchingAtReset = viewer.lastStep.passes;
    }
    if (pass == 45) Escape(viewer);
  });
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(h.window->boxes.empty());
  for (int adapter : {0, 1}) {
    EXPECT_EQ(h.display->adapters[adapter].resets, 1) << adapter;
    ASSERT_EQ(h.display->adapters[adapter].resetTimes.size(), 1u);
  }
  EXPECT_GE(h.display->adapters[0].resetTimes[0] - h.display->adapters[1].resetTimes[0], 100ms);
  // Nothing was matched while the display was away or being reset, and the follower did not move.
  EXPECT_EQ(matchingAtReset, matchingBefore);
  EXPECT_EQ(atReset.followerValue, beforeLoss.followerValue);
  EXPECT_EQ(atReset.followerSteps, beforeLoss.followerSteps);
  EXPECT_EQ(atReset.followerAnchor, beforeLoss.followerAnchor);
  EXPECT_EQ(atReset.followerDirection, beforeLoss.followerDirection);
  // And it goes on as if nothing had happened: the same values as a run without the loss.
  stereo::ResetConvergenceFollower();
  ViewerHarness calm;
  std::vector<int> calmFollower;
  long calmPass = 0;
  app::WinMain(calm.MakePlatform(), ViewerHarness::IdentityConfig(), [&](app::StereoViewer& viewer) {
    if (++calmPass == 1) TexturedPair(48, &viewer.frame1, &viewer.frame2);
    if (static_cast<long>(calmFollower.size()) < viewer.lastStep.passes)
      calmFollower.push_back(viewer.lastStep.follower);
    if (static_cast<std::size_t>(calmPass) == followerByMatchingPass.size()) Escape(viewer);
  });
  EXPECT_EQ(followerByMatchingPass, calmFollower);
  EXPECT_GT(followerByMatchingPass.back(), 24) << "the follower was meant to be on its way to 48";
}

TEST_F(FaultInjection, ABackBufferThatCannotBeHadEndsTheRunWithItsBox) {
  h.display->adapters[0].getBackBufferResults = {display::D3D_OK, display::D3D_OK, display::D3DERR_INVALIDCALL};
  h.window->quitAtPass = 50;
  long pass = 0;
  const int code = app::WinMain(h.MakePlatform(), ViewerHarness::IdentityConfig(), [&](app::StereoViewer&) { ++pass; });
  EXPECT_EQ(code, 0);
  EXPECT_THAT(h.window->boxes, testing::ElementsAre("Nelze získat ukazatel na back buffer!"));
  EXPECT_THAT(h.window->boxCaptions, testing::ElementsAre("Direct3D aplikace"));
  // The failing pass still presented both devices; the quit request ended the loop on the next pass.
  EXPECT_EQ(pass, 3);
  EXPECT_EQ(h.display->adapters[0].presents, 1 + 3);
  EXPECT_TRUE(h.window->minimized);
}

// ---- map files ----

struct BadMapFile {
  const char* name;
  std::string content;
  enum class Kind { File, Missing, Directory } kind = Kind::File;
};

std::string Matrix(const std::string& rows, const std::string& cols, const std::string& dt, int values) {
  std::string text = "<?xml version=\"1.0\"?>\n<opencv_storage>\n<mx1 type_id=\"opencv-matrix\">\n  <rows>" + rows +
                     "</rows>\n  <cols>" + cols + "</cols>\n  <dt>" + dt + "</dt>\n  <data>\n";
  for (int i = 0; i < values; ++i) text += "1. ";
  return text + "</data></mx1>\n</opencv_storage>\n";
}

class BadMapThroughTheViewer : public testing::TestWithParam<BadMapFile> {};

TEST_P(BadMapThroughTheViewer, EndsWithTheBoxNamingTheFileAndSetsUpNothingElse) {
  ViewerHarness h;
  TempDir dir;
  const std::string path = dir.File("mx1.xml");
  if (GetParam().kind == BadMapFile::Kind::File) std::ofstream(path, std::ios::binary) << GetParam().content;
  if (GetParam().kind == BadMapFile::Kind::Directory) std::filesystem::create_directory(path);
  app::ViewerConfig config;
  config.mapDirectory = dir.path();

  testing::internal::CaptureStderr();
  const int code = app::WinMain(h.MakePlatform(), config);
  const std::string said = testing::internal::GetCapturedStderr();

  EXPECT_EQ(code, 0);
  EXPECT_THAT(h.window->boxes, testing::ElementsAre("Nelze načíst rektifikační mapu mx1.xml!"));
  EXPECT_NE(said.find("rectification map " + path + ": "), std::string::npos) << said;
  EXPECT_FALSE(h.window->registered);
  EXPECT_EQ(h.display->systemsCreated, 0);
  EXPECT_EQ(h.window->passes, 0);
}

const std::string kDeclaration = "<?xml version=\"1.0\"?>\n";

INSTANTIATE_TEST_SUITE_P(
    EveryKind, BadMapThroughTheViewer,
    testing::Values(
        BadMapFile{"Missing", "", BadMapFile::Kind::Missing}, BadMapFile{"ADirectory", "", BadMapFile::Kind::Directory},
        BadMapFile{"Empty", ""}, BadMapFile{"NotXml", "P6\n1024 768\n255\n\x01\x02\x03"},
        BadMapFile{"TruncatedDeclaration", "<?xml version="},
        BadMapFile{"TruncatedInTheData", Matrix("768", "1024", "f", 100).substr(0, 180)},
        BadMapFile{"NulBytes", kDeclaration + std::string("<opencv_storage>\0\0\0\0</opencv_storage>\n", 38)},
        BadMapFile{"BinaryBlock", kDeclaration + "<opencv_storage><mx1 type_id=\"opencv-matrix\"><rows>768</rows>"
                                                 "<cols>1024</cols><dt>f</dt><data type_id=\"binary\">AAAA</dt>AA"
                                                 "</data></mx1></opencv_storage>\n"},
        BadMapFile{"UnclosedElements", kDeclaration + "<opencv_storage><mx1><rows>768</rows>"},
        BadMapFile{"NoMatrix", kDeclaration + "<opencv_storage></opencv_storage>\n"},
        BadMapFile{"ANumber", kDeclaration + "<opencv_storage><mx1>42</mx1></opencv_storage>\n"},
        BadMapFile{"Doubles", Matrix("768", "1024", "d", 0)},
        BadMapFile{"TwoChannels", Matrix("768", "512", "\"2f\"", 0)},
        BadMapFile{"WrongSize", Matrix("480", "640", "f", 0)},
        BadMapFile{"HugeHeader", Matrix("2000000000", "2000000000", "f", 3)},
        BadMapFile{"NegativeSize", Matrix("-768", "1024", "f", 3)},
        BadMapFile{"TooFewValues", Matrix("768", "1024", "f", 7)},
        BadMapFile{"GarbageValues", kDeclaration +
                                        "<opencv_storage><mx1 type_id=\"opencv-matrix\"><rows>1</rows>"
                                        "<cols>2</cols><dt>f</dt><data>a b</data></mx1></opencv_storage>\n"}),
    [](const testing::TestParamInfo<BadMapFile>& info) { return std::string(info.param.name); });

}  // namespace
