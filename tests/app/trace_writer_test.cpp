// The trace: each pass's line, and the file it goes to.

#include <gtest/gtest.h>

#include "app/trace_writer.h"
#include "testing/viewer_harness.h"

using testkit::TempDir;

namespace {

TEST(TraceWriter, LinesCarryThePassAndLeaveLatencyEmptyWithoutANewFrame) {
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

  // The file: the header, then each pass once (the program-level tests read whole traces).
  TempDir dir;
  std::string error;
  {
    app::TraceWriter writer;
    ASSERT_TRUE(writer.Open(dir.File("t.csv"), &error)) << error;
    writer.Write(record);
    writer.Write(record);  // the same pass again writes nothing
  }
  EXPECT_EQ(testkit::Lines(dir.File("t.csv")),
            (std::vector<std::string>{app::TraceWriter::Header(), "7,1,0,64,61,142,82,4.250,"}));
}

}  // namespace
