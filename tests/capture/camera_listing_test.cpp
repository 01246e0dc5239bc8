// The --list-cameras text: devices under the numbers the viewer opens them by, with their formats.
#include "capture/camera_listing.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testing/fake_cameras.h"

namespace {

using testkit::Sizes;

TEST(CameraListingTest, EveryDeviceKeepsItsNumberWhatEverItsFormatsSay) {
  auto cameras = std::make_shared<testkit::FakeCameras>();
  cameras->Add(u"Plain").capabilities = {Sizes(capture::MEDIASUBTYPE_YUY2, 640, 480),
                                         Sizes(capture::MEDIASUBTYPE_YUY2, 320, 240),
                                         Sizes(capture::FourccGuid(0x47504A4D), 1280, 720),  // MJPG
                                         Sizes(capture::MEDIASUBTYPE_YUY2, 640, 480)};
  cameras->Add(u"Locked \u010D").openResult = capture::HresultFromErrno(EACCES);
  cameras->Add(u"Formatless");
  cameras->Add(u"Cam \U0001F4F7 \xD800!");  // a pair of surrogates, and one alone
  cameras->Add(u"Ranges").capabilities = {Sizes(capture::MEDIASUBTYPE_Y8, 160, 120, 1280, 960, 8, 8),
                                          Sizes(capture::GUID{}, 16, 16, 4096, 4096)};
  EXPECT_EQ(capture::ListCameras(*cameras->Backend()),
            "0: Plain\n"
            "   YUY2 640x480, 320x240; MJPG 1280x720\n"
            "1: Locked \xC4\x8D\n"
            "   (cannot be opened: error 0x8007000D)\n"
            "2: Formatless\n"
            "   (no formats offered)\n"
            "3: Cam \xF0\x9F\x93\xB7 \xEF\xBF\xBD!\n"
            "   (no formats offered)\n"
            "4: Ranges\n"
            "   Y8 160x120-1280x960 step 8x8; OTHER 16x16-4096x4096\n");
  EXPECT_EQ(capture::ListCameras(*std::make_shared<testkit::FakeCameras>()->Backend()), "no cameras found\n");
}

}  // namespace

// --cameras: each word and the camera it names, or the line that names the candidates.
TEST(CameraListingTest, ACamerasWordNamesOneCameraOrTheCandidates) {
  const std::string byId = "/dev/v4l/by-id/usb-Cam_HD_Webcam-video-index0";
  const std::vector<capture::DeviceEntry> devices = {
      {u"HD Webcam", nullptr, "/dev/video0", {byId, "/dev/v4l/by-path/pci-usb-0:1:1.0-video-index0"}},
      {u"HD Webcam", nullptr, "/dev/video2", {"/dev/v4l/by-path/pci-usb-0:2:1.0-video-index0"}},
      {u"Synthetic camera (right)", nullptr, "", {}}};
  const std::string all =
      "0 \"HD Webcam\" (/dev/v4l/by-path/pci-usb-0:1:1.0-video-index0), 1 \"HD Webcam\" "
      "(/dev/v4l/by-path/pci-usb-0:2:1.0-video-index0), 2 \"Synthetic camera (right)\"";
  const struct {
    std::string word;
    int camera;
    std::string error;
  } rows[] = {
      {"2", 2, ""},
      {"/dev/video2", 1, ""},
      {byId, 0, ""},
      {"RIGHT", 2, ""},
      {"3", -1, "--cameras: no camera '3'; the cameras are " + all},
      {"/dev/video1", -1, "--cameras: no camera '/dev/video1'; the cameras are " + all},
      {"", -1, "--cameras: no camera ''; the cameras are " + all},
      {"webcam", -1,
       "--cameras: 'webcam' could be 0 \"HD Webcam\" (/dev/v4l/by-path/pci-usb-0:1:1.0-video-index0) or 1 \"HD "
       "Webcam\" (/dev/v4l/by-path/pci-usb-0:2:1.0-video-index0); name one by its number or path"},
  };
  for (const auto& row : rows) {
    std::string error;
    EXPECT_EQ(capture::ChooseCamera(devices, row.word, &error), row.camera) << row.word;
    EXPECT_EQ(error, row.error);
  }
  std::string error;
  EXPECT_EQ(capture::ChooseCamera({}, "0", &error), -1);
  EXPECT_EQ(error, "--cameras: no camera '0'; there are no cameras");
}
