// Device teardown: the short and full forms, their messages and their order of release.
#include <gtest/gtest.h>

#include "tests/capture/capture_test_support.h"

namespace {

using capture_test::AddRgbCamera;
using capture_test::CaptureFixture;
using capture_test::StdoutCapture;
using capture_test::VerboseScope;

std::string Removed(const std::string& name) {
  return "SETUP: removing filter " + name + "...\nSETUP: filter removed " + name + "  \n";
}

const std::string kClosing = "\nSETUP: Disconnecting device 0\n";
const std::string kClosed = "SETUP: Device 0 disconnected and freed\n\n";
const std::string kGraphsFreed = "SETUP: freeing Capture Graph \nSETUP: freeing Main Graph \n";

class DeviceTeardownTest : public CaptureFixture {
 protected:
  // Closes device 0 with messages on and returns what was printed.
  std::string CloseVerbosely(int device = 0) {
    Manager();
    VerboseScope verbose;
    StdoutCapture output;
    Manager().CloseDevice(device);
    return output.Take();
  }
  // Opens device 0 with messages on and returns what was printed.
  std::string OpenVerbosely(bool* opened, int width = 640, int height = 480) {
    Manager();  // its banner is not part of the opening
    VerboseScope verbose;
    StdoutCapture output;
    *opened = Manager().OpenDevice(0, width, height);
    return output.Take();
  }
};

TEST_F(DeviceTeardownTest, RunningDeviceIsDetachedStoppedAndTakenApartInOrder) {
  fake::CameraScript& camera = AddRgbCamera(*system);
  ASSERT_TRUE(Manager().OpenDevice(0, 640, 480));
  system->TakeLog();

  EXPECT_EQ(CloseVerbosely(), kClosing +
                                  "SETUP: freeing Grabber Callback\n"
                                  "SETUP: freeing Grabber  \n"
                                  "SETUP: freeing Control   \n"
                                  "SETUP: freeing Media Type  \n" +
                                  Removed("Smart Tee") + Removed("NullRenderer") + Removed("Sample Grabber") +
                                  Removed("Fake Camera") + kGraphsFreed + kClosed);
  // The callback leaves the grabber before the graph is paused and stopped.
  EXPECT_EQ(system->TakeLog(), (std::vector<std::string>{"grabber SetCallback(null)", "graph Pause", "graph Stop"}));
  EXPECT_EQ(camera.sourcesAlive.load(), 0);
  EXPECT_EQ(camera.streamStops.load(), 1);
  const capture::CaptureDevice& fresh = *Manager().DeviceRecord(0);
  EXPECT_FALSE(fresh.setupBegun);
  EXPECT_EQ(fresh.deviceIndex, -1);
  EXPECT_FALSE(fresh.pCallback->bufferReady);
  EXPECT_EQ(fresh.frameBytes, 0);
}

TEST_F(DeviceTeardownTest, NeverOpenedSlotClosesSilentlyIntoAFreshRecord) {
  const capture::SampleGrabberCallback* before = Manager().DeviceRecord(3)->pCallback.get();
  EXPECT_EQ(CloseVerbosely(3), "");
  EXPECT_NE(Manager().DeviceRecord(3), nullptr);
  EXPECT_NE(Manager().DeviceRecord(3)->pCallback.get(), nullptr);
  // Closing twice takes the short form again.
  EXPECT_EQ(CloseVerbosely(3), "");
  (void)before;
}

TEST_F(DeviceTeardownTest, SecondCloseOfAnOpenedDeviceIsShort) {
  AddRgbCamera(*system);
  ASSERT_TRUE(Manager().OpenDevice(0, 640, 480));
  EXPECT_NE(CloseVerbosely(), "");
  EXPECT_EQ(CloseVerbosely(), "");
}

TEST_F(DeviceTeardownTest, NumbersOutsideTheSlotsChangeNothing) {
  AddRgbCamera(*system);
  ASSERT_TRUE(Manager().OpenDevice(0, 640, 480));
  const capture::CaptureDevice* open = Manager().DeviceRecord(0);
  for (int number : {20, 25, -1}) EXPECT_EQ(CloseVerbosely(number), "");
  EXPECT_EQ(Manager().DeviceRecord(0), open);
  EXPECT_TRUE(Manager().IsDeviceReady(0));
}

TEST_F(DeviceTeardownTest, ConstructionThatFailedBeforeTheGraphPrintsOnlyFirstAndLast) {
  AddRgbCamera(*system);
  system->createBuilderResult = capture::E_OUTOFMEMORY;
  EXPECT_FALSE(Manager().OpenDevice(0, 640, 480));
  const capture::CaptureDevice& record = *Manager().DeviceRecord(0);
  EXPECT_TRUE(record.setupBegun);
  EXPECT_EQ(record.deviceIndex, 0);
  EXPECT_EQ(CloseVerbosely(), kClosing + kClosed);
}

TEST_F(DeviceTeardownTest, ConstructionThatFailedAfterTheGrabberStillDetachesTheCallback) {
  AddRgbCamera(*system);
  system->setCallbackResult = capture::E_FAIL;
  bool opened = true;
  const std::string printed = OpenVerbosely(&opened);
  EXPECT_FALSE(opened);
  EXPECT_EQ(printed,
            "SETUP: Setting up device 0\n"
            "SETUP: Fake Camera\n"
            "SETUP: Couldn't find preview pin using SmartTee\n"
            "SETUP: Setting capture size to 640 by 480 \n"
            "SETUP: Media Type is RGB24 no conversion needed\n"
            "ERROR: problem setting callback\n" +
                kClosing +
                "SETUP: freeing Grabber Callback\n"
                "SETUP: freeing Capture Source \n"
                "SETUP: freeing Grabber Filter  \n"
                "SETUP: freeing Grabber  \n"
                "SETUP: freeing Control   \n"
                "SETUP: freeing Stream  \n"
                "SETUP: freeing Media Type  \n" +
                Removed("Sample Grabber") + Removed("Fake Camera") + kGraphsFreed + kClosed);
  EXPECT_EQ(system->TakeLog(), (std::vector<std::string>{"grabber SetCallback", "grabber SetCallback(null)",
                                                         "graph Pause", "graph Stop"}));
  EXPECT_FALSE(Manager().DeviceRecord(0)->setupBegun);
}

TEST_F(DeviceTeardownTest, GraphThatDidNotRunIsDismantledFromTheSource) {
  fake::CameraScript& camera = AddRgbCamera(*system);
  system->runResult = capture::E_FAIL;
  bool opened = true;
  const std::string printed = OpenVerbosely(&opened);
  EXPECT_FALSE(opened);
  // Everything downstream of the source goes before the filter pointers are released; only the
  // source is left for the final sweep.
  const std::string expectedTail = "ERROR: Could not start graph\n" + kClosing +
                                   "SETUP: freeing Grabber Callback\n"
                                   "SETUP: freeing Renderer \n"
                                   "SETUP: freeing Capture Source \n"
                                   "SETUP: freeing Grabber Filter  \n"
                                   "SETUP: freeing Grabber  \n"
                                   "SETUP: freeing Control   \n"
                                   "SETUP: freeing Media Type  \n" +
                                   Removed("Fake Camera") + kGraphsFreed + kClosed;
  ASSERT_GE(printed.size(), expectedTail.size());
  EXPECT_EQ(printed.substr(printed.size() - expectedTail.size()), expectedTail);
  EXPECT_EQ(camera.sourcesAlive.load(), 0);
}

TEST_F(DeviceTeardownTest, FailedPinInfoStopsTheDismantlingAndTheSweepRemovesTheRest) {
  fake::CameraScript& camera = AddRgbCamera(*system);
  camera.peerPinInfoResult = capture::E_FAIL;
  system->runResult = capture::E_FAIL;
  bool opened = true;
  const std::string printed = OpenVerbosely(&opened);
  EXPECT_FALSE(opened);
  const std::string expectedTail = "SETUP: freeing Media Type  \n" + Removed("Smart Tee") + Removed("NullRenderer") +
                                   Removed("Sample Grabber") + Removed("Fake Camera") + kGraphsFreed + kClosed;
  ASSERT_GE(printed.size(), expectedTail.size());
  EXPECT_EQ(printed.substr(printed.size() - expectedTail.size()), expectedTail);
  EXPECT_EQ(camera.sourcesAlive.load(), 0);
}

TEST_F(DeviceTeardownTest, FailedPinEnumerationLeavesEverythingToTheSweep) {
  fake::CameraScript& camera = AddRgbCamera(*system);
  camera.enumPinsResult = capture::E_FAIL;
  system->runResult = capture::E_FAIL;
  bool opened = true;
  const std::string printed = OpenVerbosely(&opened);
  EXPECT_FALSE(opened);
  const std::string expectedTail = Removed("Smart Tee") + Removed("NullRenderer") + Removed("Sample Grabber") +
                                   Removed("Fake Camera") + kGraphsFreed + kClosed;
  EXPECT_EQ(printed.substr(printed.size() - expectedTail.size()), expectedTail);
}

TEST_F(DeviceTeardownTest, FailedFilterRemovalStopsTheSweepButNotTheRelease) {
  fake::CameraScript& camera = AddRgbCamera(*system);
  camera.threaded = true;
  ASSERT_TRUE(Manager().OpenDevice(0, 640, 480));
  system->removeFilterResult = capture::E_FAIL;
  EXPECT_EQ(CloseVerbosely(), kClosing +
                                  "SETUP: freeing Grabber Callback\n"
                                  "SETUP: freeing Grabber  \n"
                                  "SETUP: freeing Control   \n"
                                  "SETUP: freeing Media Type  \n"
                                  "SETUP: removing filter Smart Tee...\n"
                                  "SETUP: pGraph->RemoveFilter() failed. \n" +
                                  kGraphsFreed + kClosed);
  // Releasing the graph still stops and frees every filter it kept.
  EXPECT_EQ(camera.sourcesAlive.load(), 0);
}

TEST_F(DeviceTeardownTest, RemovalWithAnotherSuccessCodeEndsTheSweep) {
  AddRgbCamera(*system);
  ASSERT_TRUE(Manager().OpenDevice(0, 640, 480));
  system->removeFilterResult = capture::S_FALSE;
  const std::string printed = CloseVerbosely();
  EXPECT_NE(printed.find(Removed("Smart Tee") + kGraphsFreed), std::string::npos) << printed;
}

TEST_F(DeviceTeardownTest, FailedFilterEnumerationIsReported) {
  AddRgbCamera(*system);
  ASSERT_TRUE(Manager().OpenDevice(0, 640, 480));
  system->enumFiltersResult = capture::E_FAIL;
  EXPECT_EQ(CloseVerbosely(), kClosing +
                                  "SETUP: freeing Grabber Callback\n"
                                  "SETUP: freeing Grabber  \n"
                                  "SETUP: freeing Control   \n"
                                  "SETUP: freeing Media Type  \n"
                                  "SETUP: pGraph->EnumFilters() failed. \n" +
                                  kGraphsFreed + kClosed);
}

TEST_F(DeviceTeardownTest, FailedPauseAndStopAreReportedAndTheTeardownGoesOn) {
  fake::CameraScript& camera = AddRgbCamera(*system);
  camera.threaded = true;
  ASSERT_TRUE(Manager().OpenDevice(0, 640, 480));
  system->pauseResult = capture::E_FAIL;
  system->stopResult = capture::E_FAIL;
  const std::string printed = CloseVerbosely();
  EXPECT_NE(printed.find("SETUP: freeing Grabber Callback\n"
                         "ERROR - Could not pause pControl\n"
                         "ERROR - Could not stop pControl\n"
                         "SETUP: freeing Grabber  \n"),
            std::string::npos)
      << printed;
  EXPECT_NE(printed.find(kClosed), std::string::npos);
  EXPECT_EQ(camera.sourcesAlive.load(), 0);
}

// A grabber that cannot let go of the callback must not be left calling a destroyed one.
TEST_F(DeviceTeardownTest, CallbackThatCannotBeDetachedOutlivesTheGraph) {
  fake::CameraScript& camera = AddRgbCamera(*system);
  camera.threaded = true;
  ASSERT_TRUE(Manager().OpenDevice(0, 640, 480));
  std::vector<unsigned char> pixels(640 * 480 * 3);
  ASSERT_TRUE(Manager().GetPixels(0, pixels.data(), false, true));
  system->detachCallbackResult = capture::E_FAIL;
  system->pauseResult = capture::E_FAIL;
  system->stopResult = capture::E_FAIL;
  const std::string printed = CloseVerbosely();
  EXPECT_NE(printed.find("SETUP: freeing Grabber Callback\n"), std::string::npos);
  EXPECT_EQ(camera.sourcesAlive.load(), 0);
}

TEST_F(DeviceTeardownTest, ManagerDestructionTearsDownEverySlotAndEndsItsUse) {
  AddRgbCamera(*system, u"Left");
  AddRgbCamera(*system, u"Right");
  ASSERT_TRUE(Manager().OpenDevice(1, 640, 480));
  const int users = capture::comUseCount;
  VerboseScope verbose;
  StdoutCapture output;
  manager.reset();
  EXPECT_EQ(output.Take(),
            "\nSETUP: Disconnecting device 1\n"
            "SETUP: freeing Grabber Callback\n"
            "SETUP: freeing Grabber  \n"
            "SETUP: freeing Control   \n"
            "SETUP: freeing Media Type  \n" +
                Removed("Smart Tee") + Removed("NullRenderer") + Removed("Sample Grabber") + Removed("Right") +
                kGraphsFreed + "SETUP: Device 1 disconnected and freed\n\n");
  EXPECT_EQ(capture::comUseCount, users - 1);
  EXPECT_EQ(system->Camera(1).sourcesAlive.load(), 0);
}

TEST(MediaTypeTest, DestroyMediaTypeFreesTheFormatAndAcceptsNull) {
  std::unique_ptr<capture::MediaType> none;
  capture::DestroyMediaType(none);
  EXPECT_EQ(none, nullptr);
  auto type = std::make_unique<capture::MediaType>(capture::MakeVideoType(capture::MEDIASUBTYPE_YUY2, 4, 2));
  capture::ClearMediaType(type.get());
  EXPECT_FALSE(type->format.has_value());
  EXPECT_EQ(type->VideoInfo(), nullptr);
  capture::DestroyMediaType(type);
  EXPECT_EQ(type, nullptr);
}

}  // namespace
