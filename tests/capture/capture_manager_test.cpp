// The capture manager: slots, the checks of OpenDevice, device counting and the COM use count.
#include <gtest/gtest.h>

#include "tests/capture/capture_test_support.h"

namespace {

using capture_test::AddRgbCamera;
using capture_test::CaptureFixture;
using capture_test::StdoutCapture;
using capture_test::VerboseScope;

class CaptureManagerTest : public CaptureFixture {};

TEST_F(CaptureManagerTest, NewManagerHasTwentyDefaultSlotsAndNoReadyDevice) {
  AddRgbCamera(*system);
  capture::CaptureManager& manager = Manager();
  for (int slot = 0; slot < capture::kDeviceSlots; ++slot) {
    const capture::CaptureDevice* record = manager.DeviceRecord(slot);
    ASSERT_NE(record, nullptr);
    EXPECT_FALSE(record->setupBegun);
    EXPECT_FALSE(record->captureReady);
    EXPECT_EQ(record->deviceIndex, -1);
    EXPECT_EQ(record->connectionType, 2);
    EXPECT_FALSE(record->useCrossbar);
    EXPECT_NE(record->pCallback, nullptr);
    EXPECT_FALSE(manager.IsDeviceReady(slot));
  }
  EXPECT_EQ(manager.DeviceRecord(20), nullptr);
  EXPECT_EQ(manager.DeviceRecord(-1), nullptr);
  EXPECT_EQ(manager.deviceCount(), 0);
  int width = 0, height = 0;
  EXPECT_FALSE(manager.GetFrameSize(0, &width, &height));
  EXPECT_FALSE(manager.HasNewFrame(0));
}

TEST_F(CaptureManagerTest, DeviceNumbersOutsideTheSlotsFailBeforeCounting) {
  AddRgbCamera(*system);
  VerboseScope verbose;
  capture::CaptureManager& manager = Manager();
  StdoutCapture output;
  EXPECT_FALSE(manager.OpenDevice(20, 640, 480));
  EXPECT_FALSE(manager.OpenDevice(-1, 640, 480));
  EXPECT_EQ(output.Take(), "");
  EXPECT_EQ(system->listOpens, 0);
}

TEST_F(CaptureManagerTest, OpeningAnOpenDeviceFailsSilentlyAndLeavesItRunning) {
  AddRgbCamera(*system);
  capture::CaptureManager& manager = Manager();
  ASSERT_TRUE(manager.OpenDevice(0, 640, 480));
  {
    VerboseScope verbose;
    StdoutCapture output;
    EXPECT_FALSE(manager.OpenDevice(0, 320, 240));
    EXPECT_EQ(output.Take(), "");
  }
  EXPECT_TRUE(manager.IsDeviceReady(0));
  ASSERT_TRUE(system->Push(0, 640 * 480 * 3, 7));
  EXPECT_TRUE(manager.HasNewFrame(0));
  int width = 0, height = 0;
  ASSERT_TRUE(manager.GetFrameSize(0, &width, &height));
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);
}

TEST_F(CaptureManagerTest, MissingDeviceIsReportedWithTheLastUsableNumber) {
  AddRgbCamera(*system);
  VerboseScope verbose;
  capture::CaptureManager& manager = Manager();
  StdoutCapture output;
  EXPECT_FALSE(manager.OpenDevice(1, 1024, 768));
  EXPECT_EQ(output.Take(),
            "SETUP: device[1] not found - you have 1 devices available\n"
            "SETUP: this means that the last device you can use is device[0] \n");
  const capture::CaptureDevice& record = *manager.DeviceRecord(1);
  EXPECT_EQ(record.requestedWidth, 1024);
  EXPECT_EQ(record.requestedHeight, 768);
  EXPECT_FALSE(record.setupBegun);
  EXPECT_EQ(manager.deviceCount(), 1);
}

TEST_F(CaptureManagerTest, WithoutAnyCameraTheLastUsableDeviceIsMinusOne) {
  VerboseScope verbose;
  capture::CaptureManager& manager = Manager();
  StdoutCapture output;
  EXPECT_FALSE(manager.OpenDevice(0, 1024, 768));
  EXPECT_EQ(output.Take(),
            "SETUP: device[0] not found - you have 0 devices available\n"
            "SETUP: this means that the last device you can use is device[-1] \n");
}

TEST_F(CaptureManagerTest, MissingDeviceMessagesNeedVerbose) {
  capture::CaptureManager& manager = Manager();
  StdoutCapture output;
  EXPECT_FALSE(manager.OpenDevice(3, 1024, 768));
  EXPECT_EQ(output.Take(), "");
}

TEST_F(CaptureManagerTest, EveryOpenRecountsAndAnUnpluggedNumberIsNoLongerReady) {
  AddRgbCamera(*system, u"Left");
  AddRgbCamera(*system, u"Right");
  capture::CaptureManager& manager = Manager();
  ASSERT_TRUE(manager.OpenDevice(0, 640, 480));
  ASSERT_TRUE(manager.OpenDevice(1, 640, 480));
  ASSERT_TRUE(system->Push(1, 640 * 480 * 3, 1));
  ASSERT_TRUE(manager.HasNewFrame(1));

  system->Unplug(1);
  EXPECT_FALSE(manager.OpenDevice(5, 640, 480));
  EXPECT_EQ(manager.deviceCount(), 1);
  // The graph of device 1 still runs, but its number is beyond the count.
  EXPECT_TRUE(manager.DeviceRecord(1)->captureReady);
  EXPECT_FALSE(manager.IsDeviceReady(1));
  EXPECT_FALSE(manager.HasNewFrame(1));
  std::vector<unsigned char> pixels(640 * 480 * 3, 0);
  EXPECT_FALSE(manager.GetPixels(1, pixels.data(), false, true));
  EXPECT_TRUE(manager.IsDeviceReady(0));
}

TEST_F(CaptureManagerTest, ClosedDeviceOpensAgainWithAnotherSize) {
  AddRgbCamera(*system);
  capture::CaptureManager& manager = Manager();
  ASSERT_TRUE(manager.OpenDevice(0, 640, 480));
  manager.CloseDevice(0);
  EXPECT_FALSE(manager.IsDeviceReady(0));
  ASSERT_TRUE(manager.OpenDevice(0, 320, 240));
  int width = 0, height = 0;
  ASSERT_TRUE(manager.GetFrameSize(0, &width, &height));
  EXPECT_EQ(width, 320);
  EXPECT_EQ(height, 240);
}

TEST_F(CaptureManagerTest, CountDevicesCountsOnlyDevicesThatCanBeProbed) {
  AddRgbCamera(*system, u"A");
  AddRgbCamera(*system, u"B").probeResult = capture::E_FAIL;
  AddRgbCamera(*system, u"C");
  EXPECT_EQ(Manager().CountDevices(), 2);
  system->listResult = capture::E_FAIL;
  EXPECT_EQ(Manager().CountDevices(), 0);
  system->listResult = capture::S_FALSE;
  EXPECT_EQ(Manager().CountDevices(), 0);
}

TEST_F(CaptureManagerTest, ManagerWithoutBackendHasNoDevices) {
  capture::CaptureManager manager(nullptr);
  EXPECT_EQ(manager.CountDevices(), 0);
  EXPECT_FALSE(manager.OpenDevice(0, 1024, 768));
  EXPECT_FALSE(manager.HasNewFrame(0));
}

TEST_F(CaptureManagerTest, SecondManagerRaisesTheUseCountWithoutSettingUpAgain) {
  ASSERT_EQ(capture::comUseCount, 0);
  {
    capture::CaptureManager first(std::make_unique<fake::ScriptedCaptureBackend>(system));
    EXPECT_EQ(capture::comUseCount, 1);
    {
      capture::CaptureManager second(std::make_unique<fake::ScriptedCaptureBackend>(system));
      EXPECT_EQ(capture::comUseCount, 2);
      EXPECT_EQ(system->initializeThreadCalls, 1);
    }
    EXPECT_EQ(capture::comUseCount, 1);
    EXPECT_EQ(system->uninitializeThreadCalls, 0);
  }
  EXPECT_EQ(capture::comUseCount, 0);
  EXPECT_EQ(system->initializeThreadCalls, 1);
  EXPECT_EQ(system->uninitializeThreadCalls, 1);
}

TEST_F(CaptureManagerTest, ThreadAlreadySetUpDifferentlyIsReportedAndCounted) {
  ASSERT_EQ(capture::comUseCount, 0);
  system->initializeThreadResult = capture::RPC_E_CHANGED_MODE;
  VerboseScope verbose;
  StdoutCapture output;
  {
    capture::CaptureManager manager(std::make_unique<fake::ScriptedCaptureBackend>(system));
    EXPECT_EQ(capture::comUseCount, 1);
  }
  EXPECT_EQ(output.Take(),
            "SETUP - COM already setup - threaded KESTRALINE might not be possible\n"
            "\n***** KESTRALINE LIBRARY - 0.1991 - QELIX *****\n\n");
  EXPECT_EQ(capture::comUseCount, 0);
}

TEST_F(CaptureManagerTest, BannerOnlyWhenVerbose) {
  {
    StdoutCapture output;
    capture::CaptureManager quiet(std::make_unique<fake::ScriptedCaptureBackend>(system));
    EXPECT_EQ(output.Take(), "");
  }
  VerboseScope verbose;
  StdoutCapture output;
  capture::CaptureManager talkative(std::make_unique<fake::ScriptedCaptureBackend>(system));
  EXPECT_EQ(output.Take(), "\n***** KESTRALINE LIBRARY - 0.1991 - QELIX *****\n\n");
}

TEST_F(CaptureManagerTest, CaptureSubtypesInNegotiationOrder) {
  const auto& subtypes = Manager().captureSubtypes();
  const std::uint32_t fourccs[14] = {0x32595559, 0x55595659, 0x56595559, 0x56555949, 0x59565955,
                                     0x32315659, 0x39555659, 0x31313459, 0x50313459, 0x31313259,
                                     0x56555941, 0x30303859, 0x38590000, 0x59455247};
  EXPECT_EQ(subtypes[0], (capture::GUID{0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}}));
  EXPECT_EQ(subtypes[1].Data1, 0xE436EB7Eu);
  EXPECT_EQ(subtypes[2].Data1, 0xE436EB7Cu);
  EXPECT_EQ(subtypes[3].Data1, 0xE436EB7Bu);
  for (int index = 0; index < 14; ++index)
    EXPECT_EQ(subtypes[4 + index], capture::FourccGuid(fourccs[index])) << "subtype " << index + 5;
}

}  // namespace
