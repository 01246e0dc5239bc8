// Crossbar routing, reached only when a record asks for it.
#include <gtest/gtest.h>

#include "capture/capture_graph_builder.h"
#include "tests/capture/capture_test_support.h"

namespace {

using capture_test::AddRgbCamera;
using capture_test::CaptureFixture;
using capture_test::StdoutCapture;
using capture_test::VerboseScope;

class CrossbarRoutingTest : public CaptureFixture {
 protected:
  fake::CameraScript& Card(std::vector<long> inputTypes) {
    fake::CameraScript& camera = AddRgbCamera(*system, u"Capture Card");
    camera.hasCrossbar = true;
    for (long type : inputTypes) camera.crossbarInputs.push_back(fake::CrossbarInput{type});
    return camera;
  }
  // Opens device 0 with crossbar routing on (and `connectionType`); returns the crossbar's lines.
  std::string OpenRouted(int connectionType = 2) {
    capture::CaptureDevice& record = *Manager().DeviceRecord(0);
    record.useCrossbar = true;
    record.connectionType = connectionType;
    VerboseScope verbose;
    StdoutCapture output;
    opened = Manager().OpenDevice(0, 640, 480);
    const std::string printed = output.Take();
    const std::size_t start = printed.find("SETUP: Checking crossbar\n");
    const std::size_t end = printed.find("SETUP: Setting capture size");
    if (start == std::string::npos || end == std::string::npos) return printed;
    return printed.substr(start, end - start);
  }
  bool opened = false;
};

TEST_F(CrossbarRoutingTest, IsNotReachedUnlessTheRecordAsksForIt) {
  fake::CameraScript& card = Card({capture::PhysConn_Video_Composite});
  VerboseScope verbose;
  StdoutCapture output;
  ASSERT_TRUE(Manager().OpenDevice(0, 640, 480));
  EXPECT_EQ(output.Take().find("rossbar"), std::string::npos);
  EXPECT_TRUE(card.routes.empty());
}

TEST_F(CrossbarRoutingTest, WebcamNeedsNoCrossbar) {
  AddRgbCamera(*system);
  EXPECT_EQ(OpenRouted(),
            "SETUP: Checking crossbar\n"
            "SETUP: You are a webcam or snazzy firewire cam! No Crossbar needed\n");
  EXPECT_TRUE(opened);
}

TEST_F(CrossbarRoutingTest, CompositeInputIsRoutedToOutputZero) {
  fake::CameraScript& card =
      Card({capture::PhysConn_Video_Tuner, capture::PhysConn_Video_SVideo, capture::PhysConn_Video_Composite});
  EXPECT_EQ(OpenRouted(),
            "SETUP: Checking crossbar\n"
            "SETUP: You are not a webcam! Setting Crossbar\n"
            "SETUP: Found Physical Interface - Composite\n");
  EXPECT_TRUE(opened);
  EXPECT_EQ(card.routes, (std::vector<std::pair<long, long>>{{0, 2}}));
}

TEST_F(CrossbarRoutingTest, KnownConnectorsAreNamed) {
  const std::pair<long, const char*> names[] = {{capture::PhysConn_Video_Tuner, " - Tuner\n"},
                                                {capture::PhysConn_Video_SVideo, " - S-Video\n"},
                                                {capture::PhysConn_Video_1394, " - Firewire\n"},
                                                {capture::PhysConn_Video_USB, " - USB\n"}};
  for (const auto& [type, name] : names) {
    system = std::make_shared<fake::FakeCameraSystem>();
    manager.reset();
    Card({capture::PhysConn_Video_Composite, type});
    EXPECT_EQ(OpenRouted(static_cast<int>(type)), std::string("SETUP: Checking crossbar\n"
                                                              "SETUP: You are not a webcam! Setting Crossbar\n"
                                                              "SETUP: Found Physical Interface") +
                                                      name);
    EXPECT_EQ(system->Camera(0).routes, (std::vector<std::pair<long, long>>{{0, 1}}));
  }
}

TEST_F(CrossbarRoutingTest, UnnamedConnectorLeavesTheLineOpenAndStillRoutes) {
  fake::CameraScript& card = Card({capture::PhysConn_Video_Composite, capture::PhysConn_Video_RGB});
  EXPECT_EQ(OpenRouted(capture::PhysConn_Video_RGB),
            "SETUP: Checking crossbar\n"
            "SETUP: You are not a webcam! Setting Crossbar\n"
            "SETUP: Found Physical Interface");
  EXPECT_EQ(card.routes, (std::vector<std::pair<long, long>>{{0, 1}}));
}

TEST_F(CrossbarRoutingTest, MissingConnectorKeepsTheRouting) {
  fake::CameraScript& card = Card({capture::PhysConn_Video_Tuner, capture::PhysConn_Video_SVideo});
  EXPECT_EQ(OpenRouted(),
            "SETUP: Checking crossbar\n"
            "SETUP: You are not a webcam! Setting Crossbar\n"
            "SETUP: Didn't find specified Physical Connection type. Using Defualt. \n");
  EXPECT_TRUE(card.routes.empty());
  EXPECT_TRUE(opened);
}

TEST_F(CrossbarRoutingTest, CrossbarWithoutInputsKeepsTheRouting) {
  fake::CameraScript& card = Card({});
  EXPECT_NE(OpenRouted().find("Using Defualt. \n"), std::string::npos);
  EXPECT_TRUE(card.routes.empty());
}

TEST_F(CrossbarRoutingTest, UnreadableInputIsNotAMatch) {
  fake::CameraScript& card = Card({capture::PhysConn_Video_Composite, capture::PhysConn_Video_Composite});
  card.crossbarInputs[0].infoResult = capture::E_FAIL;
  OpenRouted();
  EXPECT_EQ(card.routes, (std::vector<std::pair<long, long>>{{0, 1}}));
}

TEST_F(CrossbarRoutingTest, FailedRouteDoesNotStopConstruction) {
  fake::CameraScript& card = Card({capture::PhysConn_Video_Composite});
  card.routeResult = capture::E_FAIL;
  OpenRouted();
  EXPECT_TRUE(opened);
  EXPECT_TRUE(Manager().IsDeviceReady(0));
}

TEST_F(CrossbarRoutingTest, RouteResultIsReturned) {
  fake::CameraScript& card = Card({capture::PhysConn_Video_SVideo, capture::PhysConn_Video_Composite});
  card.routeResult = capture::E_ACCESSDENIED;
  std::shared_ptr<capture::BaseFilter> source;
  capture::CaptureDevice record;
  ASSERT_EQ(Manager().FindDevice(&source, 0, record.deviceNameW, record.deviceName), capture::S_OK);
  capture::StandardCaptureGraphBuilder builder;
  EXPECT_EQ(
      Manager().RouteCrossbar(&builder, source.get(), capture::PhysConn_Video_Composite, capture::PIN_CATEGORY_CAPTURE),
      capture::E_ACCESSDENIED);
  // A category the source has no pin of finds no crossbar to route.
  EXPECT_EQ(
      Manager().RouteCrossbar(&builder, source.get(), capture::PhysConn_Video_Composite, capture::PIN_CATEGORY_PREVIEW),
      capture::E_FAIL);
  card.routeResult = capture::S_OK;
  EXPECT_EQ(
      Manager().RouteCrossbar(&builder, source.get(), capture::PhysConn_Video_Composite, capture::PIN_CATEGORY_CAPTURE),
      capture::S_OK);
  EXPECT_EQ(card.routes, (std::vector<std::pair<long, long>>{{0, 1}}));
}

}  // namespace
