// The --list-cameras text over the V4L2 backend and its fake kernel.
#include "capture/camera_listing.h"

#include <gtest/gtest.h>

#include "capture/v4l2/v4l2_backend.h"
#include "tests/capture/v4l2/v4l2_test_support.h"

namespace capture {
namespace {

using testing::CameraConfig;

TEST(CameraListingTest, ListsDevicesInViewerOrderWithTheirFormatsAndSizes) {
  auto kernel = std::make_unique<FakeV4l2System>();
  kernel->AddDevice("/dev/video4", CameraConfig({FakeFormat(V4L2_PIX_FMT_GREY, {{320, 240}})}, "Second"));
  kernel->AddDevice("/dev/video0", CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{1024, 768}, {640, 480}}),
                                                 FakeFormat(V4L2_PIX_FMT_MJPEG, {{1280, 720}, {1024, 768}})},
                                                "First \xC4\x8D"));
  FakeV4l2Format ranged{V4L2_PIX_FMT_UYVY, "uyvy", {FakeV4l2FrameSize::Stepwise(160, 1280, 8, 120, 960, 8)}};
  kernel->AddDevice("/dev/video7", CameraConfig({ranged}, "Third"));
  V4l2Backend backend(std::move(kernel));

  EXPECT_EQ(ListCameras(backend),
            "0: First \xC4\x8D\n"
            "   YUYV 1024x768, 640x480; MJPG 1280x720, 1024x768; RGB24 1024x768, 640x480, 1280x720\n"
            "1: Second\n"
            "   GREY 320x240; RGB24 320x240\n"
            "2: Third\n"
            "   UYVY 160x120-1280x960 step 8x8; RGB24 160x120-1280x960 step 8x8\n");
}

TEST(CameraListingTest, SaysSoWhenThereAreNoCameras) {
  auto kernel = std::make_unique<FakeV4l2System>();
  FakeV4l2DeviceConfig metadata = CameraConfig({}, "Metadata");
  metadata.deviceCaps = V4L2_CAP_META_CAPTURE;
  kernel->AddDevice("/dev/video1", metadata);
  V4l2Backend backend(std::move(kernel));
  EXPECT_EQ(ListCameras(backend), "no cameras found\n");
}

TEST(CameraListingTest, ADeviceWhoseFormatsCannotBeReadKeepsItsNumber) {
  auto owned = std::make_unique<FakeV4l2System>();
  owned->AddDevice("/dev/video0", CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{640, 480}})}, "Plain"));
  FakeV4l2Device* broken = owned->AddDevice("/dev/video1", CameraConfig({}, "Formatless"));
  owned->AddDevice("/dev/video2", CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{320, 240}})}, "Fine"));
  broken->FailIoctl(VIDIOC_ENUM_FMT, EIO);
  V4l2Backend backend(std::move(owned));

  EXPECT_EQ(ListCameras(backend),
            "0: Plain\n"
            "   YUYV 640x480; RGB24 640x480\n"
            "1: Formatless\n"
            "   (no formats offered)\n"
            "2: Fine\n"
            "   YUYV 320x240; RGB24 320x240\n");
}

TEST(CameraListingTest, SubtypesAreNamedLikeTheCaptureLayerNamesThem) {
  EXPECT_EQ(SubtypeName(MEDIASUBTYPE_RGB24), "RGB24");
  EXPECT_EQ(SubtypeName(MEDIASUBTYPE_YUY2), "YUY2");
  EXPECT_EQ(SubtypeName(MEDIASUBTYPE_Y8), "Y8");
  EXPECT_EQ(SubtypeName(FourccGuid(MakeFourcc('M', 'J', 'P', 'G'))), "MJPG");
  EXPECT_EQ(SubtypeName(FourccGuid(0x01020304)), "OTHER");
  EXPECT_EQ(SubtypeName(FORMAT_VideoInfo), "OTHER");
}

}  // namespace
}  // namespace capture
