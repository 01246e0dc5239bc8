// Format negotiation for the offers of a camera: the size asked for (the requested one, or the
// closest offered), the subtype taken in the fixed order, what is printed, and the frame size.
#include <gtest/gtest.h>

#include "tests/capture/capture_test_support.h"

namespace {

using capture::MEDIASUBTYPE_RGB24;
using testkit::Sizes;

struct Negotiation {
  const char* name;
  std::vector<capture::Capability> capabilities;
  int width, height;    // requested
  std::string printed;  // between the preview line and the callback line
  int frameWidth, frameHeight;
  std::size_t offers;
  bool refusesAll = false;
};

class FormatNegotiation : public testing::TestWithParam<Negotiation> {};

TEST_P(FormatNegotiation, AsksTakesAndSizesAsTheCapabilitiesSay) {
  const Negotiation& n = GetParam();
  auto cameras = std::make_shared<testkit::FakeCameras>();
  testkit::FakeCamera& camera = cameras->Add();  // 640 x 480 RGB24 until set otherwise
  camera.capabilities = n.capabilities;
  if (n.refusesAll) camera.accepts = [](const capture::StreamFormat&) { return false; };
  capture::CaptureManager manager(cameras->Backend());
  const std::string printed = capture_test::Printed([&] { ASSERT_TRUE(manager.OpenDevice(0, n.width, n.height)); });
  const std::string from = "SmartTee\n", to = "SETUP: Capture callback set\n";
  const std::size_t begin = printed.find(from) + from.size();
  EXPECT_EQ(printed.substr(begin, printed.find(to) - begin), n.printed);
  int width = 0, height = 0;
  EXPECT_EQ(manager.GetFrameSize(0, &width, &height), n.frameWidth > 0) << "false without a frame size";
  EXPECT_EQ(width, n.frameWidth);
  EXPECT_EQ(height, n.frameHeight);
  EXPECT_EQ(camera.offers.size(), n.offers);
  if (n.offers) {
    EXPECT_EQ(camera.offers[0].subtype, MEDIASUBTYPE_RGB24) << "RGB24 is offered first";
  }
}

std::string Taken(int width, int height, const std::string& subtype = "RGB24 no conversion needed") {
  return "SETUP: Setting capture size to " + std::to_string(width) + " by " + std::to_string(height) +
         " \nSETUP: Media Type is " + subtype + "\n";
}
std::string Closest(const std::string& asked, const std::string& closest) {
  return "SETUP: " + asked + " not supported closest supported size is " + closest + "\n";
}

Negotiation Row(const char* name, std::vector<capture::Capability> capabilities, int width, int height,
                std::string printed, int frameWidth, int frameHeight, std::size_t offers, bool refusesAll = false) {
  return {name,      std::move(capabilities), width, height, std::move(printed), frameWidth, frameHeight, offers,
          refusesAll};
}

const std::string kReverted = "SETUP: Capture Device doesn't support ";

INSTANTIATE_TEST_SUITE_P(
    Offers, FormatNegotiation,
    testing::Values(
        Row("ARangeTakesTheSizeExactly", {Sizes(MEDIASUBTYPE_RGB24, 160, 120, 1280, 960, 8, 8)}, 1024, 768,
            Taken(1024, 768), 1024, 768, 1),
        Row("ClosestBySumOfDifferences", {Sizes(MEDIASUBTYPE_RGB24, 640, 480), Sizes(MEDIASUBTYPE_RGB24, 1280, 720)},
            1024, 768, Closest("1024 by 768", "1280 720") + Taken(1280, 720), 1280, 720, 1),
        Row("EquallyCloseCandidatesKeepTheSmaller", {Sizes(MEDIASUBTYPE_RGB24, 640, 480, 660, 480, 20, 1)}, 650, 480,
            Closest("650 by 480", "640 480") + Taken(640, 480), 640, 480, 1),
        Row("EquallyCloseCapabilitiesKeepTheFirst",
            {Sizes(MEDIASUBTYPE_RGB24, 700, 480), Sizes(MEDIASUBTYPE_RGB24, 600, 480)}, 650, 480,
            Closest("650 by 480", "700 480") + Taken(700, 480), 700, 480, 1),
        Row("ExactAxesInTwoCapabilitiesAreNotExact",
            {Sizes(MEDIASUBTYPE_RGB24, 1024, 600), Sizes(MEDIASUBTYPE_RGB24, 800, 768)}, 1024, 768,
            Closest("1024 by 768", "1024 600") + Taken(1024, 600), 1024, 600, 1),
        Row("StepsBelowOneAreSkipped",
            {Sizes(MEDIASUBTYPE_RGB24, 64, 48, 1024, 768, 0, 1), Sizes(MEDIASUBTYPE_RGB24, 320, 240)}, 1024, 768,
            Closest("1024 by 768", "320 240") + Taken(320, 240), 320, 240, 1),
        Row("TheSubtypeComesByTheFixedOrder",
            {Sizes(capture::MEDIASUBTYPE_IYUV, 320, 240), Sizes(capture::MEDIASUBTYPE_YUY2, 320, 240)}, 320, 240,
            Taken(320, 240, "YUY2 converted to RGB24"), 320, 240, 5),
        Row("RefusingEverythingRevertsToTheCamerasSize", {Sizes(MEDIASUBTYPE_RGB24, 320, 240)}, 320, 240,
            kReverted + "320 by 240.  Reverting to 640 by 480\n", 640, 480, 19, true),
        Row("NoCapabilitiesAskForTheMarkerSize", {}, 1024, 768,
            Closest("1024 by 768", "9999999 9999999") + kReverted + "9999999 by 9999999.  Reverting to 640 by 480\n",
            640, 480, 19),
        Row("ASizeBeyondAnIntOfBytesLeavesNoFrames", {Sizes(MEDIASUBTYPE_RGB24, 32768, 32768)}, 32768, 32768,
            Taken(32768, 32768) + "ERROR: 32768 by 32768 is not a usable frame size\n", 0, 0, 1)),
    [](const testing::TestParamInfo<Negotiation>& info) { return std::string(info.param.name); });

}  // namespace
