// The frame hand-over under threads: frames pushed flat out from a streaming thread while the main
// thread takes them, closes and reopens. Run under ThreadSanitizer in CI (threaded_tests).
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "capture/capture_manager.h"
#include "testing/fake_cameras.h"

namespace {

constexpr int kWidth = 64, kHeight = 48;
constexpr std::size_t kFrameBytes = kWidth * kHeight * 3;

class FlatOut : public testing::Test {
 protected:
  FlatOut() {
    for (int i = 0; i < 2; ++i)
      cameras->Add().capabilities = {testkit::Sizes(capture::MEDIASUBTYPE_RGB24, kWidth, kHeight)};
  }
  ~FlatOut() override {
    stop = true;
    for (std::thread& t : pushers) t.join();
  }
  // Camera `index` delivers frames of `length` bytes as fast as it can, each filled with its number
  // (32 bits, repeated), so that a torn frame or an old one shows.
  void Stream(int index, std::size_t length) {
    pushers.emplace_back([this, index, length] {
      std::vector<std::uint8_t> frame(length);
      for (std::uint32_t n = 1; !stop; ++n) {
        for (std::size_t at = 0; at < length; ++at) frame[at] = static_cast<std::uint8_t>(n >> (8 * (at % 4)));
        cameras->Push(index, frame);
      }
    });
  }

  std::shared_ptr<testkit::FakeCameras> cameras = std::make_shared<testkit::FakeCameras>();
  capture::CaptureManager manager{cameras->Backend()};
  std::atomic<bool> stop{false};
  std::vector<std::thread> pushers;
};

TEST_F(FlatOut, EveryFrameTakenIsWholeAndNewerThanTheOneBefore) {
  ASSERT_TRUE(manager.OpenDevice(0, kWidth, kHeight));
  Stream(0, kFrameBytes);
  std::vector<unsigned char> pixels(kFrameBytes);
  std::uint32_t previous = 0;
  for (int taken = 0; taken < 300; ++taken) {
    ASSERT_TRUE(manager.GetPixels(0, pixels.data(), false, true));
    std::uint32_t number = 0;
    std::memcpy(&number, pixels.data(), sizeof number);
    for (std::size_t at = 0; at < kFrameBytes; at += 4)
      ASSERT_EQ(std::memcmp(&pixels[at], &number, 4), 0) << "a frame was written while it was read";
    ASSERT_GT(number, previous) << "a frame taken twice, or an older one after a newer";
    previous = number;
  }
}

TEST_F(FlatOut, DevicesCloseAndReopenWhileTheirCamerasDeliver) {
  Stream(0, kFrameBytes);
  Stream(1, kFrameBytes);
  std::vector<unsigned char> pixels(kFrameBytes);
  for (int round = 0; round < 50; ++round) {
    ASSERT_TRUE(manager.OpenDevice(round % 2, kWidth, kHeight));
    EXPECT_TRUE(manager.GetPixels(round % 2, pixels.data(), false, false));
    manager.CloseDevice(round % 2);
  }
  EXPECT_EQ(cameras->OpenCount(), 0);
}

TEST_F(FlatOut, NothingIsReportedOnceTheDeviceIsClosed) {
  ASSERT_TRUE(manager.OpenDevice(0, kWidth, kHeight));
  testing::internal::CaptureStdout();
  Stream(0, kFrameBytes + 1);  // every frame is refused with a message
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  manager.CloseDevice(0);
  std::fflush(stdout);
  const std::string before = testing::internal::GetCapturedStdout();
  testing::internal::CaptureStdout();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_NE(before.find("ERROR: SampleCB() - buffer sizes do not match\n"), std::string::npos);
}

}  // namespace
