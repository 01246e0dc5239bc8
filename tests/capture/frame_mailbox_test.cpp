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
  // Camera `index` delivers frames as fast as it can, each filled with its number (32 bits,
  // repeated), so that a torn frame or an old one shows.
  void Stream(int index) {
    pushers.emplace_back([this, index] {
      std::vector<std::uint8_t> frame(kFrameBytes);
      for (std::uint32_t n = 1; !stop; ++n) {
        for (std::size_t at = 0; at < kFrameBytes; ++at) frame[at] = static_cast<std::uint8_t>(n >> (8 * (at % 4)));
        cameras->Push(index, frame);
      }
    });
  }

  std::shared_ptr<testkit::FakeCameras> cameras = std::make_shared<testkit::FakeCameras>();
  capture::CaptureManager manager{cameras->Backend()};
  std::atomic<bool> stop{false};
  std::vector<std::thread> pushers;
};

// Device 0 is taken from while camera 1 delivers too; then the devices close and reopen in turn.
TEST_F(FlatOut, EveryFrameTakenIsWholeAndNewerAndDevicesCloseAndReopenWhileTheirCamerasDeliver) {
  ASSERT_TRUE(manager.OpenDevice(0, kWidth, kHeight));
  Stream(0);
  Stream(1);
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
  manager.CloseDevice(0);
  for (int round = 0; round < 50; ++round) {
    ASSERT_TRUE(manager.OpenDevice(round % 2, kWidth, kHeight));
    EXPECT_TRUE(manager.GetPixels(round % 2, pixels.data(), false, false));
    manager.CloseDevice(round % 2);
  }
  EXPECT_EQ(cameras->OpenCount(), 0);
}

}  // namespace
