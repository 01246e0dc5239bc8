// The capture manager over fake cameras: what opening and closing print, to the space, for every way a
// camera can let the graph down; the size and subtype negotiated from its offers; the frames handed over.
#include "capture/capture_manager.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "testing/fake_cameras.h"

namespace {

using capture::CaptureManager;
using capture::MEDIASUBTYPE_RGB24;
using testkit::Sizes;
using Bytes = std::vector<unsigned char>;

// What `run` prints, with the capture layer's diagnostics switched on or off for it.
std::string Printed(const std::function<void()>& run, bool verbose = true) {
  const bool was = capture::verbose;
  capture::verbose = verbose;
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  run();
  std::fflush(stdout);
  capture::verbose = was;
  return testing::internal::GetCapturedStdout();
}

// RGB24 from 8 x 8 to 1280 x 960 in steps of 8; 640 x 480 to begin with.
testkit::FakeCamera& AddRgbCamera(testkit::FakeCameras& cameras) {
  testkit::FakeCamera& camera = cameras.Add();
  camera.capabilities = {Sizes(MEDIASUBTYPE_RGB24, 8, 8, 1280, 960, 8, 8)};
  return camera;
}

// The teardown's lines: what it frees, the filters it removes (newest first), and the graph.
std::string Teardown(const std::string& freed, const std::vector<std::string>& filters) {
  std::string text = "\nSETUP: Disconnecting device 0\n" + freed;
  for (const std::string& f : filters)
    text += "SETUP: removing filter " + f + "...\nSETUP: filter removed " + f + "  \n";
  return text + "SETUP: freeing Capture Graph \nSETUP: freeing Main Graph \nSETUP: Device 0 disconnected and freed\n\n";
}

const std::string kOpening = "SETUP: Setting up device 0\nSETUP: Fake Camera\n";
const std::string kTee = "SETUP: Couldn't find preview pin using SmartTee\n";
std::string Taken(int width, int height, const std::string& subtype = "RGB24 no conversion needed") {
  return "SETUP: Setting capture size to " + std::to_string(width) + " by " + std::to_string(height) +
         " \nSETUP: Media Type is " + subtype + "\n";
}
const std::string kRgb24 = Taken(640, 480);
const std::string kCallback = "SETUP: Capture callback set\n";
const std::string kReady = "SETUP: Device is setup and ready to capture.\n\n";
const std::string kFreed = "SETUP: freeing Grabber  \nSETUP: freeing Control   \nSETUP: freeing Media Type  \n";
const std::string kRan = "SETUP: freeing Grabber Callback\n" + kFreed;
const std::string kBuilt =
    "SETUP: freeing Grabber Callback\nSETUP: freeing Renderer \nSETUP: freeing Capture Source \n"
    "SETUP: freeing Grabber Filter  \n" +
    kFreed;
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
        // Names are printed as the low byte of each unit, and a name taken in the graph gets a number.
        OpenCase{"PreviewPinAndANonAsciiName", [](auto& c) { c.previewPin = true, c.name = u"Kamera \u0160"; }, true,
                 "SETUP: Setting up device 0\nSETUP: Kamera \x60\n" + kRgb24 + kCallback + kReady +
                     Teardown(kRan, {"NullRenderer", "Sample Grabber", "Kamera \x60"})},
        OpenCase{"NamedLikeTheGrabber", [](auto& c) { c.name = u"Sample Grabber"; }, true,
                 "SETUP: Setting up device 0\nSETUP: Sample Grabber\n" + kTee + kRgb24 + kCallback + kReady +
                     Teardown(kRan, {"Smart Tee", "NullRenderer", "Sample Grabber 0001", "Sample Grabber"})},
        OpenCase{"Yuy2Only", [](auto& c) { c.capabilities = {Sizes(capture::MEDIASUBTYPE_YUY2, 640, 480)}; }, true,
                 kOpening + kTee + Taken(640, 480, "YUY2 converted to RGB24") + kCallback + kReady +
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
                     Teardown("SETUP: freeing Control   \n", {})}),
    [](const testing::TestParamInfo<OpenCase>& info) { return std::string(info.param.name); });

struct Negotiation {
  const char* name;
  std::vector<capture::Capability> capabilities;
  int width, height;    // requested
  std::string printed;  // between the preview line and the callback line
  int frameWidth, frameHeight;
  std::size_t offers;
};

class FormatNegotiation : public testing::TestWithParam<Negotiation> {};

TEST_P(FormatNegotiation, AsksTakesAndSizesAsTheCapabilitiesSay) {
  const Negotiation& n = GetParam();
  auto cameras = std::make_shared<testkit::FakeCameras>();
  testkit::FakeCamera& camera = cameras->Add();  // 640 x 480 RGB24 until set otherwise
  camera.capabilities = n.capabilities;
  capture::CaptureManager manager(cameras->Backend());
  const std::string printed = Printed([&] { ASSERT_TRUE(manager.OpenDevice(0, n.width, n.height)); });
  const std::size_t begin = printed.find(kTee) + kTee.size();
  EXPECT_EQ(printed.substr(begin, printed.find(kCallback) - begin), n.printed);
  int width = 0, height = 0;
  EXPECT_EQ(manager.GetFrameSize(0, &width, &height), n.frameWidth > 0) << "false without a frame size";
  EXPECT_EQ(std::pair(width, height), std::pair(n.frameWidth, n.frameHeight));
  EXPECT_EQ(camera.offers.size(), n.offers);
  EXPECT_TRUE(n.offers == 0 || camera.offers[0].subtype == MEDIASUBTYPE_RGB24) << "RGB24 is offered first";
}

std::string Closest(const std::string& asked, const std::string& closest) {
  return "SETUP: " + asked + " not supported closest supported size is " + closest + "\n";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Offers, FormatNegotiation, testing::Values(
    Negotiation{"ARangeTakesTheSizeExactly", {Sizes(MEDIASUBTYPE_RGB24, 160, 120, 1280, 960, 8, 8)}, 1024, 768,
                Taken(1024, 768), 1024, 768, 1},
    Negotiation{"ClosestBySumOfDifferences",
                {Sizes(MEDIASUBTYPE_RGB24, 640, 480), Sizes(MEDIASUBTYPE_RGB24, 1280, 720)}, 1024, 768,
                Closest("1024 by 768", "1280 720") + Taken(1280, 720), 1280, 720, 1},
    Negotiation{"EquallyCloseCandidatesKeepTheSmaller", {Sizes(MEDIASUBTYPE_RGB24, 640, 480, 660, 480, 20, 1)}, 650,
                480, Closest("650 by 480", "640 480") + Taken(640, 480), 640, 480, 1},
    Negotiation{"EquallyCloseCapabilitiesKeepTheFirst",
                {Sizes(MEDIASUBTYPE_RGB24, 700, 480), Sizes(MEDIASUBTYPE_RGB24, 600, 480)}, 650, 480,
                Closest("650 by 480", "700 480") + Taken(700, 480), 700, 480, 1},
    Negotiation{"ExactAxesInTwoCapabilitiesAreNotExact",
                {Sizes(MEDIASUBTYPE_RGB24, 1024, 600), Sizes(MEDIASUBTYPE_RGB24, 800, 768)}, 1024, 768,
                Closest("1024 by 768", "1024 600") + Taken(1024, 600), 1024, 600, 1},
    Negotiation{"StepsBelowOneAreSkipped",
                {Sizes(MEDIASUBTYPE_RGB24, 64, 48, 1024, 768, 0, 1), Sizes(MEDIASUBTYPE_RGB24, 320, 240)}, 1024, 768,
                Closest("1024 by 768", "320 240") + Taken(320, 240), 320, 240, 1},
    Negotiation{"TheSubtypeComesByTheFixedOrder",
                {Sizes(capture::MEDIASUBTYPE_IYUV, 320, 240), Sizes(capture::MEDIASUBTYPE_YUY2, 320, 240)}, 320, 240,
                Taken(320, 240, "YUY2 converted to RGB24"), 320, 240, 5},
    Negotiation{"NoCapabilitiesAskForTheMarkerSize", {}, 1024, 768,
                Closest("1024 by 768", "9999999 9999999") +
                    "SETUP: Capture Device doesn't support 9999999 by 9999999.  Reverting to 640 by 480\n",
                640, 480, 19},
    Negotiation{"ASizeBeyondAnIntOfBytesLeavesNoFrames", {Sizes(MEDIASUBTYPE_RGB24, 32768, 32768)}, 32768, 32768,
                Taken(32768, 32768) + "ERROR: 32768 by 32768 is not a usable frame size\n", 0, 0, 1}),
    [](const testing::TestParamInfo<Negotiation>& info) { return std::string(info.param.name); });
// clang-format on

class FrameHandOver : public testing::Test {
 protected:
  FrameHandOver() {
    for (int i = 0; i < 2; ++i) cameras->Add().capabilities = {Sizes(MEDIASUBTYPE_RGB24, 1, 1, 64, 64)};
    EXPECT_TRUE(manager.OpenDevice(0, 2, 2));
  }
  std::shared_ptr<testkit::FakeCameras> cameras = std::make_shared<testkit::FakeCameras>();
  CaptureManager manager{cameras->Backend()};
};

TEST_F(FrameHandOver, TheFirstFrameSinceTheLastTakeWinsAndFramesOfAnotherLengthAreNeverStored) {
  const Bytes first = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  EXPECT_FALSE(manager.HasNewFrame(0));
  ASSERT_TRUE(cameras->Push(0, first));
  ASSERT_TRUE(cameras->Push(0, Bytes(12, 0x77)));  // dropped: a frame waits
  EXPECT_TRUE(manager.HasNewFrame(0));
  Bytes pixels(13, 0xEE);
  ASSERT_TRUE(manager.GetPixels(0, pixels.data(), true, true));
  EXPECT_EQ(pixels, (Bytes{9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4, 0xEE}));
  EXPECT_FALSE(manager.HasNewFrame(0));
  ASSERT_TRUE(cameras->Push(0, Bytes(12, 0x55)));
  ASSERT_TRUE(manager.GetPixels(0, pixels.data(), false, false));
  const Bytes plain = {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0xEE};
  EXPECT_EQ(pixels, plain);
  const std::string line = "ERROR: SampleCB() - buffer sizes do not match\n";
  const auto push = [&] {
    for (std::size_t n : {11u, 13u, 0u}) cameras->Push(0, Bytes(n, 1));
  };
  EXPECT_EQ(Printed(push, /*verbose=*/false), line + line + line);
  EXPECT_FALSE(manager.HasNewFrame(0));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(manager.GetPixels(0, pixels.data(), false, true));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(990)) << "waits its second";
  EXPECT_EQ(pixels, plain);
}

TEST_F(FrameHandOver, AClosedDeviceHandsOutNothingAndOpensAgainAndEveryOpenRecounts) {
  ASSERT_TRUE(cameras->Push(0, Bytes(12, 1)));
  manager.CloseDevice(0);
  EXPECT_FALSE(manager.IsDeviceReady(0));
  EXPECT_FALSE(manager.HasNewFrame(0));
  EXPECT_FALSE(cameras->Push(0, Bytes(12, 1))) << "the stream stopped";
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
  EXPECT_FALSE(manager.OpenDevice(0, 2, 2)) << "already open";
}

// The banner opens a verbose run; a number without a device is refused, saying which ones exist unless
// it is beyond every device the manager can hold; destruction closes every device in order.
TEST(CaptureManagerTest, RefusesNumbersWithoutADeviceAndDestructionClosesEveryDeviceInOrder) {
  auto cameras = std::make_shared<testkit::FakeCameras>();
  for (int i = 0; i < 2; ++i) AddRgbCamera(*cameras);
  const std::string printed = Printed([&] {
    CaptureManager manager(cameras->Backend());
    for (int device : {20, -1, 2}) EXPECT_FALSE(manager.OpenDevice(device, 64, 48)) << device;
    manager.OpenDevice(1, 64, 48);
    manager.OpenDevice(0, 64, 48);
  });
  EXPECT_TRUE(
      printed.starts_with("\n***** KESTRALINE LIBRARY - 0.1991 - QELIX *****\n\n"
                          "SETUP: device[2] not found - you have 2 devices available\n"
                          "SETUP: this means that the last device you can use is device[1] \n"
                          "SETUP: Setting up device 1\n"))
      << printed;
  EXPECT_LT(printed.find("Disconnecting device 0"), printed.find("Disconnecting device 1"));
  EXPECT_EQ(cameras->OpenCount(), 0);
}

}  // namespace
