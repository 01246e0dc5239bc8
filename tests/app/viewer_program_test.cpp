// The stereo-viewer program as users start it, headless: file cameras, the demo, bad options.
#include <cstdio>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "stereo/convergence_follower.h"
#include "testing/stereo_rig.h"
#include "testing/viewer_harness.h"

using testkit::ProgramRun;
using testkit::TempDir;

namespace {

ProgramRun Viewer(const std::string& arguments) {
  return testkit::RunProgram(std::string(VIEWER_BINARY_DIR) + "/stereo-viewer " + arguments);
}

// The viewer headless on the two pictures as file cameras, with identity maps, its trace and snapshots
// in `dir`.
ProgramRun OnFiles(const TempDir& dir, const cv::Mat& left, const cv::Mat& right, const std::string& options) {
  EXPECT_TRUE(cv::imwrite(dir.File("left.png"), left) && cv::imwrite(dir.File("right.png"), right));
  return Viewer("--camera-files " + dir.File("left.png") + " " + dir.File("right.png") +
                " --identity-maps --headless --trace " + dir.File("trace.csv") + " --snapshot " + dir.File("shots") +
                " " + options);
}

// The trace's lines after its header, which must be `header`.
std::vector<std::string> TraceBody(const std::string& path, const std::string& header) {
  std::vector<std::string> lines = testkit::Lines(path);
  EXPECT_FALSE(lines.empty()) << path;
  if (lines.empty()) return lines;
  EXPECT_EQ(lines.front(), header);
  lines.erase(lines.begin());
  return lines;
}

struct TraceLine {
  int pass, new1, new2, dominant, follower, crop1, crop2;
};

std::vector<TraceLine> ReadTrace(const std::string& path) {
  std::vector<TraceLine> lines;
  for (const std::string& line :
       TraceBody(path, "pass,new1,new2,dominant,follower,crop1_x,crop2_x,latency1_ms,latency2_ms")) {
    TraceLine t{};
    EXPECT_EQ(std::sscanf(line.c_str(), "%d,%d,%d,%d,%d,%d,%d", &t.pass, &t.new1, &t.new2, &t.dominant, &t.follower,
                          &t.crop1, &t.crop2),
              7)
        << line;
    lines.push_back(t);
  }
  return lines;
}

struct Rig {
  const char* name;
  std::string options;  // beside the file cameras
  stereo::Geometry geometry;
  int shift;
};

class ViewerRig : public testing::TestWithParam<Rig> {};

// The follower's rules pass by pass, the crops where the geometry puts them, the views they show.
TEST_P(ViewerRig, FileCamerasConvergeOnTheirDisparityAndTheSnapshotsAreTheCrops) {
  const stereo::Geometry& g = GetParam().geometry;
  TempDir dir;
  cv::Mat left, right;
  testkit::TexturedPair(GetParam().shift, &left, &right, 11, g.frame);
  const ProgramRun run = OnFiles(dir, left, right, "--passes 120" + GetParam().options);
  ASSERT_EQ(run.code, 0) << run.err;
  const std::vector<TraceLine> trace = ReadTrace(dir.File("trace.csv"));
  ASSERT_EQ(trace.size(), 120u);
  stereo::FollowerState follower;
  for (const TraceLine& t : trace) {
    const int expected = std::max(1, stereo::ConvergenceFollower(follower, std::min(t.dominant, g.DisparityBound())));
    ASSERT_EQ(t.follower, expected) << "pass " << t.pass;
    ASSERT_EQ(t.crop1, g.CropCentreX() + t.follower / 2);
    ASSERT_EQ(t.crop2, g.CropCentreX() - t.follower / 2);
  }
  EXPECT_EQ(trace.back().dominant, GetParam().shift) << "once both files have arrived the dominant disparity is theirs";
  EXPECT_LT(std::abs(trace.back().follower - GetParam().shift), 5);
  // As written: three channels, the crop's size.
  const cv::Mat shot1 = cv::imread(dir.File("shots/side1.png"), cv::IMREAD_UNCHANGED),
                shot2 = cv::imread(dir.File("shots/side2.png"), cv::IMREAD_UNCHANGED);
  ASSERT_FALSE(shot1.empty() || shot2.empty());
  EXPECT_EQ(cv::norm(shot1, left(cv::Rect(cv::Point(trace.back().crop1, g.CropY()), g.view)), cv::NORM_INF), 0.0);
  EXPECT_EQ(cv::norm(shot2, right(cv::Rect(cv::Point(trace.back().crop2, g.CropY()), g.view)), cv::NORM_INF), 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Geometries, ViewerRig,
    testing::Values(Rig{"Defaults", "", {}, 48},
                    Rig{"SmallCamerasFewDisparities",
                        " --frame 640x480 --view 480x360 --disparities 64",
                        {{640, 480}, {480, 360}, 64},
                        40},
                    Rig{"WideCameras", " --frame 1280x720 --view 1024x576", {{1280, 720}, {1024, 576}, 192}, 90}),
    [](const auto& info) { return std::string(info.param.name); });

// Swapped cables and a mirror rig fixed from the command line, shown side by side on one display: the
// left eye sees the right-hand file's frames mirrored, the right eye the left-hand file's.
TEST(ViewerProgram, SwappedAndMirroredEyesSideBySideInOnePicture) {
  TempDir dir;
  cv::Mat left, right;
  testkit::TexturedPair(48, &left, &right, 11);
  const ProgramRun run = OnFiles(dir, left, right, "--passes 30 --output side-by-side --swap-eyes --flip-left h");
  ASSERT_EQ(run.code, 0) << run.err;
  const TraceLine last = ReadTrace(dir.File("trace.csv")).back();
  cv::Mat mirrored, expected;
  cv::flip(right, mirrored, 1);
  cv::hconcat(mirrored(cv::Rect(last.crop1, 84, 800, 600)), left(cv::Rect(last.crop2, 84, 800, 600)), expected);
  const cv::Mat shot = cv::imread(dir.File("shots/view.png"), cv::IMREAD_UNCHANGED);
  ASSERT_EQ(shot.size(), expected.size());
  EXPECT_EQ(cv::norm(shot, expected, cv::NORM_INF), 0.0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("shots/side1.png")));
}

TEST(ViewerProgram, ComfortTracesNearAndFarAndFollowsItsTarget) {
  TempDir dir;
  // Its temporary directory is `dir`, where the demo without a screen would put its views.
  const ProgramRun run = testkit::RunProgram("TMPDIR=" + dir.path() +
                                             " " VIEWER_BINARY_DIR
                                             "/stereo-viewer --demo --headless --scene depth-step --comfort "
                                             "--screen-width 1000 --passes 120 --trace " +
                                             dir.File("trace.csv"));
  ASSERT_EQ(run.code, 0) << run.err;
  const std::vector<std::string> lines =
      TraceBody(dir.File("trace.csv"),
                "pass,new1,new2,dominant,follower,crop1_x,crop2_x,latency1_ms,latency2_ms,"
                "near,far,parallax_near_pct,parallax_far_pct,clamped,parallax_near_mm,parallax_far_mm");
  stereo::FollowerState follower;
  for (const std::string& line : lines) {
    std::vector<std::string> f;
    std::stringstream fields(line + ",");
    for (std::string field; std::getline(fields, field, ',');) f.push_back(field);
    ASSERT_EQ(f.size(), 16u) << line;
    const int v = std::stoi(f[4]), convergence = std::stoi(f[5]) - std::stoi(f[6]);
    ASSERT_EQ(v, std::max(1, stereo::ConvergenceFollower(follower, std::stoi(f[13]))))
        << line << ": follows its target";
    if (f[9].empty()) continue;  // nothing known yet
    const double nearPct = std::stod(f[11]), farPct = std::stod(f[12]);
    EXPECT_NEAR(nearPct, 100 * (convergence - std::stod(f[9])) / 800, 0.001) << line;
    EXPECT_NEAR(farPct, 100 * (convergence - std::stod(f[10])) / 800, 0.001) << line;
    EXPECT_NEAR(std::stod(f[14]), nearPct * 10, 0.06) << line << ": millimetres on a 1 m screen";
  }
  EXPECT_EQ(lines.size(), 120u);
  EXPECT_FALSE(std::filesystem::exists(dir.File("stereo-viewer-demo")))
      << "a demo asked to run headless writes no views";
}

// Without a screen the error box's caption and text go to standard error; the exit code stays 0.
TEST(ViewerProgram, MissingMapsEndTheRunWithTheBoxOnStandardError) {
  TempDir dir;
  const ProgramRun run = Viewer("--headless --passes 5 --maps " + dir.path());
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Loading rectification maps...\nrectification map " + dir.File("mx1.xml") +
                         ": file not found\nDirect3D aplikace: Nelze načíst rektifikační mapu mx1.xml!\n");
}

TEST(ViewerProgram, BadOptionsGetOneLineAndExitCodeTwo) {
  TempDir dir;
  cv::imwrite(dir.File("small.png"), cv::Mat(480, 640, CV_8UC3, cv::Scalar::all(9)));
  for (const std::string& arguments :
       {std::string("--frobnicate"), "--camera-files " + dir.File("small.png") + " " + dir.File("small.png"),
        "--camera-files " + dir.File("missing.png") + " " + dir.File("missing.png"),
        "--headless --passes 1 --trace " + dir.File("no/such/dir/t.csv"), std::string("--output sideways"),
        std::string("--flip-right x"), "--headless --passes 1 --control " + dir.File("small.png"),
        std::string("--demo --cameras left nowhere")}) {
    const ProgramRun run = Viewer(arguments);
    EXPECT_EQ(run.code, 2) << arguments;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << arguments << ": " << run.err;
    EXPECT_EQ(run.err.rfind("stereo-viewer: ", 0), 0u) << run.err;
  }
  const ProgramRun small = Viewer("--camera-files " + dir.File("small.png") + " " + dir.File("small.png"));
  EXPECT_NE(small.err.find("is 640 x 480, the cameras need 1024 x 768"), std::string::npos) << small.err;
  const ProgramRun same = Viewer("--demo --cameras 1 Right");
  EXPECT_EQ(same.code, 2);
  EXPECT_EQ(same.err, "stereo-viewer: --cameras: LEFT and RIGHT are both 1 \"Synthetic camera (right)\"\n");
}

// Cameras chosen by name, swapped, and paired closest: the trace tells how far apart the frames shown
// were taken. The demo's cameras run in step, so mostly less than a frame period (33 ms) apart; a
// frame's time is when it was rendered, which a loaded machine can delay now and then.
TEST(ViewerProgram, ChosenCamerasAndTheirPairSkewInTheTrace) {
  TempDir dir;
  const ProgramRun run =
      Viewer("--demo --headless --passes 40 --cameras RIGHT left --pairing closest --trace " + dir.File("t.csv"));
  ASSERT_EQ(run.code, 0) << run.err;
  std::vector<double> skews;
  for (const std::string& line :
       TraceBody(dir.File("t.csv"), "pass,new1,new2,dominant,follower,crop1_x,crop2_x,latency1_ms,latency2_ms,skew_ms"))
    if (const std::string skew = line.substr(line.rfind(',') + 1); !skew.empty())
      skews.push_back(std::abs(std::stod(skew)));
  ASSERT_GT(skews.size(), 20u);
  std::nth_element(skews.begin(), skews.begin() + skews.size() / 2, skews.end());
  EXPECT_LT(skews[skews.size() / 2], 34.0);
  EXPECT_EQ(run.err, "");
}

TEST(ViewerProgram, HelpAndVersion) {
  ProgramRun run = Viewer("--help");
  EXPECT_EQ(run.code, 0);
  EXPECT_NE(run.out.find("--camera-files LEFT RIGHT"), std::string::npos);
  run = Viewer("--version");
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out.rfind("stereo-viewer ", 0), 0u);
}

}  // namespace
