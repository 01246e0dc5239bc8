// The frame pipeline over the capture manager: what it shows must be what the straightforward
// OpenCV pass shows, pixel for pixel, whatever the cameras deliver; frames it cannot hold are dropped.
#include "stereo/frame_pipeline.h"

#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "testing/stereo_rig.h"

namespace {

// The frames of a pass: textured scenes at growing disparities, or the chessboard photographs of the
// repository (640 x 480 grey) enlarged to the frame size.
void Frames(bool photographs, int pass, cv::Mat* left, cv::Mat* right) {
  if (!photographs) return testkit::TexturedPair(40 + 5 * pass, left, right, 100 + pass);
  const std::string number[] = {"01", "02", "03", "04", "05", "06", "07", "08", "09", "11"};
  for (const auto& [image, name] : {std::pair{left, "left"}, std::pair{right, "right"}}) {
    const cv::Mat photo = cv::imread(VIEWER_TEST_DATA_DIR "/chessboard/" + (name + number[pass % 10]) + ".jpg");
    ASSERT_FALSE(photo.empty());
    cv::resize(photo, *image, cv::Size(1024, 768));
  }
}

// Photographs get maps as a calibration makes them: a lens distortion undone and a small rotation.
void Maps(bool photographs, int side, cv::Mat* mapX, cv::Mat* mapY) {
  if (!photographs) return testkit::WarpMaps(side ? -1.0 : 1.5, side ? 0.99 : 1.02, mapX, mapY);
  const cv::Matx33d camera(900, 0, 512, 0, 900, 384, 0, 0, 1);
  cv::Matx33d rotation;
  cv::Rodrigues(cv::Vec3d(0.004, side ? -0.012 : 0.015, 0.003), rotation);
  cv::initUndistortRectifyMap(camera, cv::Vec4d(side ? -0.08 : -0.05, 0.01, 0, 0), rotation, camera,
                              cv::Size(1024, 768), CV_32FC1, *mapX, *mapY);
}

class StraightforwardPass : public testing::TestWithParam<bool> {};

TEST_P(StraightforwardPass, ShowsWhatTheStraightforwardPassShows) {
  const bool photographs = GetParam();
  testkit::StereoRig fast, slow;
  stereo::FramePipeline pipeline;
  testkit::ReferencePass reference;
  cv::Mat maps[2][2];
  for (int side = 0; side < 2; ++side) {
    Maps(photographs, side, &maps[side][0], &maps[side][1]);
    pipeline.SetMaps(side, maps[side][0], maps[side][1]);
    reference.SetMaps(side, maps[side][0], maps[side][1]);
    pipeline.CreateFrame(side);
  }
  cv::Mat shown[2] = {cv::Mat::zeros(600, 800, CV_8UC3), cv::Mat::zeros(600, 800, CV_8UC3)};
  std::uint64_t revision[2] = {pipeline.ViewRevision(0), pipeline.ViewRevision(1)};
  for (int pass = 0; pass < 16; ++pass) {
    // New maps apply to the frames taken after them, not to those already shown.
    if (pass == 10)
      for (int side = 0; side < 2; ++side) {
        pipeline.SetMaps(side, maps[1 - side][0], maps[1 - side][1]);
        reference.SetMaps(side, maps[1 - side][0], maps[1 - side][1]);
      }
    cv::Mat left, right;
    Frames(photographs, pass, &left, &right);
    // Some passes bring a frame from camera 1 only, some none at all.
    const bool deliver1 = pass % 4 != 3, deliver2 = pass % 4 < 2;
    for (testkit::StereoRig* rig : {&fast, &slow}) {
      ASSERT_TRUE(!deliver1 || rig->Deliver(0, left));
      ASSERT_TRUE(!deliver2 || rig->Deliver(1, right));
    }
    const bool new1 = pipeline.TakeFrame(0, *fast.capture), new2 = pipeline.TakeFrame(1, *fast.capture);
    EXPECT_EQ(new1, deliver1);
    EXPECT_EQ(new2, deliver2);
    const stereo::FrameStepRecord record = pipeline.Match(new1, new2);
    cv::Mat views[2];
    const int follower = reference.Run(*slow.capture, views);
    ASSERT_EQ(record.dominant, reference.dominant) << "pass " << pass;
    ASSERT_EQ(record.follower, follower) << "pass " << pass;
    EXPECT_EQ(record.passes, pass + 1);
    EXPECT_EQ(record.cropX[0] - 112, 112 - record.cropX[1]);
    for (int side = 0; side < 2; ++side) {
      ASSERT_EQ(cv::norm(pipeline.View(side), views[side], cv::NORM_INF), 0.0) << "pass " << pass << " side " << side;
      // Other pixels come with another revision (the display draws a view again only then).
      const bool same = cv::norm(views[side], shown[side], cv::NORM_INF) == 0;
      EXPECT_TRUE(same || pipeline.ViewRevision(side) != revision[side]) << "pass " << pass << " side " << side;
      shown[side] = views[side].clone();
      revision[side] = pipeline.ViewRevision(side);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(FramePipeline, StraightforwardPass, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "Photographs" : "TexturedScenes";
                         });

TEST(FramePipeline, DropsFramesOfAnotherSizeSayingSoOnceAndGoesOn) {
  testkit::StereoRig rig({1280, 720});
  stereo::FramePipeline pipeline;
  pipeline.UseIdentityMaps();
  for (int side = 0; side < 2; ++side) pipeline.CreateFrame(side);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(rig.Deliver(0, cv::Mat(720, 1280, CV_8UC3, cv::Scalar::all(99))));
    EXPECT_FALSE(pipeline.TakeFrame(0, *rig.capture));
    EXPECT_FALSE(rig.capture->HasNewFrame(0)) << "the mailbox is drained for the next frame";
    pipeline.Match(false, false);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "device 0 delivers 1280 by 720, expected 1024 by 768\n");
  EXPECT_EQ(cv::countNonZero(pipeline.View(0).reshape(1)), 0) << "nothing written into the frame image";
}

// Camera 2 delivers every 300 ms; side 1 gets a new frame 75 ms before camera 2's next is due.
TEST(FramePipeline, ClosestPairingWaitsForTheOtherSidesFrameWhenItIsDue) {
  using namespace std::chrono_literals;
  for (const stereo::Pairing pairing : {stereo::Pairing::kFirst, stereo::Pairing::kClosest}) {
    testkit::StereoRig rig({64, 48}, {64, 48});
    stereo::FramePipeline pipeline;
    pipeline.SetCameras(0, 1, pairing);
    const cv::Mat frame(48, 64, CV_8UC3, cv::Scalar::all(1));
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 4; ++i) {
      std::this_thread::sleep_until(start + i * 300ms);
      ASSERT_TRUE(rig.Deliver(1, frame));
      rig.capture->DiscardFrame(1);
    }
    std::thread camera2([&] {
      std::this_thread::sleep_until(start + 1200ms);
      rig.Deliver(1, frame);
    });
    std::this_thread::sleep_until(start + 1125ms);
    ASSERT_TRUE(rig.Deliver(0, frame));
    pipeline.AwaitPair(*rig.capture);
    const bool paired = rig.capture->HasNewFrame(1);
    camera2.join();
    EXPECT_EQ(paired, pairing == stereo::Pairing::kClosest);
  }
}

}  // namespace
