// The capture layer over the V4L2 backend and the fake kernel: devices listed (and, over any backend,
// the --list-cameras text and the --cameras choice), the format set, frames of every format we take as
// OpenCV converts them, damaged frames dropped, and busy, returning or crowded cameras.
#include <array>
#include <tuple>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "capture/camera_listing.h"
#include "capture/camera_watch.h"
#include "capture/capture_manager.h"
#include "capture/v4l2/v4l2_backend.h"
#include "testing/fake_cameras.h"
#include "testing/fake_v4l2_kernel.h"

// OpenCV's image codecs start GDAL, whose own two locks ThreadSanitizer reports as a lock-order
// inversion on that one thread; nothing of the capture layer is involved.
extern "C" const char* __tsan_default_suppressions() { return "deadlock:libgdal.so\n"; }

namespace {

using testkit::CameraConfig;
using Format = testkit::FakeFormat;

constexpr int kWidth = 64, kHeight = 48;

std::vector<std::uint8_t> Noise(std::size_t bytes, int seed) {
  std::vector<std::uint8_t> noise(bytes);
  cv::RNG(seed).fill(noise, cv::RNG::UNIFORM, 16, 240);
  return noise;
}

class V4l2Capture : public testing::Test {
 protected:
  testkit::FakeV4l2Device* Add(const std::string& path, testkit::FakeDeviceConfig config = Yuyv()) {
    return kernel->AddDevice(path, std::move(config));
  }
  static testkit::FakeDeviceConfig Yuyv() { return CameraConfig({{V4L2_PIX_FMT_YUYV, {{kWidth, kHeight}}}}); }
  // The next frame taken from device 0, top row first.
  cv::Mat TakeFrame() {
    cv::Mat frame(kHeight, kWidth, CV_8UC3, cv::Scalar::all(0));
    manager.GetPixels(0, frame.data, false, true);
    return frame;
  }

  std::shared_ptr<testkit::FakeV4l2Kernel> kernel = std::make_shared<testkit::FakeV4l2Kernel>();
  capture::CaptureManager manager{std::make_unique<capture::V4l2Backend>(kernel)};
};

TEST_F(V4l2Capture, ListsCaptureNodesByNodeNumberUnderTheirCardNames) {
  Add("/dev/video10",
      CameraConfig({Format{V4L2_PIX_FMT_MJPEG, {{1280, 720}, {640, 480}}}, Format{V4L2_PIX_FMT_YUYV, {{640, 480}}}},
                   "Tenth \xC4\x8D\xFF"));
  Add("/dev/video2",
      CameraConfig({Format{V4L2_PIX_FMT_GREY, {{64, 48}}}, Format{V4L2_PIX_FMT_NV12, {{16, 16, 4096, 4096, 1, 1}}}},
                   std::string(40, 'N')));
  testkit::FakeDeviceConfig odd = CameraConfig({Format{V4L2_PIX_FMT_Y41P, {{160, 120, 1280, 960, 8, 8}}}}, "Odd");
  odd.stableLinks = {"/dev/v4l/by-path/pci-usb-0:1-video-index0", "/dev/v4l/by-id/usb-Odd-video-index0"};
  odd.controls = {{V4L2_CID_WHITE_BALANCE_TEMPERATURE, 2800, 6500, 10, 4600, V4L2_CID_AUTO_WHITE_BALANCE, 0},
                  {V4L2_CID_AUTO_WHITE_BALANCE, 0, 1, 1, 1},
                  {V4L2_CID_GAIN, 0, 255, 1, 32}};
  Add("/dev/video3", odd);
  testkit::FakeDeviceConfig metadata = CameraConfig({}, "Metadata");
  metadata.capabilities = V4L2_CAP_META_CAPTURE;
  Add("/dev/video1", metadata);
  EXPECT_EQ(capture::ListCameras(*std::make_unique<capture::V4l2Backend>(kernel)),
            "0: " + std::string(32, 'N') +  // the card field holds 32 bytes, with no room for an end
                "\n   /dev/video2\n   GREY 64x48; NV12 16x16-4096x4096; RGB24 64x48, 16x16-4096x4096\n"
                "1: Odd\n   /dev/video3\n   /dev/v4l/by-id/usb-Odd-video-index0\n"
                "   /dev/v4l/by-path/pci-usb-0:1-video-index0\n   Y41P 160x120-1280x960 step 8x8\n"
                "   gain 0-255: 32, white balance 2800-6500 step 10: 4600 (auto)\n"
                "2: Tenth \xC4\x8D\xEF\xBF\xBD\n"  // a broken byte becomes U+FFFD
                "   /dev/video10\n   MJPG 1280x720, 640x480; YUYV 640x480; RGB24 1280x720, 640x480\n");
  EXPECT_EQ(kernel->LeftOpen(), 0) << "descriptors or mappings";
}

TEST(CameraListingTest, EveryDeviceKeepsItsNumberWhatEverItsFormatsSay) {
  auto cameras = std::make_shared<testkit::FakeCameras>();
  cameras->Add(u"Plain").capabilities = {testkit::Sizes(capture::MEDIASUBTYPE_YUY2, 640, 480),
                                         testkit::Sizes(capture::MEDIASUBTYPE_YUY2, 320, 240),
                                         testkit::Sizes(capture::FourccGuid(0x47504A4D), 1280, 720),  // MJPG
                                         testkit::Sizes(capture::MEDIASUBTYPE_YUY2, 640, 480)};
  cameras->Add(u"Locked \u010D").openResult = capture::HresultFromErrno(EACCES);
  cameras->Add(u"Formatless");
  cameras->Add(u"Cam \U0001F4F7 \xD800!");  // a pair of surrogates, and one alone
  cameras->Add(u"Ranges").capabilities = {testkit::Sizes(capture::MEDIASUBTYPE_Y8, 160, 120, 1280, 960, 8, 8),
                                          testkit::Sizes(capture::GUID{}, 16, 16, 4096, 4096)};
  EXPECT_EQ(capture::ListCameras(*cameras->Backend()),
            "0: Plain\n"
            "   YUY2 640x480, 320x240; MJPG 1280x720\n"
            "1: Locked \xC4\x8D\n"
            "   (cannot be opened: error 0x8007000D)\n"
            "2: Formatless\n"
            "   (no formats offered)\n"
            "3: Cam \xF0\x9F\x93\xB7 \xEF\xBF\xBD!\n"
            "   (no formats offered)\n"
            "4: Ranges\n"
            "   Y8 160x120-1280x960 step 8x8; OTHER 16x16-4096x4096\n");
  EXPECT_EQ(capture::ListCameras(*std::make_shared<testkit::FakeCameras>()->Backend()), "no cameras found\n");
}

// --cameras: each word and the camera it names, or the line that names the candidates.
TEST(CameraListingTest, ACamerasWordNamesOneCameraOrTheCandidates) {
  const std::string byId = "/dev/v4l/by-id/usb-Cam_HD_Webcam-video-index0";
  const std::vector<capture::DeviceEntry> devices = {
      {u"HD Webcam", nullptr, "/dev/video0", {byId, "/dev/v4l/by-path/pci-usb-0:1:1.0-video-index0"}},
      {u"HD Webcam", nullptr, "/dev/video2", {"/dev/v4l/by-path/pci-usb-0:2:1.0-video-index0"}},
      {u"Synthetic camera (right)", nullptr, "", {}}};
  const std::string all =
      "0 \"HD Webcam\" (/dev/v4l/by-path/pci-usb-0:1:1.0-video-index0), 1 \"HD Webcam\" "
      "(/dev/v4l/by-path/pci-usb-0:2:1.0-video-index0), 2 \"Synthetic camera (right)\"";
  for (const auto& [word, camera, said] : std::vector<std::tuple<std::string, int, std::string>>{
           {"2", 2, ""},
           {"/dev/video2", 1, ""},
           {byId, 0, ""},
           {"", -1, "--cameras: no camera ''; the cameras are " + all},
           {"webcam", -1,
            "--cameras: 'webcam' could be 0 \"HD Webcam\" (/dev/v4l/by-path/pci-usb-0:1:1.0-video-index0) or 1 \"HD "
            "Webcam\" (/dev/v4l/by-path/pci-usb-0:2:1.0-video-index0); name one by its number or path"}}) {
    std::string error;
    EXPECT_EQ(capture::ChooseCamera(devices, word, &error), camera) << word;
    EXPECT_EQ(error, said);
  }
  std::string error;
  EXPECT_EQ(capture::ChooseCamera({}, "0", &error), -1);
  EXPECT_EQ(error, "--cameras: no camera '0'; there are no cameras");
}

struct Stream {
  const char* name;
  std::uint32_t pixelFormat;
  int code;  // OpenCV's conversion of the frame into BGR; -1 for a JPEG
  std::uint32_t padding, fps = 30, slower = 0, slowerFps = 0;  // slower: a format offered too, at a slower rate
};

class V4l2Streams : public V4l2Capture, public testing::WithParamInterface<Stream> {};

TEST_P(V4l2Streams, FramesArriveAsOpenCvConvertsThem) {
  const Stream& s = GetParam();
  testkit::FakeDeviceConfig config = CameraConfig({{s.pixelFormat, {{kWidth, kHeight}}, s.fps}});
  if (s.slower) config.formats.push_back({s.slower, {{kWidth, kHeight}}, s.slowerFps});
  config.paddingPerLine = s.padding;
  testkit::FakeV4l2Device* camera = Add("/dev/video0", config);
  cv::Mat expected;
  std::vector<std::uint8_t> frame;
  if (s.code < 0) {
    cv::Mat picture(kHeight, kWidth, CV_8UC3);
    cv::randu(picture, 0, 255);
    cv::GaussianBlur(picture, picture, cv::Size(9, 9), 0);
    cv::imencode(".jpg", picture, frame);
    expected = cv::imdecode(frame, cv::IMREAD_COLOR);
  } else {
    const v4l2_pix_format format = camera->CurrentFormat();
    const int channels = static_cast<int>(format.bytesperline - s.padding) / kWidth;
    const int rows = format.sizeimage / format.bytesperline;  // more than kHeight for planar formats
    frame = Noise(format.sizeimage, 3);
    const cv::Mat rowsWithPadding(rows, kWidth * channels, CV_8UC1, frame.data(), format.bytesperline);
    cv::cvtColor(rowsWithPadding.clone().reshape(channels), expected, s.code);
  }
  camera->QueueFrame({frame}, true);
  ASSERT_TRUE(manager.OpenDevice(0, kWidth, kHeight));
  EXPECT_LE(cv::norm(TakeFrame(), expected, cv::NORM_INF), s.code < 0 ? 2.0 : 0.0);
  manager.CloseDevice(0);
  EXPECT_EQ(kernel->LeftOpen(), 0) << "descriptors or mappings";
}

INSTANTIATE_TEST_SUITE_P(Formats, V4l2Streams,
                         testing::Values(Stream{"YuyvPaddedOverSlowerMjpeg", V4L2_PIX_FMT_YUYV, cv::COLOR_YUV2BGR_YUYV,
                                                12, 30, V4L2_PIX_FMT_MJPEG, 15},
                                         Stream{"Nv12Padded", V4L2_PIX_FMT_NV12, cv::COLOR_YUV2BGR_NV12, 8},
                                         Stream{"Yuv420", V4L2_PIX_FMT_YUV420, cv::COLOR_YUV2BGR_I420, 0},
                                         Stream{"Grey", V4L2_PIX_FMT_GREY, cv::COLOR_GRAY2BGR, 0},
                                         Stream{"Bgr32", V4L2_PIX_FMT_BGR32, cv::COLOR_BGRA2BGR, 4},
                                         Stream{"Rgb565", V4L2_PIX_FMT_RGB565, cv::COLOR_BGR5652BGR, 0},
                                         Stream{"MjpegOverSlowerYuyv", V4L2_PIX_FMT_MJPEG, -1, 0, 30, V4L2_PIX_FMT_YUYV,
                                                5}),
                         [](const auto& info) { return std::string(info.param.name); });

// Another program streaming from the camera keeps it from opening; once it is free, damaged frames are
// dropped and the next whole one arrives.
TEST_F(V4l2Capture, ABusyCameraOpensOnceFreeAndDropsDamagedFrames) {
  testkit::FakeV4l2Device* camera = Add("/dev/video0");
  capture::CaptureManager other{std::make_unique<capture::V4l2Backend>(kernel)};
  ASSERT_TRUE(other.OpenDevice(0, kWidth, kHeight));
  EXPECT_FALSE(manager.OpenDevice(0, kWidth, kHeight));
  other.CloseDevice(0);
  EXPECT_EQ(kernel->LeftOpen(), 0) << "descriptors or mappings";
  const std::size_t bytes = kWidth * kHeight * 2;
  camera->QueueFrame({Noise(bytes / 2, 1)});                   // cut short
  camera->QueueFrame({Noise(bytes, 2), V4L2_BUF_FLAG_ERROR});  // flagged by the driver
  camera->QueueFrame({Noise(bytes, 3), 0, 1u << 30});          // a length beyond its buffer
  camera->QueueFrame({Noise(bytes, 4), 0, 0});                 // empty
  std::vector<std::uint8_t> whole = Noise(bytes, 5);
  camera->QueueFrame({whole}, true);
  ASSERT_TRUE(manager.OpenDevice(0, kWidth, kHeight));
  cv::Mat expected;
  cv::cvtColor(cv::Mat(kHeight, kWidth, CV_8UC2, whole.data()), expected, cv::COLOR_YUV2BGR_YUYV);
  EXPECT_EQ(cv::norm(TakeFrame(), expected, cv::NORM_INF), 0.0);
}

// A camera that went away is known again by a stable path it had, or, when it had none, by its node.
TEST_F(V4l2Capture, AReturningCameraIsTakenBackByItsStablePathOrElseByItsNode) {
  for (auto [linked, node, taken] : {std::tuple{false, 0, true}, {false, 1, false}, {true, 2, true}}) {
    kernel = std::make_shared<testkit::FakeV4l2Kernel>();
    capture::CaptureManager fresh(std::make_unique<capture::V4l2Backend>(kernel));
    testkit::FakeDeviceConfig config = Yuyv();
    if (linked) config.stableLinks = {"/dev/v4l/by-id/usb-Fake-video-index0"};
    testkit::FakeV4l2Device* camera = Add("/dev/video0", config);
    ASSERT_TRUE(fresh.OpenDevice(0, kWidth, kHeight));
    const capture::DeviceEntry entry = fresh.Entry(0);
    camera->Unplug();
    fresh.CloseDevice(0);
    node == 0 ? camera->Replug() : static_cast<void>(Add("/dev/video" + std::to_string(node), config));
    EXPECT_EQ(fresh.Reopen(0, entry, kWidth, kHeight), taken) << linked << " " << node;
    EXPECT_EQ(fresh.IsDeviceReady(0), taken);
  }
}

// The left camera's settled values on both, each clamped to its camera's range; a control either
// camera lacks is left alone.
TEST_F(V4l2Capture, MatchedControlsAreTheLeftCamerasSetByHandOnBoth) {
  testkit::FakeDeviceConfig left = Yuyv();
  testkit::FakeDeviceConfig right = left;
  left.controls = {{V4L2_CID_EXPOSURE_AUTO, 0, 3, 1, V4L2_EXPOSURE_APERTURE_PRIORITY},
                   {V4L2_CID_EXPOSURE_ABSOLUTE, 3, 2047, 1, 250, V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL},
                   {V4L2_CID_GAIN, 0, 255, 1, 32},
                   {V4L2_CID_AUTO_WHITE_BALANCE, 0, 1, 1, 1},
                   {V4L2_CID_WHITE_BALANCE_TEMPERATURE, 2800, 6500, 10, 6200, V4L2_CID_AUTO_WHITE_BALANCE, 0},
                   {V4L2_CID_FOCUS_AUTO, 0, 1, 1, 1},
                   {V4L2_CID_FOCUS_ABSOLUTE, 0, 250, 5, 40, V4L2_CID_FOCUS_AUTO, 0}};
  right.controls = {{V4L2_CID_EXPOSURE_AUTO, 0, 3, 1, V4L2_EXPOSURE_AUTO},
                    {V4L2_CID_EXPOSURE_ABSOLUTE, 5, 2000, 1, 100, V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL},
                    {V4L2_CID_GAIN, 0, 100, 1, 50},
                    {V4L2_CID_AUTO_WHITE_BALANCE, 0, 1, 1, 1},
                    {V4L2_CID_WHITE_BALANCE_TEMPERATURE, 2800, 6000, 100, 4000, V4L2_CID_AUTO_WHITE_BALANCE, 0}};
  testkit::FakeV4l2Device* cameras[2] = {Add("/dev/video0", left), Add("/dev/video1", right)};
  ASSERT_TRUE(manager.OpenDevice(0, kWidth, kHeight) && manager.OpenDevice(1, kWidth, kHeight));
  std::array<std::vector<capture::Control>, 2> set;
  EXPECT_EQ(capture::MatchControls(manager, 0, 1, &set),
            (std::vector<std::string>{"camera 1: white balance 6200 clamped to 6000 (its range is 2800-6000)",
                                      "camera 1 has no focus control: focus not matched",
                                      "controls matched to camera 0: exposure 250, gain 32, white balance 6200, "
                                      "all manual"}));
  std::vector<int> values[2];  // exposure mode and value, gain, white balance mode and value, focus mode
  for (std::uint32_t id : {V4L2_CID_EXPOSURE_AUTO, V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_GAIN,
                           V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_FOCUS_AUTO})
    for (int c = 0; c < 2; ++c) values[c].push_back(cameras[c]->ControlValue(id));
  EXPECT_EQ(values[0], (std::vector<int>{V4L2_EXPOSURE_MANUAL, 250, 32, 0, 6200, 1}));
  EXPECT_EQ(values[1], (std::vector<int>{V4L2_EXPOSURE_MANUAL, 250, 32, 0, 6000, 0}));
}

// Two cameras on a bus with room for one uncompressed stream: the second tries MJPEG at the same size.
TEST_F(V4l2Capture, OnACrowdedBusTheSecondCameraTriesMjpegAtTheSameSizeAndSaysSo) {
  kernel->LimitBandwidth(1);
  Add("/dev/video0");
  ASSERT_TRUE(manager.OpenDevice(0, kWidth, kHeight));
  for (auto [width, height, said] : {std::tuple{64u, 48u, "streaming MJPEG at that size instead\n"},
                                     {640u, 480u, "and it offers no MJPEG at that size\n"}}) {
    const std::string path = "/dev/video" + std::to_string(width);
    testkit::FakeV4l2Device* second =
        Add(path, CameraConfig({Yuyv().formats[0], Format{V4L2_PIX_FMT_MJPEG, {{width, height}}}}));
    testing::internal::CaptureStderr();
    EXPECT_EQ(manager.OpenDevice(1, kWidth, kHeight), width == kWidth);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), path + ": not enough USB bandwidth for YUYV 64x48, " + said);
    EXPECT_EQ(second->CurrentFormat().pixelformat == V4L2_PIX_FMT_MJPEG, width == kWidth);
    manager.CloseDevice(1);
    second->Unplug();
  }
}

}  // namespace
