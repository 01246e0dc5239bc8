// Format negotiation: the size asked for, the subtype order, and the fallback to the device's format.
#include <climits>
#include <cstdlib>
#include <random>

#include <gtest/gtest.h>

#include "tests/capture/capture_test_support.h"

namespace {

using capture_test::CaptureFixture;
using capture_test::StdoutCapture;
using capture_test::VerboseScope;

class FormatNegotiationTest : public CaptureFixture {
 protected:
  fake::CameraScript& Camera(std::vector<fake::Capability> capabilities) {
    fake::CameraScript& camera = system->AddCamera();
    camera.capture.current = capture::MakeVideoType(capture::MEDIASUBTYPE_RGB24, 640, 480);
    camera.capture.capabilities = std::move(capabilities);
    return camera;
  }
  // Opens device 0 with messages on; returns what was printed between the device name and the
  // callback message (the negotiation's own lines).
  std::string Open(int width, int height) {
    VerboseScope verbose;
    StdoutCapture output;
    opened = Manager().OpenDevice(0, width, height);
    const std::string printed = output.Take();
    const std::string before = "SETUP: Couldn't find preview pin using SmartTee\n";
    const std::size_t start = printed.find(before);
    const std::size_t end = printed.find("SETUP: Capture callback set\n");
    if (start == std::string::npos || end == std::string::npos) return printed;
    return printed.substr(start + before.size(), end - start - before.size());
  }
  static std::pair<int, int> SizeOf(const capture::MediaType& type) {
    return {type.VideoInfo()->bmiHeader.biWidth, type.VideoInfo()->bmiHeader.biHeight};
  }
  std::pair<int, int> FrameSize() {
    int width = -1, height = -1;
    EXPECT_TRUE(Manager().GetFrameSize(0, &width, &height));
    return {width, height};
  }

  bool opened = false;
};

TEST_F(FormatNegotiationTest, SizeInsideARangeIsTakenExactlyWithoutMessage) {
  fake::CameraScript& camera = Camera({fake::SizeRange(capture::MEDIASUBTYPE_RGB24, 160, 120, 1280, 960, 8, 8)});
  EXPECT_EQ(Open(1024, 768),
            "SETUP: Setting capture size to 1024 by 768 \n"
            "SETUP: Media Type is RGB24 no conversion needed\n");
  ASSERT_TRUE(opened);
  ASSERT_EQ(camera.capture.offers.size(), 1u);
  EXPECT_EQ(SizeOf(camera.capture.offers[0]), std::make_pair(1024, 768));
  EXPECT_EQ(FrameSize(), std::make_pair(1024, 768));
  EXPECT_EQ(Manager().DeviceRecord(0)->requestedWidth, 1024);
}

TEST_F(FormatNegotiationTest, ClosestSizeByTheSumOfDifferences) {
  fake::CameraScript& camera = Camera({fake::FixedSize(capture::MEDIASUBTYPE_RGB24, 640, 480),
                                       fake::FixedSize(capture::MEDIASUBTYPE_RGB24, 1280, 720)});
  EXPECT_EQ(Open(1024, 768),
            "SETUP: 1024 by 768 not supported closest supported size is 1280 720\n"
            "SETUP: Setting capture size to 1280 by 720 \n"
            "SETUP: Media Type is RGB24 no conversion needed\n");
  EXPECT_EQ(SizeOf(camera.capture.offers.at(0)), std::make_pair(1280, 720));
  EXPECT_EQ(FrameSize(), std::make_pair(1280, 720));
  // The record keeps what was asked for.
  EXPECT_EQ(Manager().DeviceRecord(0)->requestedWidth, 1024);
  EXPECT_EQ(Manager().DeviceRecord(0)->requestedHeight, 768);
}

TEST_F(FormatNegotiationTest, EquallyCloseCandidatesKeepTheSmaller) {
  Camera({fake::SizeRange(capture::MEDIASUBTYPE_RGB24, 640, 480, 660, 480, 20, 1)});
  EXPECT_EQ(Open(650, 480).find("SETUP: 650 by 480 not supported closest supported size is 640 480\n"), 0u);
  EXPECT_EQ(FrameSize(), std::make_pair(640, 480));
}

TEST_F(FormatNegotiationTest, EquallyCloseCapabilitiesKeepTheFirst) {
  Camera(
      {fake::FixedSize(capture::MEDIASUBTYPE_RGB24, 600, 480), fake::FixedSize(capture::MEDIASUBTYPE_RGB24, 700, 480)});
  Open(650, 480);
  EXPECT_EQ(FrameSize(), std::make_pair(600, 480));
}

TEST_F(FormatNegotiationTest, ExactAxesInDifferentCapabilitiesAreNotExact) {
  Camera({fake::FixedSize(capture::MEDIASUBTYPE_RGB24, 1024, 600),
          fake::FixedSize(capture::MEDIASUBTYPE_RGB24, 800, 768)});
  EXPECT_EQ(Open(1024, 768).find("SETUP: 1024 by 768 not supported closest supported size is 1024 600\n"), 0u);
  EXPECT_EQ(FrameSize(), std::make_pair(1024, 600));
}

TEST_F(FormatNegotiationTest, ExactCapabilityEndsTheSearch) {
  fake::Capability unreadable = fake::FixedSize(capture::MEDIASUBTYPE_RGB24, 1, 1);
  unreadable.result = capture::E_FAIL;
  Camera({fake::FixedSize(capture::MEDIASUBTYPE_RGB24, 320, 240),
          fake::FixedSize(capture::MEDIASUBTYPE_RGB24, 640, 480), unreadable});
  EXPECT_EQ(Open(640, 480).find("not supported"), std::string::npos);
  EXPECT_EQ(FrameSize(), std::make_pair(640, 480));
}

TEST_F(FormatNegotiationTest, Yuy2OnlyDeviceIsOfferedTheRgbTypesFirst) {
  fake::CameraScript& camera = Camera({fake::SizeRange(capture::MEDIASUBTYPE_YUY2, 160, 120, 1280, 960, 8, 8)});
  EXPECT_EQ(Open(1024, 768),
            "SETUP: Setting capture size to 1024 by 768 \n"
            "SETUP: Media Type is YUY2 converted to RGB24\n");
  const capture::GUID expectedOrder[] = {capture::MEDIASUBTYPE_RGB24, capture::MEDIASUBTYPE_RGB32,
                                         capture::MEDIASUBTYPE_RGB555, capture::MEDIASUBTYPE_RGB565,
                                         capture::MEDIASUBTYPE_YUY2};
  ASSERT_EQ(camera.capture.offers.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(camera.capture.offers[i].subtype, expectedOrder[i]) << i;
    EXPECT_EQ(camera.capture.offers[i].majortype, capture::MEDIATYPE_Video);
    EXPECT_EQ(camera.capture.offers[i].formattype, capture::FORMAT_VideoInfo);
    EXPECT_EQ(SizeOf(camera.capture.offers[i]), std::make_pair(1024, 768));
  }
  EXPECT_EQ(FrameSize(), std::make_pair(1024, 768));
}

TEST_F(FormatNegotiationTest, OffersKeepTheOtherFieldsOfTheFormatRead) {
  fake::CameraScript& camera = Camera({fake::SizeRange(capture::MEDIASUBTYPE_GREY, 160, 120, 1280, 960, 8, 8)});
  camera.capture.current.format->AvgTimePerFrame = 333333;
  camera.capture.current.format->bmiHeader.biBitCount = 24;
  Open(320, 240);
  ASSERT_FALSE(camera.capture.offers.empty());
  for (const capture::MediaType& offer : camera.capture.offers) {
    EXPECT_EQ(offer.VideoInfo()->AvgTimePerFrame, 333333);
    EXPECT_EQ(offer.VideoInfo()->bmiHeader.biBitCount, 24);
  }
  EXPECT_EQ(camera.capture.offers.back().subtype, capture::MEDIASUBTYPE_GREY);
}

TEST_F(FormatNegotiationTest, SuccessCodesOtherThanOkAreRefusals) {
  fake::CameraScript& camera = Camera({fake::SizeRange(capture::MEDIASUBTYPE_RGB24, 160, 120, 1280, 960, 8, 8)});
  camera.capture.accepts = [](const capture::MediaType& type) { return type.subtype == capture::MEDIASUBTYPE_UYVY; };
  camera.capture.refusal = capture::S_FALSE;
  EXPECT_EQ(Open(640, 480),
            "SETUP: Setting capture size to 640 by 480 \n"
            "SETUP: Media Type is UYVY converted to RGB24\n");
  EXPECT_EQ(camera.capture.offers.size(), 9u);
}

TEST_F(FormatNegotiationTest, DeviceRefusingEverythingIsRestoredToItsOwnFormat) {
  fake::CameraScript& camera = Camera({fake::FixedSize(capture::MEDIASUBTYPE_RGB24, 1280, 720)});
  camera.capture.current = capture::MakeVideoType(capture::MEDIASUBTYPE_YUY2, 352, 288);
  camera.capture.accepts = [](const capture::MediaType& type) {
    return type.VideoInfo()->bmiHeader.biWidth == 352;  // only the format it has
  };
  EXPECT_EQ(Open(1024, 768),
            "SETUP: 1024 by 768 not supported closest supported size is 1280 720\n"
            "SETUP: Capture Device doesn't support 1280 by 720.  Reverting to 352 by 288\n");
  EXPECT_TRUE(opened);
  ASSERT_EQ(camera.capture.offers.size(), 19u);
  EXPECT_EQ(camera.capture.offers[18].subtype, capture::MEDIASUBTYPE_YUY2);
  EXPECT_EQ(SizeOf(camera.capture.offers[18]), std::make_pair(352, 288));
  EXPECT_EQ(FrameSize(), std::make_pair(352, 288));
  const capture::MediaType& kept = *Manager().DeviceRecord(0)->pAmMediaType;
  EXPECT_EQ(kept.subtype, capture::MEDIASUBTYPE_YUY2);
  EXPECT_EQ(SizeOf(kept), std::make_pair(352, 288));
}

TEST_F(FormatNegotiationTest, UnusableCapabilitiesAskForTheNoSizeMarker) {
  fake::CameraScript& camera = Camera({fake::FixedSize(capture::MEDIASUBTYPE_RGB24, 640, 480)});
  camera.capture.capsRecordSize = 64;
  EXPECT_EQ(Open(640, 480),
            "SETUP: 640 by 480 not supported closest supported size is 9999999 9999999\n"
            "SETUP: Capture Device doesn't support 9999999 by 9999999.  Reverting to 640 by 480\n");
  EXPECT_EQ(SizeOf(camera.capture.offers.at(0)), std::make_pair(9999999, 9999999));
  EXPECT_EQ(FrameSize(), std::make_pair(640, 480));
}

TEST_F(FormatNegotiationTest, ZeroCountAndFailedCountAreUnusableToo) {
  for (int variant = 0; variant < 2; ++variant) {
    system = std::make_shared<fake::FakeCameraSystem>();
    manager.reset();
    fake::CameraScript& camera = Camera({fake::FixedSize(capture::MEDIASUBTYPE_RGB24, 640, 480)});
    if (variant == 0)
      camera.capture.capsCountOverride = 0;
    else
      camera.capture.capsCountResult = capture::E_FAIL;
    EXPECT_NE(Open(640, 480).find("closest supported size is 9999999 9999999\n"), std::string::npos) << variant;
    EXPECT_EQ(FrameSize(), std::make_pair(640, 480));
  }
}

TEST_F(FormatNegotiationTest, CapabilitiesWithoutGranularityAreSkipped) {
  fake::Capability noStep = fake::FixedSize(capture::MEDIASUBTYPE_RGB24, 1024, 768);
  noStep.caps.OutputGranularityY = 0;
  Camera({noStep, fake::FixedSize(capture::MEDIASUBTYPE_RGB24, 800, 600)});
  EXPECT_NE(Open(1024, 768).find("closest supported size is 800 600\n"), std::string::npos);
  EXPECT_EQ(FrameSize(), std::make_pair(800, 600));
}

TEST_F(FormatNegotiationTest, SizeOfAnyCapabilityIsOfferedWithTheFixedSubtypeOrder) {
  // The closest size comes from a YUY2 capability; RGB24 takes it as well and is offered first.
  fake::CameraScript& camera = Camera({fake::FixedSize(capture::MEDIASUBTYPE_YUY2, 800, 600)});
  camera.capture.accepts = [](const capture::MediaType&) { return true; };
  Open(1024, 768);
  ASSERT_EQ(camera.capture.offers.size(), 1u);
  EXPECT_EQ(camera.capture.offers[0].subtype, capture::MEDIASUBTYPE_RGB24);
  EXPECT_EQ(FrameSize(), std::make_pair(800, 600));
}

TEST_F(FormatNegotiationTest, WideRangesNeedNoWalk) {
  Camera({fake::SizeRange(capture::MEDIASUBTYPE_RGB24, 1, 1, INT_MAX, INT_MAX, 1, 1)});
  EXPECT_EQ(Open(1024, 768).find("not supported"), std::string::npos);
  EXPECT_EQ(FrameSize(), std::make_pair(1024, 768));
}

// The size asked for matches a literal walk over every candidate, for random capability lists.
TEST_F(FormatNegotiationTest, ClosestSizeMatchesAStepByStepWalk) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> small(1, 300), step(-1, 40), count(1, 4);
  for (int trial = 0; trial < 200; ++trial) {
    system = std::make_shared<fake::FakeCameraSystem>();
    manager.reset();
    std::vector<fake::Capability> capabilities;
    for (int c = count(random); c > 0; --c) {
      const int minW = small(random), minH = small(random);
      capabilities.push_back(fake::SizeRange(capture::MEDIASUBTYPE_RGB24, minW, minH, minW + small(random) - 30,
                                             minH + small(random) - 30, step(random), step(random)));
    }
    const int askedW = small(random) + 100, askedH = small(random) + 50;

    // The reference: every candidate visited in rising order.
    long long closestW = 9999999, closestH = 9999999;
    bool exact = false;
    for (const fake::Capability& capability : capabilities) {
      const auto& caps = capability.caps;
      if (caps.OutputGranularityX < 1 || caps.OutputGranularityY < 1) continue;
      long long bestW = 999999, bestH = 999999;
      bool exactW = false, exactH = false;
      for (long long w = caps.MinOutputSize.cx; w <= caps.MaxOutputSize.cx; w += caps.OutputGranularityX) {
        if (w == askedW) {
          exactW = true;
          bestW = w;
        } else if (std::llabs(askedW - w) < std::llabs(askedW - bestW)) {
          bestW = w;
        }
      }
      for (long long h = caps.MinOutputSize.cy; h <= caps.MaxOutputSize.cy; h += caps.OutputGranularityY) {
        if (h == askedH) {
          exactH = true;
          bestH = h;
        } else if (std::llabs(askedH - h) < std::llabs(askedH - bestH)) {
          bestH = h;
        }
      }
      if (exactW && exactH) {
        exact = true;
        break;
      }
      if (std::llabs(askedW - bestW) + std::llabs(askedH - bestH) <
          std::llabs(askedW - closestW) + std::llabs(askedH - closestH)) {
        closestW = bestW;
        closestH = bestH;
      }
    }
    const std::pair<int, int> expected =
        exact ? std::make_pair(askedW, askedH) : std::make_pair(static_cast<int>(closestW), static_cast<int>(closestH));

    fake::CameraScript& camera = Camera(capabilities);
    camera.capture.accepts = [](const capture::MediaType&) { return true; };
    Open(askedW, askedH);
    ASSERT_FALSE(camera.capture.offers.empty());
    EXPECT_EQ(SizeOf(camera.capture.offers[0]), expected) << "trial " << trial;
  }
}

}  // namespace
