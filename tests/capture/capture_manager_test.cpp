// The capture manager over fake cameras: what opening and closing a device print, in order and with
// their spacing, for every way a camera can let the graph down; and the frames a caller gets.
#include <chrono>
#include <vector>

#include <gtest/gtest.h>

#include "tests/capture/capture_test_support.h"

namespace {

using capture::CaptureManager;
using capture_test::AddRgbCamera;
using capture_test::Printed;
using Bytes = std::vector<unsigned char>;

// The teardown's lines: what it frees, the filters it removes (newest first), and the graph.
std::string Teardown(const std::string& freed, const std::vector<std::string>& filters) {
  std::string text = "\nSETUP: Disconnecting device 0\n" + freed;
  for (const std::string& f : filters)
    text += "SETUP: removing filter " + f + "...\nSETUP: filter removed " + f + "  \n";
  return text + "SETUP: freeing Capture Graph \nSETUP: freeing Main Graph \nSETUP: Device 0 disconnected and freed\n\n";
}

const std::string kOpening = "SETUP: Setting up device 0\nSETUP: Fake Camera\n";
const std::string kTee = "SETUP: Couldn't find preview pin using SmartTee\n";
const std::string kRgb24 =
    "SETUP: Setting capture size to 640 by 480 \nSETUP: Media Type is RGB24 no conversion needed\n";
const std::string kCallback = "SETUP: Capture callback set\n";
const std::string kReady = "SETUP: Device is setup and ready to capture.\n\n";
const std::string kRan =
    "SETUP: freeing Grabber Callback\nSETUP: freeing Grabber  \nSETUP: freeing Control   \nSETUP: freeing Media Type  "
    "\n";
const std::string kBuilt =
    "SETUP: freeing Grabber Callback\nSETUP: freeing Renderer \nSETUP: freeing Capture Source \n"
    "SETUP: freeing Grabber Filter  \nSETUP: freeing Grabber  \nSETUP: freeing Control   \nSETUP: freeing Media Type  "
    "\n";
const std::vector<std::string> kGraph = {"Smart Tee", "NullRenderer", "Sample Grabber", "Fake Camera"};

struct OpenCase {
  const char* name;
  std::function<void(testkit::FakeCamera&)> arrange;
  bool opens;
  std::string printed;  // by OpenDevice(0, 640, 480), then CloseDevice(0)
};

class OpenAndClose : public testing::TestWithParam<OpenCase> {};

TEST_P(OpenAndClose, PrintsEveryStepAndLeavesNoCameraOpen) {
  auto cameras = std::make_shared<testkit::FakeCameras>();
  GetParam().arrange(AddRgbCamera(*cameras));
  CaptureManager manager(cameras->Backend());
  bool opened = false;
  EXPECT_EQ(Printed([&] {
              opened = manager.OpenDevice(0, 640, 480);
              manager.CloseDevice(0);
            }),
            GetParam().printed);
  EXPECT_EQ(opened, GetParam().opens);
  EXPECT_EQ(cameras->OpenCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cameras, OpenAndClose,
    testing::Values(
        OpenCase{"Rgb24", [](auto&) {}, true, kOpening + kTee + kRgb24 + kCallback + kReady + Teardown(kRan, kGraph)},
        OpenCase{
            "PreviewPin", [](auto& c) { c.previewPin = true; }, true,
            kOpening + kRgb24 + kCallback + kReady + Teardown(kRan, {"NullRenderer", "Sample Grabber", "Fake Camera"})},
        OpenCase{"Yuy2Only", [](auto& c) { c.capabilities = {testkit::Sizes(capture::MEDIASUBTYPE_YUY2, 640, 480)}; },
                 true,
                 kOpening + kTee + "SETUP: Setting capture size to 640 by 480 \n" +
                     "SETUP: Media Type is YUY2 converted to RGB24\n" + kCallback + kReady +
                     Teardown(kRan,
                              {"Color Space Converter", "Smart Tee", "NullRenderer", "Sample Grabber", "Fake Camera"})},
        OpenCase{"IncompleteFormat", [](auto& c) { c.getFormatResult = capture::S_FALSE; }, true,
                 kOpening + kTee + "ERROR: Problem setting video size\n" + kCallback + kReady + Teardown(kRan, kGraph)},
        OpenCase{"UnreadableFormat", [](auto& c) { c.getFormatResult = capture::E_FAIL; }, false,
                 kOpening + kTee + "ERROR: Couldn't getFormat for pAmMediaType!\n" +
                     Teardown("SETUP: freeing Capture Source \nSETUP: freeing Control   \nSETUP: freeing Stream  \n",
                              {"Fake Camera"})},
        OpenCase{"NoRgb24", [](auto& c) { c.deliversRgb24 = false; }, false,
                 kOpening + kTee + kRgb24 + kCallback + "ERROR: Could not connect pins - RenderStream()\n" +
                     Teardown(kBuilt, {"NullRenderer", "Sample Grabber", "Fake Camera"})},
        OpenCase{"CannotStart", [](auto& c) { c.startResult = capture::E_FAIL; }, false,
                 kOpening + kTee + kRgb24 + kCallback + "ERROR: Could not start graph\n" +
                     Teardown(kBuilt, {"Fake Camera"})},
        OpenCase{"CannotOpen", [](auto& c) { c.openResult = capture::HresultFromErrno(EBUSY); }, false,
                 "SETUP: Setting up device 0\nERROR - Could not find specified video device\n" +
                     Teardown("SETUP: freeing Control   \n", {})},
        // Names are printed as the low byte of each unit, and a name taken in the graph gets a number.
        OpenCase{"NamedLikeTheGrabber", [](auto& c) { c.name = u"Sample Grabber"; }, true,
                 "SETUP: Setting up device 0\nSETUP: Sample Grabber\n" + kTee + kRgb24 + kCallback + kReady +
                     Teardown(kRan, {"Smart Tee", "NullRenderer", "Sample Grabber 0001", "Sample Grabber"})},
        OpenCase{"NonAsciiName", [](auto& c) { c.name = u"Kamera \u0160"; }, true,
                 "SETUP: Setting up device 0\nSETUP: Kamera \x60\n" + kTee + kRgb24 + kCallback + kReady +
                     Teardown(kRan, {"Smart Tee", "NullRenderer", "Sample Grabber", "Kamera \x60"})}),
    [](const testing::TestParamInfo<OpenCase>& info) { return std::string(info.param.name); });

struct Refusal {
  int cameras, device;
  std::string printed;
};

TEST(CaptureManagerTest, RefusesNumbersWithoutADeviceAndSaysWhichOnesExist) {
  for (const Refusal& r : {Refusal{1, 1,
                                   "SETUP: device[1] not found - you have 1 devices available\n"
                                   "SETUP: this means that the last device you can use is device[0] \n"},
                           Refusal{0, 0,
                                   "SETUP: device[0] not found - you have 0 devices available\n"
                                   "SETUP: this means that the last device you can use is device[-1] \n"},
                           Refusal{1, 20, ""}, Refusal{1, -1, ""}}) {
    auto cameras = std::make_shared<testkit::FakeCameras>();
    for (int i = 0; i < r.cameras; ++i) AddRgbCamera(*cameras);
    CaptureManager manager(cameras->Backend());
    EXPECT_EQ(Printed([&] { EXPECT_FALSE(manager.OpenDevice(r.device, 640, 480)); }), r.printed) << r.device;
  }
}

class FrameHandOver : public testing::Test {
 protected:
  FrameHandOver() {
    for (int i = 0; i < 2; ++i)
      cameras->Add().capabilities = {testkit::Sizes(capture::MEDIASUBTYPE_RGB24, 1, 1, 64, 64)};
    EXPECT_TRUE(manager.OpenDevice(0, 2, 2));
  }
  std::shared_ptr<testkit::FakeCameras> cameras = std::make_shared<testkit::FakeCameras>();
  CaptureManager manager{cameras->Backend()};
};

TEST_F(FrameHandOver, TheFirstFrameSinceTheLastTakeWinsAndComesOutWithTheFlags) {
  const Bytes first = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  EXPECT_FALSE(manager.HasNewFrame(0));
  ASSERT_TRUE(cameras->Push(0, first));
  ASSERT_TRUE(cameras->Push(0, 12, 0x77));  // dropped: a frame waits
  EXPECT_TRUE(manager.HasNewFrame(0));
  Bytes pixels(13, 0xEE);
  ASSERT_TRUE(manager.GetPixels(0, pixels.data(), true, true));
  EXPECT_EQ(pixels, (Bytes{9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4, 0xEE}));
  EXPECT_FALSE(manager.HasNewFrame(0));
  ASSERT_TRUE(cameras->Push(0, 12, 0x55));
  ASSERT_TRUE(manager.GetPixels(0, pixels.data(), false, false));
  EXPECT_EQ(pixels, (Bytes{0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0xEE}));
}

TEST_F(FrameHandOver, FramesOfAnotherLengthAreAlwaysReportedAndNeverStored) {
  const std::string line = "ERROR: SampleCB() - buffer sizes do not match\n";
  EXPECT_EQ(Printed(
                [&] {
                  for (std::size_t length : {11u, 13u, 0u}) cameras->Push(0, length, 1);
                },
                /*verbose=*/false),
            line + line + line);
  EXPECT_FALSE(manager.HasNewFrame(0));
  Bytes pixels(12, 0xEE);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(manager.GetPixels(0, pixels.data(), false, true));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(990)) << "waits its second";
  EXPECT_EQ(pixels, Bytes(12, 0xEE));
}

TEST_F(FrameHandOver, AClosedDeviceHandsOutNothingAndOpensAgainAndEveryOpenRecounts) {
  ASSERT_TRUE(cameras->Push(0, 12, 1));
  manager.CloseDevice(0);
  EXPECT_FALSE(manager.IsDeviceReady(0));
  EXPECT_FALSE(manager.HasNewFrame(0));
  EXPECT_FALSE(cameras->Push(0, 12, 1)) << "the stream stopped";
  Bytes pixels(12);
  EXPECT_FALSE(manager.GetPixels(0, pixels.data(), false, false));
  EXPECT_EQ(cameras->OpenCount(), 0);
  int width = 7, height = 9;
  EXPECT_FALSE(manager.GetFrameSize(0, &width, &height));
  EXPECT_EQ(width * 100 + height, 709) << "left alone";
  ASSERT_TRUE(manager.OpenDevice(0, 16, 8));
  ASSERT_TRUE(manager.GetFrameSize(0, &width, &height));
  EXPECT_EQ(width * 100 + height, 1608);
  // Every open recounts the devices: a number beyond the new count is no longer ready.
  ASSERT_TRUE(manager.OpenDevice(1, 2, 2));
  cameras->Unplug(0);
  EXPECT_FALSE(manager.OpenDevice(2, 2, 2));  // one device left
  EXPECT_FALSE(manager.IsDeviceReady(1)) << "its number is not below the new count";
  EXPECT_TRUE(manager.IsDeviceReady(0)) << "still open, though its camera is gone";
  EXPECT_FALSE(cameras->Push(0, 12, 1));
  EXPECT_FALSE(manager.OpenDevice(0, 2, 2)) << "already open";
}

TEST(CaptureManagerTest, TheBannerOpensAVerboseRunAndDestructionClosesEveryDeviceInOrder) {
  auto cameras = std::make_shared<testkit::FakeCameras>();
  AddRgbCamera(*cameras);
  AddRgbCamera(*cameras);
  const std::string printed = Printed([&] {
    CaptureManager manager(cameras->Backend());
    manager.OpenDevice(1, 64, 48);
    manager.OpenDevice(0, 64, 48);
  });
  EXPECT_EQ(printed.rfind("\n***** KESTRALINE LIBRARY - 0.1991 - QELIX *****\n\nSETUP: Setting up device 1\n", 0), 0u);
  EXPECT_LT(printed.find("Disconnecting device 0"), printed.find("Disconnecting device 1"));
  EXPECT_EQ(cameras->OpenCount(), 0);
}

}  // namespace
