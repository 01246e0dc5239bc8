// Frame delivery: the one-frame mailbox between a streaming thread and the caller.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "tests/capture/capture_test_support.h"

namespace {

using capture_test::AddRgbCamera;
using capture_test::CaptureFixture;
using capture_test::StdoutCapture;
using capture_test::VerboseScope;

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr long kFrameBytes = kWidth * kHeight * 3;

class FrameDeliveryTest : public CaptureFixture {
 protected:
  void SetUp() override {
    camera = &AddRgbCamera(*system);
    ASSERT_TRUE(Manager().OpenDevice(0, kWidth, kHeight));
  }
  // A frame whose bytes count up from `first`.
  static std::vector<std::uint8_t> Frame(std::uint8_t first) {
    std::vector<std::uint8_t> bytes(kFrameBytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
  }
  std::vector<unsigned char> Take() {
    std::vector<unsigned char> pixels(kFrameBytes, 0);
    EXPECT_TRUE(Manager().GetPixels(0, pixels.data(), false, false));
    return pixels;
  }

  fake::CameraScript* camera = nullptr;
};

TEST_F(FrameDeliveryTest, FirstSampleAfterATakeWinsAndLaterOnesAreDropped) {
  EXPECT_FALSE(Manager().HasNewFrame(0));
  ASSERT_TRUE(system->Push(0, Frame(1)));
  ASSERT_TRUE(system->Push(0, Frame(2)));
  ASSERT_TRUE(system->Push(0, Frame(3)));
  EXPECT_TRUE(Manager().HasNewFrame(0));
  EXPECT_EQ(Take(), Frame(1));
  EXPECT_FALSE(Manager().HasNewFrame(0));

  ASSERT_TRUE(system->Push(0, Frame(4)));
  ASSERT_TRUE(system->Push(0, Frame(5)));
  EXPECT_EQ(Take(), Frame(4));
}

TEST_F(FrameDeliveryTest, WrongLengthsAreRejectedAndReportedEveryTimeEvenWhenQuiet) {
  StdoutCapture output;
  ASSERT_TRUE(system->Push(0, kFrameBytes + 1, 9));
  ASSERT_TRUE(system->Push(0, kFrameBytes - 1, 9));
  ASSERT_TRUE(system->Push(0, 0, 9));
  EXPECT_EQ(output.Take(),
            "ERROR: SampleCB() - buffer sizes do not match\n"
            "ERROR: SampleCB() - buffer sizes do not match\n"
            "ERROR: SampleCB() - buffer sizes do not match\n");
  EXPECT_FALSE(Manager().HasNewFrame(0));
  EXPECT_EQ(Manager().DeviceRecord(0)->pCallback->lastSampleLength, 0);

  ASSERT_TRUE(system->Push(0, Frame(7)));
  EXPECT_EQ(Take(), Frame(7));
}

TEST_F(FrameDeliveryTest, SamplesArrivingWhileAFrameWaitsAreNotInspected) {
  ASSERT_TRUE(system->Push(0, Frame(1)));
  StdoutCapture output;
  ASSERT_TRUE(system->Push(0, 5, 0));
  EXPECT_EQ(output.Take(), "");
  EXPECT_EQ(Manager().DeviceRecord(0)->pCallback->lastSampleLength, kFrameBytes);
}

TEST_F(FrameDeliveryTest, GetPixelsWithoutAFrameWaitsASecondAndLeavesTheDestination) {
  std::vector<unsigned char> pixels(kFrameBytes, 0xAB);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Manager().GetPixels(0, pixels.data(), true, true));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(990));
  EXPECT_EQ(pixels, std::vector<unsigned char>(kFrameBytes, 0xAB));
}

TEST_F(FrameDeliveryTest, FrameArrivingDuringTheWaitIsTaken) {
  std::thread producer([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    system->Push(0, Frame(3));
  });
  std::vector<unsigned char> pixels(kFrameBytes, 0);
  EXPECT_TRUE(Manager().GetPixels(0, pixels.data(), false, false));
  producer.join();
  EXPECT_EQ(pixels, Frame(3));
}

TEST_F(FrameDeliveryTest, GetPixelsAppliesTheFlags) {
  ASSERT_TRUE(system->Push(0, Frame(0)));
  std::vector<unsigned char> pixels(kFrameBytes, 0);
  ASSERT_TRUE(Manager().GetPixels(0, pixels.data(), true, true));
  const std::vector<std::uint8_t> source = Frame(0);
  const std::size_t lastRow = (kHeight - 1) * kWidth * 3;
  EXPECT_EQ(pixels[0], source[lastRow + 2]);
  EXPECT_EQ(pixels[1], source[lastRow + 1]);
  EXPECT_EQ(pixels[2], source[lastRow + 0]);
}

TEST_F(FrameDeliveryTest, NullDestinationKeepsTheFrame) {
  ASSERT_TRUE(system->Push(0, Frame(2)));
  EXPECT_FALSE(Manager().GetPixels(0, nullptr, false, false));
  EXPECT_TRUE(Manager().HasNewFrame(0));
  EXPECT_EQ(Take(), Frame(2));
}

TEST_F(FrameDeliveryTest, DiscardTakesTheFrameOutAndRecordsItsArrival) {
  EXPECT_FALSE(Manager().DiscardFrame(0));
  EXPECT_EQ(Manager().LastFrameArrival(0), std::chrono::steady_clock::time_point{});

  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(system->Push(0, Frame(1)));
  const auto after = std::chrono::steady_clock::now();
  ASSERT_TRUE(system->Push(0, Frame(2)));  // dropped: the slot is full
  EXPECT_TRUE(Manager().DiscardFrame(0));
  EXPECT_FALSE(Manager().HasNewFrame(0));
  const auto arrival = Manager().LastFrameArrival(0);
  EXPECT_GE(arrival, before);
  EXPECT_LE(arrival, after);

  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_TRUE(system->Push(0, Frame(3)));
  EXPECT_EQ(Take(), Frame(3));
  EXPECT_GT(Manager().LastFrameArrival(0), arrival);
}

TEST_F(FrameDeliveryTest, SampleWhosePointerCannotBeReadIsDroppedSilently) {
  Manager().CloseDevice(0);
  camera->getPointerResult = capture::E_FAIL;
  ASSERT_TRUE(Manager().OpenDevice(0, kWidth, kHeight));
  StdoutCapture output;
  ASSERT_TRUE(system->Push(0, Frame(1)));
  EXPECT_EQ(output.Take(), "");
  EXPECT_FALSE(Manager().HasNewFrame(0));
}

TEST_F(FrameDeliveryTest, ClosedDeviceHandsOutNothing) {
  ASSERT_TRUE(system->Push(0, Frame(1)));
  Manager().CloseDevice(0);
  EXPECT_FALSE(Manager().HasNewFrame(0));
  EXPECT_FALSE(Manager().DiscardFrame(0));
  std::vector<unsigned char> pixels(kFrameBytes, 0);
  EXPECT_FALSE(Manager().GetPixels(0, pixels.data(), false, false));
  int width = 0, height = 0;
  EXPECT_FALSE(Manager().GetFrameSize(0, &width, &height));
}

TEST_F(FrameDeliveryTest, ThreadedSourceDeliversWholeFrames) {
  Manager().CloseDevice(0);
  camera->threaded = true;
  ASSERT_TRUE(Manager().OpenDevice(0, kWidth, kHeight));
  for (int take = 0; take < 20; ++take) {
    std::vector<unsigned char> pixels(kFrameBytes, 0);
    ASSERT_TRUE(Manager().GetPixels(0, pixels.data(), false, false));
    // Every byte of one sample carries the sample's index: a mix would mean a torn frame.
    EXPECT_EQ(pixels, std::vector<unsigned char>(kFrameBytes, pixels[0])) << "take " << take;
  }
  EXPECT_GE(camera->samplesDelivered.load(), 20u);
}

class SetFrameSizeTest : public testing::Test {};

TEST_F(SetFrameSizeTest, OnlyTheFirstSizeCounts) {
  capture::CaptureDevice device;
  device.SetFrameSize(4, 2);
  VerboseScope verbose;
  StdoutCapture output;
  device.SetFrameSize(8, 8);
  EXPECT_EQ(output.Take(), "SETUP: Error device size should not be set more than once \n");
  EXPECT_EQ(device.frameWidth, 4);
  EXPECT_EQ(device.frameHeight, 2);
  EXPECT_EQ(device.frameBytes, 24);
  EXPECT_EQ(device.pCallback->expectedLength, 24);
  EXPECT_TRUE(device.pCallback->bufferReady);
  EXPECT_TRUE(device.sizeFixed);
}

TEST_F(SetFrameSizeTest, SizesWithoutPixelsOrTooLargeLeaveTheDeviceWithoutFrames) {
  for (auto [width, height] : {std::pair{0, 480}, {640, -1}, {-640, -480}, {9999999, 9999999}}) {
    capture::CaptureDevice device;
    device.SetFrameSize(width, height);
    EXPECT_TRUE(device.sizeFixed);
    EXPECT_EQ(device.frameBytes, 0) << width << " x " << height;
    EXPECT_FALSE(device.pCallback->bufferReady);
    // Every sample is refused, including an empty one.
    std::uint8_t byte = 0;
    capture::BufferSample empty(&byte, 0);
    StdoutCapture output;
    EXPECT_EQ(device.pCallback->SampleCB(0.0, &empty), capture::S_OK);
    EXPECT_EQ(output.Take(), "ERROR: SampleCB() - buffer sizes do not match\n");
    EXPECT_FALSE(device.pCallback->frameWaiting);
  }
}

TEST(SampleGrabberCallbackTest, BufferCallbackIsNotImplemented) {
  capture::SampleGrabberCallback callback;
  std::uint8_t byte = 1;
  EXPECT_EQ(callback.BufferCB(0.0, &byte, 1), capture::E_NOTIMPL);
  EXPECT_FALSE(callback.frameEvent.IsSet());
}

TEST(ManualResetEventTest, StaysSignalledUntilReset) {
  capture::ManualResetEvent event;
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.WaitFor(std::chrono::milliseconds(1)));
  event.Set();
  EXPECT_TRUE(event.WaitFor(std::chrono::milliseconds(0)));
  EXPECT_TRUE(event.WaitFor(std::chrono::milliseconds(1000)));
  EXPECT_TRUE(event.IsSet());
  event.Reset();
  EXPECT_FALSE(event.IsSet());
}

TEST(ManualResetEventTest, WakesAWaiterWhenSet) {
  capture::ManualResetEvent event;
  std::thread setter([&event] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    event.Set();
  });
  EXPECT_TRUE(event.WaitFor(std::chrono::milliseconds(5000)));
  setter.join();
}

}  // namespace
