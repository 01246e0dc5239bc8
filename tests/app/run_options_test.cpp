// Pass limit, snapshots and the trace line, on the fake backends.
#include <fstream>

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "app/trace_writer.h"
#include "stereo/convergence_follower.h"
#include "testing/viewer_harness.h"

using testkit::TempDir;
using testkit::ViewerHarness;

namespace {

TEST(RunOptions, APassLimitEndsTheRunAsEscapeWouldAndSnapshotsShowTheLastViews) {
  for (int passes : {1, 3}) {
    ViewerHarness h;
    TempDir dir;
    app::ViewerConfig config = ViewerHarness::IdentityConfig();
    config.maxPasses = passes;
    config.snapshotDirectory = dir.File("shots");
    EXPECT_EQ(app::WinMain(h.MakePlatform(), config), 0);
    EXPECT_TRUE(h.window->boxes.empty());
    EXPECT_EQ(h.screens->PresentCount(1), 1u + passes);
    for (const char* name : {"side1.png", "side2.png"}) {
      cv::Mat shot = cv::imread(dir.File("shots/") + name, cv::IMREAD_UNCHANGED);
      ASSERT_FALSE(shot.empty()) << name;
      EXPECT_EQ(shot.size(), cv::Size(800, 600));
      EXPECT_EQ(shot.type(), CV_8UC3);
      EXPECT_EQ(cv::countNonZero(shot.reshape(1)), 0) << "frames start black";
    }
  }
}

TEST(RunOptions, TraceLinesCarryThePassAndLeaveLatencyEmptyWithoutANewFrame) {
  stereo::FrameStepRecord record;
  record.passes = 7;
  record.newFrame[0] = true;
  record.dominant = 64;
  record.follower = 61;
  record.cropX[0] = 142;
  record.cropX[1] = 82;
  record.arrival[0] = std::chrono::steady_clock::now();
  record.presented = record.arrival[0] + std::chrono::microseconds(4250);
  EXPECT_EQ(app::TraceWriter::Line(record), "7,1,0,64,61,142,82,4.250,");
  // With --comfort: near, far, their parallax (empty while unknown), the target; then millimetres.
  record.target = 58;
  EXPECT_EQ(app::TraceWriter::Line(record, {true, true}), "7,1,0,64,61,142,82,4.250,,,,,,58,,");
  record.comfort = {true, 70.25, 52.5, -1.28125, 0.9375, -15.375, 11.25};
  EXPECT_EQ(app::TraceWriter::Line(record, {true, false}), "7,1,0,64,61,142,82,4.250,,70.25,52.50,-1.281,0.938,58");
  EXPECT_EQ(app::TraceWriter::Line(record, {true, true}),
            "7,1,0,64,61,142,82,4.250,,70.25,52.50,-1.281,0.938,58,-15.4,11.2");
  // With --pairing: the skew, empty until both sides have shown a frame.
  const app::TraceColumns skew{false, false, true};
  EXPECT_EQ(app::TraceWriter::Line(record, skew), "7,1,0,64,61,142,82,4.250,,") << "no skew before both sides show";
  record.captured[0] = record.arrival[0];
  record.captured[1] = record.arrival[0] + std::chrono::microseconds(2500);
  EXPECT_EQ(app::TraceWriter::Line(record, skew), "7,1,0,64,61,142,82,4.250,,-2.500");

  TempDir dir;
  std::string error;
  {
    app::TraceWriter writer;
    ASSERT_TRUE(writer.Open(dir.File("t.csv"), &error)) << error;
    writer.Write(record);
    writer.Write(record);  // the same pass again writes nothing
  }
  app::TraceWriter unwritable;
  EXPECT_FALSE(unwritable.Open(dir.File("no/such/dir/t.csv"), &error));
  EXPECT_NE(error.find("cannot write the trace"), std::string::npos);
  std::ifstream in(dir.File("t.csv"));
  std::string header, line, extra;
  std::getline(in, header);
  std::getline(in, line);
  EXPECT_EQ(header, app::TraceWriter::Header());
  EXPECT_EQ(line, "7,1,0,64,61,142,82,4.250,");
  EXPECT_FALSE(std::getline(in, extra));
}

}  // namespace
