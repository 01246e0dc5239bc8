// The streaming threads against opening, taking and closing on the caller's thread. Run under
// ThreadSanitizer as well (threaded_tests).
#include <gtest/gtest.h>

#include "tests/capture/capture_test_support.h"

namespace {

using capture_test::AddRgbCamera;
using capture_test::CaptureFixture;

class CaptureThreadingTest : public CaptureFixture {
 protected:
  void AddFastCamera(std::u16string name, bool preview) {
    fake::CameraScript& camera = AddRgbCamera(*system, std::move(name));
    camera.threaded = true;  // as fast as it can
    camera.previewPin = preview;
  }
};

// Closing detaches the callback while the source is delivering as fast as it can; reopening starts a
// new graph with a new callback. No SampleCB may reach a destroyed callback.
TEST_F(CaptureThreadingTest, DevicesCloseAndReopenWhileSourcesDeliverFlatOut) {
  AddFastCamera(u"Left", false);
  AddFastCamera(u"Right", true);
  constexpr int width = 32, height = 24;
  std::vector<unsigned char> pixels(width * height * 3);
  for (int round = 0; round < 40; ++round) {
    ASSERT_TRUE(Manager().OpenDevice(0, width, height)) << round;
    ASSERT_TRUE(Manager().OpenDevice(1, width, height)) << round;
    for (int device = 0; device < 2; ++device) {
      if (round % 4 == 0) {
        ASSERT_TRUE(Manager().GetPixels(device, pixels.data(), false, true));
        EXPECT_EQ(pixels, std::vector<unsigned char>(pixels.size(), pixels[0])) << "torn frame";
      } else if (round % 4 == 1) {
        Manager().HasNewFrame(device);
        Manager().DiscardFrame(device);
      }
    }
    Manager().CloseDevice(round % 2);
    Manager().CloseDevice(1 - round % 2);
  }
  EXPECT_EQ(system->Camera(0).sourcesAlive.load(), 0);
  EXPECT_EQ(system->Camera(1).sourcesAlive.load(), 0);
  EXPECT_GT(system->Camera(0).samplesDelivered.load(), 0u);
}

// Wrong-length samples from a fast source are reported from the streaming thread while the caller
// closes the device.
TEST_F(CaptureThreadingTest, MismatchReportsDoNotOutliveTheDevice) {
  fake::CameraScript& camera = AddRgbCamera(*system);
  camera.threaded = true;
  camera.interval = std::chrono::microseconds(200);
  camera.sampleLengths = {5, 32 * 24 * 3};
  capture_test::StdoutCapture output;
  for (int round = 0; round < 10; ++round) {
    ASSERT_TRUE(Manager().OpenDevice(0, 32, 24));
    std::vector<unsigned char> pixels(32 * 24 * 3);
    EXPECT_TRUE(Manager().GetPixels(0, pixels.data(), true, false));
    Manager().CloseDevice(0);
  }
  EXPECT_NE(output.Take().find("ERROR: SampleCB() - buffer sizes do not match\n"), std::string::npos);
  EXPECT_EQ(camera.sourcesAlive.load(), 0);
}

// The manager goes away with both devices streaming.
TEST_F(CaptureThreadingTest, ManagerDestructionStopsStreamingDevices) {
  AddFastCamera(u"Left", false);
  AddFastCamera(u"Right", false);
  ASSERT_TRUE(Manager().OpenDevice(0, 32, 24));
  ASSERT_TRUE(Manager().OpenDevice(1, 32, 24));
  std::vector<unsigned char> pixels(32 * 24 * 3);
  ASSERT_TRUE(Manager().GetPixels(1, pixels.data(), false, false));
  manager.reset();
  EXPECT_EQ(system->Camera(0).sourcesAlive.load(), 0);
  EXPECT_EQ(system->Camera(1).sourcesAlive.load(), 0);
  EXPECT_EQ(system->Camera(0).streamStops.load(), 1);
}

}  // namespace
