// The V4L2 backend against the machine's real /dev/video* nodes; skipped where there are none.
#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include <cstdio>

#include "capture/camera_listing.h"
#include "capture/capture_manager.h"
#include "capture/v4l2/v4l2_backend.h"
#include "capture/v4l2/v4l2_source_device.h"
#include "tests/capture/v4l2/v4l2_test_support.h"

namespace capture {
namespace {

// The first node that opens as a video capture device, or empty.
std::string FirstCaptureNode() {
  std::unique_ptr<V4l2System> kernel = MakeKernelV4l2System();
  for (const std::string& path : kernel->ListVideoNodes()) {
    std::shared_ptr<V4l2System> shared = MakeKernelV4l2System();
    std::unique_ptr<V4l2SourceDevice> device;
    if (V4l2SourceDevice::Open(shared, path, &device) == S_OK) return path;
  }
  return {};
}

TEST(V4l2RealDeviceTest, ListsAndStreamsTheFirstCamera) {
  const std::string path = FirstCaptureNode();
  if (path.empty()) GTEST_SKIP() << "no video capture device on this machine";

  std::unique_ptr<DeviceBackend> backend = MakeV4l2Backend();
  const std::string listing = ListCameras(*backend);
  EXPECT_EQ(listing.rfind("0: ", 0), 0u) << listing;
  std::printf("%s", listing.c_str());  // what --list-cameras shows on this machine

  std::unique_ptr<V4l2SourceDevice> device;
  ASSERT_EQ(V4l2SourceDevice::Open(MakeKernelV4l2System(), path, &device), S_OK);
  EXPECT_FALSE(device->Capabilities().empty());
  std::unique_ptr<MediaType> current;
  ASSERT_EQ(device->CaptureStream().GetFormat(&current), S_OK);
  testing::CollectingSink sink;
  const HRESULT started = device->StartStreaming(sink);
  if (started == HresultFromErrno(EBUSY)) GTEST_SKIP() << path << " is in use by another process";
  ASSERT_EQ(started, S_OK);
  ASSERT_TRUE(sink.WaitFor(2, std::chrono::seconds(10))) << "no frames from " << path;
  device->StopStreaming();
  const VIDEOINFOHEADER* info = current->VideoInfo();
  ASSERT_NE(info, nullptr);
  if (current->subtype == MEDIASUBTYPE_RGB24) {
    EXPECT_EQ(sink.Samples()[0].size(),
              static_cast<std::size_t>(info->bmiHeader.biWidth) * info->bmiHeader.biHeight * 3);
  }
}

TEST(V4l2RealDeviceTest, TheCaptureManagerOpensTheFirstCamera) {
  if (FirstCaptureNode().empty()) GTEST_SKIP() << "no video capture device on this machine";
  CaptureManager manager(MakeV4l2Backend());
  ASSERT_TRUE(manager.OpenDevice(0, 640, 480));
  int width = 0, height = 0;
  ASSERT_TRUE(manager.GetFrameSize(0, &width, &height));
  std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 3);
  EXPECT_TRUE(testing::Eventually([&] { return manager.HasNewFrame(0); }, std::chrono::seconds(10)));
  EXPECT_TRUE(manager.GetPixels(0, pixels.data(), false, true));
  manager.CloseDevice(0);
}

// What the viewer does: cameras 0 and 1 at 1024 x 768, frames taken from both in turn.
TEST(V4l2RealDeviceTest, TwoCamerasDeliverSideBySide) {
  std::unique_ptr<DeviceBackend> probe = MakeV4l2Backend();
  std::unique_ptr<DeviceList> list;
  int cameras = 0;
  if (probe->OpenDeviceList(&list) == S_OK) {
    std::unique_ptr<DeviceEntry> entry;
    while (list->Next(&entry) == S_OK) ++cameras;
  }
  if (cameras < 2) GTEST_SKIP() << "fewer than two video capture devices on this machine";

  CaptureManager manager(MakeV4l2Backend());
  ASSERT_TRUE(manager.OpenDevice(0, 1024, 768));
  ASSERT_TRUE(manager.OpenDevice(1, 1024, 768));
  int taken[2] = {0, 0};
  std::vector<unsigned char> pixels[2];
  for (int d = 0; d < 2; ++d) {
    int width = 0, height = 0;
    ASSERT_TRUE(manager.GetFrameSize(d, &width, &height));
    pixels[d].resize(static_cast<std::size_t>(width) * height * 3);
  }
  const auto start = std::chrono::steady_clock::now();
  while ((taken[0] < 20 || taken[1] < 20) && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
    for (int d = 0; d < 2; ++d)
      if (manager.HasNewFrame(d) && manager.GetPixels(d, pixels[d].data(), false, true)) ++taken[d];
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("frames in %.2f s: camera 0 %d, camera 1 %d\n", seconds, taken[0], taken[1]);
  EXPECT_GE(taken[0], 20);
  EXPECT_GE(taken[1], 20);
  manager.CloseDevice(0);
  manager.CloseDevice(1);
}

}  // namespace
}  // namespace capture
