// The stereo-maps command line, and the built program as a person runs it: exit codes and streams.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

#include "stereo/rectification_maps.h"
#include "testing/viewer_harness.h"
#include "tools/stereo_maps/command_line.h"

namespace {

using stereo_maps::Command;
using stereo_maps::CommandLine;
using testkit::TempDir;

// The words of a command line written as one string.
std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  return {std::istream_iterator<std::string>(in), {}};
}

CommandLine Parsed(const std::string& line) {
  CommandLine parsed;
  std::string error;
  EXPECT_TRUE(stereo_maps::ParseCommandLine(Words(line), &parsed, &error)) << error;
  return parsed;
}

TEST(StereoMapsCommandLine, ReadsEachCommand) {
  const CommandLine identity = Parsed("identity --size 640x480 --out=maps");
  EXPECT_EQ(identity.command, Command::kIdentity);
  EXPECT_EQ(identity.identity.size, cv::Size(640, 480));
  EXPECT_EQ(identity.identity.outDir, "maps");
  EXPECT_EQ(Parsed("identity --size 640X480 --size 2*3").identity.size, cv::Size(2, 3));
  // Globs the shell already expanded arrive as several words.
  const CommandLine calibrate =
      Parsed("calibrate --left l1.png l2.png --right r*.png --board 9x6 --square 2.5 --left l3");
  EXPECT_EQ(calibrate.command, Command::kCalibrate);
  EXPECT_EQ(calibrate.calibrate.leftPatterns, (std::vector<std::string>{"l1.png", "l2.png", "l3"}));
  EXPECT_EQ(calibrate.calibrate.rightPatterns, std::vector<std::string>{"r*.png"});
  EXPECT_EQ(calibrate.calibrate.board, cv::Size(9, 6));
  EXPECT_EQ(calibrate.calibrate.squareSize, 2.5);
  const CommandLine check = Parsed("check --right b.png --left a.png --maps m --out o.png --board 7x5");
  EXPECT_EQ(check.command, Command::kCheck);
  EXPECT_EQ(check.check.left + check.check.right + check.check.mapsDir + check.check.outFile, "a.pngb.pngmo.png");
  EXPECT_EQ(check.check.board, cv::Size(7, 5));
  for (const char* help : {"--help", "help", "-h", "calibrate --help", "check --bogus x --help"})
    EXPECT_EQ(Parsed(help).command, Command::kHelp) << help;
}

TEST(StereoMapsCommandLine, RefusesWhatItCannotUseWithOneLine) {
  const struct {
    const char* line;
    const char* error;
  } bad[] = {
      {"", "no command given (see stereo-maps --help)"},
      {"rectify --size 2x2", "unknown command 'rectify' (see stereo-maps --help)"},
      {"identity --size 0x768", "--size '0x768' is not WIDTHxHEIGHT"},
      {"identity --colour red", "unknown option --colour for identity (see stereo-maps --help)"},
      {"identity --out a b", "unexpected argument 'b' after --out (quote a glob so the shell leaves it alone)"},
      {"calibrate --square 1", "calibrate needs --left GLOB"},
      {"calibrate --board 1x6", "--board '1x6' is not COLUMNSxROWS of inner corners, each 2 to 100"},
      {"calibrate --square 0", "--square '0' is not a positive number"},
      {"check --flip-left x", "--flip-left 'x' is not h, v or hv"},
  };
  for (const auto& [line, expected] : bad) {
    CommandLine parsed;
    std::string error;
    EXPECT_FALSE(stereo_maps::ParseCommandLine(Words(line), &parsed, &error)) << line;
    EXPECT_EQ(error, expected);
  }
}

// The built program, as a person runs it (no blanks or quotes in these arguments).
testkit::ProgramRun RunTool(const std::string& arguments) {
  return testkit::RunProgram(VIEWER_BINARY_DIR "/stereo-maps " + arguments);
}

TEST(StereoMapsProgram, HelpOnStandardOutputAndMistakesAsOneLineWithExitCodeOne) {
  const testkit::ProgramRun help = RunTool("--help");
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out.rfind("usage: stereo-maps COMMAND [OPTIONS]\n", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("\n  check [--maps DIR] --left IMAGE --right IMAGE"), std::string::npos) << help.out;
  EXPECT_EQ(help.err, "");

  TempDir images;
  std::ofstream(images.File("left.jpg")) << "not a picture";
  const testkit::ProgramRun bad = RunTool("calibrate --left " + images.File("left.jpg") + " --right " +
                                          images.File("left.jpg") + " --board 9x6 --square 25 --out " + images.path());
  EXPECT_EQ(bad.code, 1);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err, "stereo-maps: cannot read image '" + images.File("left.jpg") + "'\n");
}

TEST(StereoMapsProgram, IdentityMapsTheViewerAcceptsInANewDirectory) {
  TempDir out;
  const testkit::ProgramRun run = RunTool("identity --out " + out.File("maps"));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "wrote identity maps 1024 x 768 to " + out.File("maps") + ": mx1.xml my1.xml mx2.xml my2.xml\n");
  EXPECT_EQ(run.err, "") << "the viewer's size needs no warning";
  cv::Mat x, y, map;
  stereo::MakeIdentityMaps(768, 1024, &x, &y);
  for (int i = 0; i < 4; ++i) {
    std::string reason;
    const std::string path = out.File("maps/") + stereo::kMapFileNames[i];
    ASSERT_TRUE(stereo::LoadMap(path, 768, 1024, &map, &reason)) << reason;
    EXPECT_EQ(cv::norm(map, i % 2 == 0 ? x : y, cv::NORM_INF), 0.0) << path;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out.File("maps")), {}), 4) << "the four maps only";
}

}  // namespace
