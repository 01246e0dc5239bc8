// What a V4L2 source offers and accepts: capabilities from the device's formats, sizes and frame
// rates, BGR24 at every size it delivers in a convertible format, exact format setting, inputs.
#include "capture/v4l2/v4l2_source_device.h"

#include <gtest/gtest.h>

#include "tests/capture/v4l2/v4l2_test_support.h"

namespace capture {
namespace {

using testing::CameraConfig;

struct Opened {
  std::shared_ptr<FakeV4l2System> kernel = std::make_shared<FakeV4l2System>();
  FakeV4l2Device* camera = nullptr;
  std::unique_ptr<V4l2SourceDevice> device;
};

Opened OpenCamera(FakeV4l2DeviceConfig config) {
  Opened opened;
  opened.camera = opened.kernel->AddDevice("/dev/video0", std::move(config));
  EXPECT_EQ(V4l2SourceDevice::Open(opened.kernel, "/dev/video0", &opened.device), S_OK);
  return opened;
}

struct CapRecord {
  GUID subtype;
  VIDEO_STREAM_CONFIG_CAPS caps;
};

std::vector<CapRecord> ReadCaps(StreamConfig& stream) {
  int count = 0, size = 0;
  EXPECT_EQ(stream.GetNumberOfCapabilities(&count, &size), S_OK);
  EXPECT_EQ(size, 128);
  std::vector<CapRecord> records;
  for (int i = 0; i < count; ++i) {
    std::unique_ptr<MediaType> type;
    CapRecord record;
    EXPECT_EQ(stream.GetStreamCaps(i, &type, &record.caps), S_OK);
    record.subtype = type->subtype;
    records.push_back(record);
  }
  return records;
}

MediaType Offer(const GUID& subtype, int width, int height) { return MakeVideoType(subtype, width, height); }

constexpr std::int64_t k30Fps = 333333;
constexpr std::int64_t k15Fps = 666666;

TEST(V4l2SourceDeviceTest, DiscreteSizesBecomeSingleSizeCapabilitiesWithTheirFrameRates) {
  Opened opened = OpenCamera(CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{640, 480}, {1280, 720}}, {30, 15})}));
  const std::vector<CapRecord> caps = ReadCaps(opened.device->CaptureStream());
  ASSERT_EQ(caps.size(), 4u);  // two native YUYV sizes, then the same two as emulated RGB24

  EXPECT_EQ(caps[0].subtype, MEDIASUBTYPE_YUYV);
  EXPECT_EQ(caps[0].caps.MinOutputSize, (SIZE{640, 480}));
  EXPECT_EQ(caps[0].caps.MaxOutputSize, (SIZE{640, 480}));
  EXPECT_EQ(caps[0].caps.OutputGranularityX, 1);
  EXPECT_EQ(caps[0].caps.OutputGranularityY, 1);
  EXPECT_EQ(caps[0].caps.MinFrameInterval, k30Fps);
  EXPECT_EQ(caps[0].caps.MaxFrameInterval, k15Fps);
  EXPECT_EQ(caps[1].caps.MaxOutputSize, (SIZE{1280, 720}));
  EXPECT_EQ(caps[2].subtype, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(caps[2].caps.MinOutputSize, (SIZE{640, 480}));
  EXPECT_EQ(caps[3].subtype, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(caps[3].caps.MaxOutputSize, (SIZE{1280, 720}));
}

TEST(V4l2SourceDeviceTest, StepwiseKeepsItsStepAndContinuousHasStepOne) {
  FakeV4l2Format stepwise{V4L2_PIX_FMT_YUYV, "yuyv", {FakeV4l2FrameSize::Stepwise(160, 1280, 8, 120, 960, 4)}};
  FakeV4l2Format continuous{V4L2_PIX_FMT_GREY, "grey", {FakeV4l2FrameSize::Stepwise(2, 4096, 1, 2, 2048, 1)}};
  Opened opened = OpenCamera(CameraConfig({stepwise, continuous}));
  const std::vector<CapRecord> caps = ReadCaps(opened.device->CaptureStream());
  ASSERT_GE(caps.size(), 2u);
  EXPECT_EQ(caps[0].caps.MinOutputSize, (SIZE{160, 120}));
  EXPECT_EQ(caps[0].caps.MaxOutputSize, (SIZE{1280, 960}));
  EXPECT_EQ(caps[0].caps.OutputGranularityX, 8);
  EXPECT_EQ(caps[0].caps.OutputGranularityY, 4);
  EXPECT_EQ(caps[1].subtype, MEDIASUBTYPE_GREY);
  EXPECT_EQ(caps[1].caps.OutputGranularityX, 1);
  EXPECT_EQ(caps[1].caps.OutputGranularityY, 1);
}

TEST(V4l2SourceDeviceTest, ASizeOfferedOnlyAsMjpegIsStillOfferedAsRgb24) {
  Opened opened = OpenCamera(CameraConfig(
      {FakeFormat(V4L2_PIX_FMT_YUYV, {{640, 480}}), FakeFormat(V4L2_PIX_FMT_MJPEG, {{1024, 768}, {640, 480}})}));
  std::vector<SIZE> rgbSizes;
  for (const CapRecord& record : ReadCaps(opened.device->CaptureStream()))
    if (record.subtype == MEDIASUBTYPE_RGB24) rgbSizes.push_back(record.caps.MaxOutputSize);
  EXPECT_EQ(rgbSizes, (std::vector<SIZE>{{640, 480}, {1024, 768}}));  // 640 x 480 once, though two formats give it

  StreamConfig& stream = opened.device->CaptureStream();
  EXPECT_EQ(stream.SetFormat(Offer(MEDIASUBTYPE_RGB24, 1024, 768)), S_OK);
  EXPECT_EQ(opened.camera->CurrentFormat().pixelformat, V4L2_PIX_FMT_MJPEG);
  std::unique_ptr<MediaType> current;
  ASSERT_EQ(stream.GetFormat(&current), S_OK);
  EXPECT_EQ(current->subtype, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(current->VideoInfo()->bmiHeader.biWidth, 1024);
  EXPECT_EQ(current->VideoInfo()->bmiHeader.biHeight, 768);
}

TEST(V4l2SourceDeviceTest, Rgb24ComesFromTheFormatWithTheHighestFrameRateAtThatSize) {
  // YUYV gives 1280 x 720 at 10 frames a second, MJPEG at 30; at 640 x 480 both give 30 and the
  // cheaper conversion wins.
  FakeV4l2DeviceConfig config = CameraConfig({FakeFormat(V4L2_PIX_FMT_MJPEG, {{1280, 720}, {640, 480}}, {30}),
                                              FakeFormat(V4L2_PIX_FMT_YUYV, {{640, 480}}, {30})});
  config.formats[1].sizes.insert(config.formats[1].sizes.begin(), FakeV4l2FrameSize::Discrete(1280, 720, {10}));
  Opened camera = OpenCamera(config);
  StreamConfig& stream = camera.device->CaptureStream();

  ASSERT_EQ(stream.SetFormat(Offer(MEDIASUBTYPE_RGB24, 1280, 720)), S_OK);
  EXPECT_EQ(camera.camera->CurrentFormat().pixelformat, V4L2_PIX_FMT_MJPEG);
  ASSERT_EQ(stream.SetFormat(Offer(MEDIASUBTYPE_RGB24, 640, 480)), S_OK);
  EXPECT_EQ(camera.camera->CurrentFormat().pixelformat, V4L2_PIX_FMT_YUYV);
}

TEST(V4l2SourceDeviceTest, AFormatIsAcceptedOnlyWhenTheDeviceTakesItExactly) {
  Opened opened = OpenCamera(CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{640, 480}, {1280, 720}})}));
  StreamConfig& stream = opened.device->CaptureStream();
  const int setsBefore = opened.camera->SetFormatCalls();

  // TRY_FMT would adjust these, so S_FMT is never reached.
  EXPECT_LT(stream.SetFormat(Offer(MEDIASUBTYPE_RGB24, 1024, 768)), 0);
  EXPECT_LT(stream.SetFormat(Offer(MEDIASUBTYPE_UYVY, 640, 480)), 0);
  EXPECT_LT(stream.SetFormat(Offer(MEDIASUBTYPE_RGB32, 640, 480)), 0);
  EXPECT_EQ(opened.camera->SetFormatCalls(), setsBefore);

  EXPECT_EQ(stream.SetFormat(Offer(MEDIASUBTYPE_YUY2, 1280, 720)), S_OK);
  EXPECT_EQ(opened.camera->CurrentFormat().pixelformat, V4L2_PIX_FMT_YUYV);
  EXPECT_EQ(opened.camera->CurrentFormat().width, 1280u);
  std::unique_ptr<MediaType> current;
  ASSERT_EQ(stream.GetFormat(&current), S_OK);
  EXPECT_EQ(current->subtype, MEDIASUBTYPE_YUY2);
}

TEST(V4l2SourceDeviceTest, SubtypesMapToTheirV4l2Formats) {
  struct Case {
    GUID subtype;
    std::uint32_t pixelFormat;
  };
  const Case cases[] = {
      {MEDIASUBTYPE_RGB24, V4L2_PIX_FMT_BGR24}, {MEDIASUBTYPE_RGB32, V4L2_PIX_FMT_XBGR32},
      {MEDIASUBTYPE_YUY2, V4L2_PIX_FMT_YUYV},   {MEDIASUBTYPE_YUYV, V4L2_PIX_FMT_YUYV},
      {MEDIASUBTYPE_YVYU, V4L2_PIX_FMT_YVYU},   {MEDIASUBTYPE_UYVY, V4L2_PIX_FMT_UYVY},
      {MEDIASUBTYPE_IYUV, V4L2_PIX_FMT_YUV420}, {MEDIASUBTYPE_YV12, V4L2_PIX_FMT_YVU420},
      {MEDIASUBTYPE_Y800, V4L2_PIX_FMT_GREY},   {MEDIASUBTYPE_Y8, V4L2_PIX_FMT_GREY},
      {MEDIASUBTYPE_GREY, V4L2_PIX_FMT_GREY},   {MEDIASUBTYPE_RGB565, V4L2_PIX_FMT_RGB565},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(FourccName(c.pixelFormat));
    Opened opened = OpenCamera(
        CameraConfig({FakeFormat(V4L2_PIX_FMT_MJPEG, {{320, 240}}), FakeFormat(c.pixelFormat, {{640, 480}})}));
    EXPECT_EQ(opened.device->CaptureStream().SetFormat(Offer(c.subtype, 640, 480)), S_OK);
    EXPECT_EQ(opened.camera->CurrentFormat().pixelformat, c.pixelFormat);
  }
}

TEST(V4l2SourceDeviceTest, RefusesTypesThatAreNotVideoOrHaveNoUsableSize) {
  Opened opened = OpenCamera(CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{640, 480}})}));
  StreamConfig& stream = opened.device->CaptureStream();
  MediaType noHeader = Offer(MEDIASUBTYPE_RGB24, 640, 480);
  noHeader.format.reset();
  EXPECT_EQ(stream.SetFormat(noHeader), VFW_E_INVALIDMEDIATYPE);
  EXPECT_EQ(stream.SetFormat(Offer(MEDIASUBTYPE_RGB24, 640, -480)), VFW_E_INVALIDMEDIATYPE);
  EXPECT_EQ(stream.SetFormat(Offer(MEDIASUBTYPE_RGB24, 0, 480)), VFW_E_INVALIDMEDIATYPE);
  EXPECT_EQ(stream.SetFormat(Offer(MEDIASUBTYPE_RGB24, 9999999, 9999999)), VFW_E_INVALIDMEDIATYPE);
}

TEST(V4l2SourceDeviceTest, TheCurrentFormatIsOfferedAsRgb24WhenConvertible) {
  FakeV4l2DeviceConfig config = CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{800, 600}, {640, 480}})});
  Opened opened = OpenCamera(config);
  std::unique_ptr<MediaType> current;
  ASSERT_EQ(opened.device->CaptureStream().GetFormat(&current), S_OK);
  EXPECT_EQ(current->subtype, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(current->VideoInfo()->bmiHeader.biWidth, 800);
  EXPECT_EQ(current->VideoInfo()->bmiHeader.biHeight, 600);
}

TEST(V4l2SourceDeviceTest, AFailingFormatQueryFailsGetFormat) {
  auto kernel = std::make_shared<FakeV4l2System>();
  FakeV4l2Device* camera =
      kernel->AddDevice("/dev/video0", CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{640, 480}})}));
  camera->FailIoctl(VIDIOC_G_FMT, EIO);
  std::unique_ptr<V4l2SourceDevice> device;
  ASSERT_EQ(V4l2SourceDevice::Open(kernel, "/dev/video0", &device), S_OK);
  std::unique_ptr<MediaType> current;
  EXPECT_EQ(device->CaptureStream().GetFormat(&current), HresultFromErrno(EIO));
}

TEST(V4l2SourceDeviceTest, LyingSizeListsAreSkippedAndEnumerationEnds) {
  FakeV4l2Format lying{V4L2_PIX_FMT_YUYV,
                       "yuyv",
                       {FakeV4l2FrameSize::Discrete(0, 0), FakeV4l2FrameSize::Discrete(640, 480),
                        FakeV4l2FrameSize::Discrete(100000, 480)}};
  FakeV4l2Format zeroStep{V4L2_PIX_FMT_GREY, "grey", {FakeV4l2FrameSize::Stepwise(16, 640, 0, 16, 480, 0)}};
  zeroStep.sizes[0].type = V4L2_FRMSIZE_TYPE_STEPWISE;
  Opened opened = OpenCamera(CameraConfig({lying, zeroStep}));
  std::vector<SIZE> sizes;
  for (const V4l2Capability& capability : opened.device->Capabilities())
    if (!capability.emulated)
      sizes.push_back(
          SIZE{static_cast<std::int32_t>(capability.maxWidth), static_cast<std::int32_t>(capability.maxHeight)});
  // The zero-step range falls back to what TRY_FMT makes of the extremes, with step 1.
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_EQ(sizes[0], (SIZE{640, 480}));
  EXPECT_EQ(opened.device->Capabilities()[1].stepWidth, 1u);
}

TEST(V4l2SourceDeviceTest, ASingleInputHasNoCrossbar) {
  Opened opened = OpenCamera(CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{640, 480}})}));
  EXPECT_EQ(opened.device->InputSwitch(), nullptr);
}

TEST(V4l2SourceDeviceTest, SeveralInputsFormACrossbarThatSelectsTheInput) {
  FakeV4l2DeviceConfig config = CameraConfig({FakeFormat(V4L2_PIX_FMT_YUYV, {{720, 576}})}, "Capture card");
  config.inputs = {{"Television", V4L2_INPUT_TYPE_TUNER},
                   {"Composite1", V4L2_INPUT_TYPE_CAMERA},
                   {"S-Video", V4L2_INPUT_TYPE_CAMERA},
                   {"Camera", V4L2_INPUT_TYPE_CAMERA}};
  Opened opened = OpenCamera(config);
  Crossbar* crossbar = opened.device->InputSwitch();
  ASSERT_NE(crossbar, nullptr);

  long outputs = 0, inputs = 0;
  EXPECT_EQ(crossbar->GetPinCounts(&outputs, &inputs), S_OK);
  EXPECT_EQ(outputs, 1);
  EXPECT_EQ(inputs, 4);
  std::vector<long> types;
  for (long i = 0; i < inputs; ++i) {
    long related = -1, type = -1;
    EXPECT_EQ(crossbar->GetCrossbarPinInfo(true, i, &related, &type), S_OK);
    EXPECT_EQ(related, 0);
    types.push_back(type);
  }
  EXPECT_EQ(types, (std::vector<long>{PhysConn_Video_Tuner, PhysConn_Video_Composite, PhysConn_Video_SVideo,
                                      PhysConn_Video_USB}));
  long related = -1, type = -1;
  EXPECT_EQ(crossbar->GetCrossbarPinInfo(true, 4, &related, &type), E_INVALIDARG);

  EXPECT_EQ(crossbar->Route(0, 2), S_OK);
  EXPECT_EQ(opened.camera->CurrentInput(), 2u);
  EXPECT_EQ(crossbar->GetCrossbarPinInfo(false, 0, &related, &type), S_OK);
  EXPECT_EQ(related, 2);
  EXPECT_EQ(crossbar->Route(1, 0), E_INVALIDARG);
  EXPECT_EQ(crossbar->Route(0, 7), E_INVALIDARG);
  EXPECT_EQ(opened.camera->CurrentInput(), 2u);
}

TEST(V4l2SourceDeviceTest, InputNamesGiveConnectorTypes) {
  EXPECT_EQ(PhysicalTypeOfInput(V4L2_INPUT_TYPE_CAMERA, "Composite 0"), PhysConn_Video_Composite);
  EXPECT_EQ(PhysicalTypeOfInput(V4L2_INPUT_TYPE_CAMERA, "SVideo"), PhysConn_Video_SVideo);
  EXPECT_EQ(PhysicalTypeOfInput(V4L2_INPUT_TYPE_CAMERA, "Component"), PhysConn_Video_YRYBY);
  EXPECT_EQ(PhysicalTypeOfInput(V4L2_INPUT_TYPE_CAMERA, "HDMI 1"), PhysConn_Video_SerialDigital);
  EXPECT_EQ(PhysicalTypeOfInput(V4L2_INPUT_TYPE_TUNER, "Anything"), PhysConn_Video_Tuner);
  EXPECT_EQ(PhysicalTypeOfInput(V4L2_INPUT_TYPE_CAMERA, "Camera 1"), PhysConn_Video_USB);
  EXPECT_EQ(PhysicalTypeOfInput(V4L2_INPUT_TYPE_TOUCH, "Touch"), PhysConn_Video_AUX);
}

}  // namespace
}  // namespace capture
