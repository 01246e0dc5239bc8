// The --list-cameras text: devices under the numbers the viewer opens them by, with their formats.
#include "capture/camera_listing.h"

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
