// Graph construction: BuildGraph step by step, FindDevice and the graphs it leaves running.
#include <functional>

#include <gtest/gtest.h>

#include "capture/filter_graph.h"
#include "tests/capture/capture_test_support.h"

namespace {

using capture_test::AddRgbCamera;
using capture_test::CaptureFixture;
using capture_test::StdoutCapture;
using capture_test::VerboseScope;

std::vector<std::string> FilterNames(capture::FilterGraph& graph) {
  std::vector<std::string> names;
  std::unique_ptr<capture::FilterEnumerator> filters;
  if (graph.EnumFilters(&filters) != capture::S_OK) return names;
  std::shared_ptr<capture::BaseFilter> filter;
  while (filters->Next(&filter) == capture::S_OK) {
    capture::FILTER_INFO info;
    filter->QueryFilterInfo(&info);
    names.emplace_back(info.achName.begin(), info.achName.end());
  }
  return names;
}

struct FailureCase {
  const char* step;
  std::function<void(fake::FakeCameraSystem&, fake::CameraScript&)> script;
  std::string message;
  capture::HRESULT result;
  bool closes;
};

std::ostream& operator<<(std::ostream& out, const FailureCase& c) { return out << "step " << c.step; }

class BuildGraphFailure : public CaptureFixture, public testing::WithParamInterface<FailureCase> {};

TEST_P(BuildGraphFailure, ReportsClosesAndReturnsTheFailure) {
  const FailureCase& c = GetParam();
  fake::CameraScript& camera = AddRgbCamera(*system);
  c.script(*system, camera);
  capture::CaptureManager& manager = Manager();

  std::string printed;
  int result;
  {
    VerboseScope verbose;
    StdoutCapture output;
    result = manager.BuildGraph(0, *manager.DeviceRecord(0));
    printed = output.Take();
  }
  EXPECT_EQ(result, c.result);
  const std::string closing = c.closes ? "\nSETUP: Disconnecting device 0\n" : "";
  EXPECT_NE(printed.find(c.message + closing), std::string::npos) << printed;
  if (!c.closes) {
    ASSERT_GE(printed.size(), c.message.size());
    EXPECT_EQ(printed.substr(printed.size() - c.message.size()), c.message);
  }
  const capture::CaptureDevice& record = *manager.DeviceRecord(0);
  EXPECT_EQ(record.setupBegun, !c.closes);
  EXPECT_FALSE(record.captureReady);
  EXPECT_EQ(camera.sourcesAlive.load(), 0);

  // Through OpenDevice, and quiet without verbose.
  manager.CloseDevice(0);
  StdoutCapture quiet;
  EXPECT_FALSE(manager.OpenDevice(0, 640, 480));
  EXPECT_EQ(quiet.Take(), "");
}

using System = fake::FakeCameraSystem;
using Camera = fake::CameraScript;

INSTANTIATE_TEST_SUITE_P(
    EveryCheckedStep, BuildGraphFailure,
    testing::Values(FailureCase{"2", [](System& s, Camera&) { s.createBuilderResult = capture::E_OUTOFMEMORY; },
                                "ERROR - Could not create the Filter Graph Manager\n", capture::E_OUTOFMEMORY, false},
                    FailureCase{"3", [](System& s, Camera&) { s.createGraphResult = capture::E_OUTOFMEMORY; },
                                "ERROR - Could not add the graph builder!\n", capture::E_OUTOFMEMORY, true},
                    FailureCase{"4", [](System& s, Camera&) { s.setFiltergraphResult = capture::E_UNEXPECTED; },
                                "ERROR - Could not set filtergraph\n", capture::E_UNEXPECTED, true},
                    FailureCase{"5", [](System& s, Camera&) { s.queryMediaControlResult = capture::E_NOINTERFACE; },
                                "ERROR - Could not create the Media Control object\n", capture::E_NOINTERFACE, true},
                    FailureCase{"6 name unreadable", [](System&, Camera& c) { c.readNameResult = capture::E_FAIL; },
                                "ERROR - Could not find specified video device\n", capture::VFW_E_NOT_FOUND, true},
                    FailureCase{"6 not probed", [](System&, Camera& c) { c.probeResult = capture::E_FAIL; },
                                "ERROR - Could not find specified video device\n", capture::VFW_E_NOT_FOUND, true},
                    FailureCase{"6 not bound", [](System&, Camera& c) { c.bindResult = capture::E_ACCESSDENIED; },
                                "ERROR - Could not find specified video device\n", capture::E_ACCESSDENIED, true},
                    FailureCase{"6 no list", [](System& s, Camera&) { s.listResult = capture::E_FAIL; },
                                "ERROR - Could not find specified video device\n", capture::E_FAIL, true},
                    FailureCase{"11", [](System& s, Camera&) { s.findConfigResult = capture::E_FAIL; },
                                "ERROR: Couldn't config the stream!\n", capture::E_FAIL, true},
                    FailureCase{"12", [](System&, Camera& c) { c.capture.getFormatResult = capture::E_UNEXPECTED; },
                                "ERROR: Couldn't getFormat for pAmMediaType!\n", capture::E_UNEXPECTED, true},
                    FailureCase{"14", [](System& s, Camera&) { s.createGrabberResult = capture::E_OUTOFMEMORY; },
                                "Could not Create Sample Grabber - CoCreateInstance()\n", capture::E_OUTOFMEMORY, true},
                    FailureCase{"15",
                                [](System& s, Camera&) { s.addFilterResults[u"Sample Grabber"] = capture::E_FAIL; },
                                "Could not add Sample Grabber - AddFilter()\n", capture::E_FAIL, true},
                    FailureCase{"16", [](System& s, Camera&) { s.querySampleGrabberResult = capture::E_NOINTERFACE; },
                                "ERROR: Could not query SampleGrabber\n", capture::E_NOINTERFACE, true},
                    FailureCase{"18", [](System& s, Camera&) { s.setCallbackResult = capture::E_FAIL; },
                                "ERROR: problem setting callback\n", capture::E_FAIL, true},
                    FailureCase{"20", [](System& s, Camera&) { s.findConfigGivesNothing = true; },
                                "ERROR: connecting device - prehaps it is already being used?\n", 1, true},
                    FailureCase{"21", [](System& s, Camera&) { s.createRendererResult = capture::E_OUTOFMEMORY; },
                                "ERROR: Could not create filter - NullRenderer\n", capture::E_OUTOFMEMORY, true},
                    FailureCase{"22", [](System& s, Camera&) { s.addFilterResults[u"NullRenderer"] = capture::E_FAIL; },
                                "ERROR: Could not add filter - NullRenderer\n", capture::E_FAIL, true},
                    FailureCase{"23", [](System& s, Camera&) { s.renderStreamResult = capture::VFW_E_CANNOT_CONNECT; },
                                "ERROR: Could not connect pins - RenderStream()\n", capture::VFW_E_CANNOT_CONNECT,
                                true},
                    FailureCase{"24", [](System& s, Camera&) { s.runResult = capture::E_FAIL; },
                                "ERROR: Could not start graph\n", capture::E_FAIL, true}));

class GraphConstructionTest : public CaptureFixture {};

TEST_F(GraphConstructionTest, FirstStepFailureLeavesTheSlotUnderConstructionAndCanBuildAgain) {
  AddRgbCamera(*system);
  system->createBuilderResult = capture::E_FAIL;
  EXPECT_FALSE(Manager().OpenDevice(0, 640, 480));
  const capture::CaptureDevice* record = Manager().DeviceRecord(0);
  EXPECT_TRUE(record->setupBegun);
  EXPECT_EQ(record->deviceIndex, 0);
  EXPECT_EQ(record->pCaptureBuilder, nullptr);
  EXPECT_EQ(record->pGraph, nullptr);

  system->createBuilderResult = capture::S_OK;
  EXPECT_TRUE(Manager().OpenDevice(0, 640, 480));
  EXPECT_EQ(Manager().DeviceRecord(0), record);
  EXPECT_TRUE(Manager().IsDeviceReady(0));
}

TEST_F(GraphConstructionTest, SuccessfulOpenPrintsItsStepsAndKeepsOnlyTheLastingObjects) {
  AddRgbCamera(*system);
  Manager();
  VerboseScope verbose;
  StdoutCapture output;
  ASSERT_TRUE(Manager().OpenDevice(0, 640, 480));
  EXPECT_EQ(output.Take(),
            "SETUP: Setting up device 0\n"
            "SETUP: Fake Camera\n"
            "SETUP: Couldn't find preview pin using SmartTee\n"
            "SETUP: Setting capture size to 640 by 480 \n"
            "SETUP: Media Type is RGB24 no conversion needed\n"
            "SETUP: Capture callback set\n"
            "SETUP: Device is setup and ready to capture.\n\n");
  const capture::CaptureDevice& record = *Manager().DeviceRecord(0);
  EXPECT_EQ(record.pSourceFilter, nullptr);
  EXPECT_EQ(record.pGrabberFilter, nullptr);
  EXPECT_EQ(record.pRendererFilter, nullptr);
  EXPECT_EQ(record.pStreamConfig, nullptr);
  EXPECT_NE(record.pCaptureBuilder, nullptr);
  EXPECT_NE(record.pGraph, nullptr);
  EXPECT_NE(record.pControl, nullptr);
  EXPECT_NE(record.pGrabber, nullptr);
  ASSERT_NE(record.pAmMediaType, nullptr);
  EXPECT_EQ(record.pAmMediaType->subtype, capture::MEDIASUBTYPE_RGB24);
  EXPECT_TRUE(record.captureReady);
  EXPECT_TRUE(record.setupBegun);
  EXPECT_EQ(record.deviceIndex, 0);
}

TEST_F(GraphConstructionTest, CaptureOnlySourceIsConfiguredOnItsCapturePinAndGetsATee) {
  fake::CameraScript& camera = AddRgbCamera(*system);
  ASSERT_TRUE(Manager().OpenDevice(0, 320, 240));
  EXPECT_EQ(Manager().pinCategory(), capture::PIN_CATEGORY_CAPTURE);
  EXPECT_EQ(camera.capture.offers.size(), 1u);
  EXPECT_TRUE(camera.preview.offers.empty());
  capture::MediaType grabbed;
  ASSERT_EQ(Manager().DeviceRecord(0)->pGrabber->GetConnectedMediaType(&grabbed), capture::S_OK);
  EXPECT_EQ(grabbed.subtype, capture::MEDIASUBTYPE_RGB24);
  EXPECT_EQ(FilterNames(*Manager().DeviceRecord(0)->pGraph),
            (std::vector<std::string>{"Smart Tee", "NullRenderer", "Sample Grabber", "Fake Camera"}));
  ASSERT_TRUE(system->Push(0, 320 * 240 * 3, 5));
  EXPECT_TRUE(Manager().HasNewFrame(0));
}

TEST_F(GraphConstructionTest, PreviewPinIsPreferredForConfigurationAndConnection) {
  fake::CameraScript& camera = AddRgbCamera(*system);
  camera.previewPin = true;
  VerboseScope verbose;
  StdoutCapture output;
  ASSERT_TRUE(Manager().OpenDevice(0, 320, 240));
  EXPECT_EQ(output.Take().find("SmartTee"), std::string::npos);
  EXPECT_EQ(Manager().pinCategory(), capture::PIN_CATEGORY_PREVIEW);
  EXPECT_EQ(camera.preview.offers.size(), 1u);
  EXPECT_TRUE(camera.capture.offers.empty());
  EXPECT_EQ(FilterNames(*Manager().DeviceRecord(0)->pGraph),
            (std::vector<std::string>{"NullRenderer", "Sample Grabber", "Fake Camera"}));
  ASSERT_TRUE(system->Push(0, 320 * 240 * 3, 5));
  EXPECT_TRUE(Manager().HasNewFrame(0));
}

TEST_F(GraphConstructionTest, RunStillChangingStateCountsAsSuccess) {
  AddRgbCamera(*system);
  system->runResult = capture::S_FALSE;
  EXPECT_EQ(Manager().BuildGraph(0, *Manager().DeviceRecord(0)), 0);
  EXPECT_TRUE(Manager().DeviceRecord(0)->captureReady);
}

TEST_F(GraphConstructionTest, FormatReportedIncompleteSkipsNegotiationAndDeliversNothing) {
  fake::CameraScript& camera = AddRgbCamera(*system);
  camera.capture.getFormatResult = capture::S_FALSE;
  {
    VerboseScope verbose;
    StdoutCapture output;
    ASSERT_TRUE(Manager().OpenDevice(0, 640, 480));
    const std::string printed = output.Take();
    EXPECT_NE(printed.find("SETUP: Couldn't find preview pin using SmartTee\n"
                           "ERROR: Problem setting video size\n"
                           "SETUP: Capture callback set\n"),
              std::string::npos)
        << printed;
  }
  EXPECT_TRUE(camera.capture.offers.empty());
  EXPECT_FALSE(Manager().DeviceRecord(0)->sizeFixed);
  int width = 0, height = 0;
  EXPECT_FALSE(Manager().GetFrameSize(0, &width, &height));
  StdoutCapture output;
  ASSERT_TRUE(system->Push(0, 640 * 480 * 3, 1));
  EXPECT_EQ(output.Take(), "ERROR: SampleCB() - buffer sizes do not match\n");
  EXPECT_FALSE(Manager().HasNewFrame(0));
}

TEST_F(GraphConstructionTest, FormatWithoutVideoHeaderIsNotNegotiated) {
  fake::CameraScript& camera = AddRgbCamera(*system);
  camera.capture.current.format.reset();
  ASSERT_TRUE(Manager().OpenDevice(0, 640, 480));
  EXPECT_TRUE(camera.capture.offers.empty());
  EXPECT_FALSE(Manager().DeviceRecord(0)->sizeFixed);
}

TEST_F(GraphConstructionTest, NamesAreCopiedAsUnitsAndLowBytes) {
  AddRgbCamera(*system, u"Kamera \u0160\u00e9");
  VerboseScope verbose;
  StdoutCapture output;
  ASSERT_TRUE(Manager().OpenDevice(0, 640, 480));
  const capture::CaptureDevice& record = *Manager().DeviceRecord(0);
  EXPECT_EQ(std::u16string(record.deviceNameW), u"Kamera \u0160\u00e9");
  EXPECT_EQ(std::string(record.deviceName), std::string("Kamera \x60\xe9"));
  EXPECT_NE(output.Take().find("SETUP: Kamera \x60\xe9\n"), std::string::npos);
}

TEST_F(GraphConstructionTest, OverlongNamesAreCutSoAZeroEndsBothFields) {
  std::u16string name(300, u'x');
  name[253] = u'y';
  name[254] = u'z';
  AddRgbCamera(*system, name);
  ASSERT_TRUE(Manager().OpenDevice(0, 640, 480));
  const capture::CaptureDevice& record = *Manager().DeviceRecord(0);
  EXPECT_EQ(record.deviceNameW[253], u'y');
  EXPECT_EQ(record.deviceNameW[254], 0);
  EXPECT_EQ(record.deviceName[253], 'y');
  EXPECT_EQ(record.deviceName[254], 0);
}

TEST_F(GraphConstructionTest, FindDeviceFillsTheNamesEvenWhenBindingFails) {
  AddRgbCamera(*system, u"First");
  AddRgbCamera(*system, u"Second").bindResult = capture::E_ACCESSDENIED;
  capture::CaptureDevice record;
  std::shared_ptr<capture::BaseFilter> source;
  EXPECT_EQ(Manager().FindDevice(&source, 1, record.deviceNameW, record.deviceName), capture::E_ACCESSDENIED);
  EXPECT_EQ(source, nullptr);
  EXPECT_EQ(std::string(record.deviceName), "Second");

  EXPECT_EQ(Manager().FindDevice(&source, 0, record.deviceNameW, record.deviceName), capture::S_OK);
  EXPECT_NE(source, nullptr);
  EXPECT_EQ(std::string(record.deviceName), "First");
  source.reset();
  EXPECT_EQ(Manager().FindDevice(&source, 2, record.deviceNameW, record.deviceName), capture::VFW_E_NOT_FOUND);
  system->listResult = capture::S_FALSE;
  EXPECT_EQ(Manager().FindDevice(&source, 0, record.deviceNameW, record.deviceName), capture::VFW_E_NOT_FOUND);
}

TEST_F(GraphConstructionTest, TwoDevicesHaveIndependentGraphs) {
  AddRgbCamera(*system, u"Left");
  AddRgbCamera(*system, u"Right").previewPin = true;
  ASSERT_TRUE(Manager().OpenDevice(0, 64, 48));
  EXPECT_EQ(Manager().pinCategory(), capture::PIN_CATEGORY_CAPTURE);
  ASSERT_TRUE(Manager().OpenDevice(1, 32, 24));
  EXPECT_EQ(Manager().pinCategory(), capture::PIN_CATEGORY_PREVIEW);
  EXPECT_NE(Manager().DeviceRecord(0)->pGraph, Manager().DeviceRecord(1)->pGraph);
  EXPECT_NE(Manager().DeviceRecord(0)->pCallback, Manager().DeviceRecord(1)->pCallback);

  ASSERT_TRUE(system->Push(1, 32 * 24 * 3, 0x11));
  EXPECT_FALSE(Manager().HasNewFrame(0));
  ASSERT_TRUE(system->Push(0, 64 * 48 * 3, 0x22));
  std::vector<unsigned char> left(64 * 48 * 3), right(32 * 24 * 3);
  ASSERT_TRUE(Manager().GetPixels(0, left.data(), false, true));
  ASSERT_TRUE(Manager().GetPixels(1, right.data(), false, true));
  EXPECT_EQ(left, std::vector<unsigned char>(left.size(), 0x22));
  EXPECT_EQ(right, std::vector<unsigned char>(right.size(), 0x11));
}

// YUY2 reaches the grabber through a colour converter as RGB24, bottom row first.
TEST_F(GraphConstructionTest, Yuy2CameraIsConvertedOnTheWay) {
  constexpr int width = 16, height = 8;
  fake::CameraScript& camera = system->AddCamera(u"YUY2 Camera");
  camera.capture.current = capture::MakeVideoType(capture::MEDIASUBTYPE_YUY2, 640, 480);
  camera.capture.capabilities = {fake::SizeRange(capture::MEDIASUBTYPE_YUY2, 8, 8, 640, 480, 8, 8)};
  ASSERT_TRUE(Manager().OpenDevice(0, width, height));
  EXPECT_EQ(FilterNames(*Manager().DeviceRecord(0)->pGraph),
            (std::vector<std::string>{"Color Space Converter", "Smart Tee", "NullRenderer", "Sample Grabber",
                                      "YUY2 Camera"}));

  // Top half white (Y 235), bottom half black (Y 16), no colour.
  std::vector<std::uint8_t> frame(width * height * 2);
  for (int row = 0; row < height; ++row)
    for (int x = 0; x < width; ++x) {
      frame[(row * width + x) * 2] = row < height / 2 ? 235 : 16;
      frame[(row * width + x) * 2 + 1] = 128;
    }
  ASSERT_TRUE(system->Push(0, frame));
  std::vector<unsigned char> topDown(width * height * 3);
  ASSERT_TRUE(Manager().GetPixels(0, topDown.data(), false, true));
  for (int row = 0; row < height; ++row)
    for (int byte = 0; byte < width * 3; ++byte)
      EXPECT_NEAR(topDown[row * width * 3 + byte], row < height / 2 ? 255 : 0, 1) << "row " << row;

  ASSERT_TRUE(system->Push(0, frame));
  std::vector<unsigned char> asStored(width * height * 3);
  ASSERT_TRUE(Manager().GetPixels(0, asStored.data(), false, false));
  EXPECT_NEAR(asStored[0], 0, 1);  // stored bottom row first
  EXPECT_NEAR(asStored[asStored.size() - 1], 255, 1);
}

TEST_F(GraphConstructionTest, SubtypeWithoutConverterCannotBeConnected) {
  fake::CameraScript& camera = system->AddCamera();
  camera.capture.current = capture::MakeVideoType(capture::MEDIASUBTYPE_AYUV, 64, 48);
  camera.capture.capabilities = {fake::FixedSize(capture::MEDIASUBTYPE_AYUV, 64, 48)};
  VerboseScope verbose;
  StdoutCapture output;
  EXPECT_FALSE(Manager().OpenDevice(0, 64, 48));
  EXPECT_NE(output.Take().find("ERROR: Could not connect pins - RenderStream()\n"), std::string::npos);
  EXPECT_EQ(camera.sourcesAlive.load(), 0);
}

}  // namespace
