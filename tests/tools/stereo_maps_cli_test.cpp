#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "stereo/rectification_maps.h"
#include "tests/tools/temp_dir.h"
#include "tools/stereo_maps/command_line.h"

namespace {

using stereo_maps::Command;
using stereo_maps::CommandLine;
using test_tools::TempDir;

CommandLine Parsed(const std::vector<std::string>& args) {
  CommandLine line;
  std::string error;
  EXPECT_TRUE(stereo_maps::ParseCommandLine(args, &line, &error)) << error;
  return line;
}

std::string Refused(const std::vector<std::string>& args) {
  CommandLine line;
  std::string error;
  EXPECT_FALSE(stereo_maps::ParseCommandLine(args, &line, &error));
  return error;
}

TEST(StereoMapsCommandLine, ReadsEachCommand) {
  const CommandLine identity = Parsed({"identity", "--size", "640x480", "--out=maps"});
  EXPECT_EQ(identity.command, Command::kIdentity);
  EXPECT_EQ(identity.identity.size, cv::Size(640, 480));
  EXPECT_EQ(identity.identity.outDir, "maps");
  EXPECT_EQ(Parsed({"identity"}).identity.size, cv::Size(1024, 768));

  // Globs the shell already expanded arrive as several words.
  const CommandLine calibrate =
      Parsed({"calibrate", "--left", "l1.png", "l2.png", "--right", "r*.png", "--board", "9x6", "--square", "2.5"});
  EXPECT_EQ(calibrate.command, Command::kCalibrate);
  EXPECT_EQ(calibrate.calibrate.leftPatterns, (std::vector<std::string>{"l1.png", "l2.png"}));
  EXPECT_EQ(calibrate.calibrate.rightPatterns, (std::vector<std::string>{"r*.png"}));
  EXPECT_EQ(calibrate.calibrate.board, cv::Size(9, 6));
  EXPECT_EQ(calibrate.calibrate.squareSize, 2.5);
  EXPECT_EQ(calibrate.calibrate.outDir, ".");

  const CommandLine check = Parsed({"check", "--left", "a.png", "--right", "b.png", "--maps", "m"});
  EXPECT_EQ(check.command, Command::kCheck);
  EXPECT_EQ(check.check.outFile, "check.png");
  EXPECT_EQ(check.check.mapsDir, "m");
  EXPECT_EQ(check.check.board, cv::Size(9, 6));

  EXPECT_EQ(Parsed({"--help"}).command, Command::kHelp);
  EXPECT_EQ(Parsed({"calibrate", "--help"}).command, Command::kHelp);
}

TEST(StereoMapsCommandLine, RefusesWhatItCannotUse) {
  EXPECT_EQ(Refused({}), "no command given (see stereo-maps --help)");
  EXPECT_EQ(Refused({"rectify"}), "unknown command 'rectify' (see stereo-maps --help)");
  EXPECT_EQ(Refused({"identity", "--size", "0x768"}), "--size '0x768' is not WIDTHxHEIGHT");
  EXPECT_EQ(Refused({"identity", "--size"}), "--size needs a value");
  EXPECT_EQ(Refused({"identity", "--colour", "red"}), "unknown option --colour for identity (see stereo-maps --help)");
  EXPECT_EQ(Refused({"identity", "--out", "a", "b"}),
            "unexpected argument 'b' after --out (quote a glob so the shell leaves it alone)");
  const std::vector<std::string> complete = {"calibrate", "--left", "l",        "--right", "r",
                                             "--board",   "9x6",    "--square", "1"};
  for (size_t drop : {1u, 3u, 5u, 7u}) {
    std::vector<std::string> args = complete;
    args.erase(args.begin() + static_cast<long>(drop), args.begin() + static_cast<long>(drop) + 2);
    EXPECT_EQ(Refused(args).rfind("calibrate needs --" + complete[drop].substr(2), 0), 0u) << complete[drop];
  }
  for (const char* board : {"9", "1x6", "9x6x2", "-9x6", "9x"}) {
    std::vector<std::string> args = complete;
    args[6] = board;
    EXPECT_NE(Refused(args).find("is not COLUMNSxROWS"), std::string::npos) << board;
  }
  for (const char* square : {"0", "-2", "abc", "1e999", "nan"}) {
    std::vector<std::string> args = complete;
    args[8] = square;
    EXPECT_NE(Refused(args).find("is not a positive number"), std::string::npos) << square;
  }
  EXPECT_EQ(Refused({"check", "--left", "a.png"}), "check needs --right IMAGE");
}

struct ToolRun {
  int exitCode = -1;
  std::string out, err;
};

std::string Quoted(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// The built program, as a person runs it.
ToolRun RunTool(const std::vector<std::string>& args) {
  TempDir capture;
  std::string command = Quoted(VIEWER_BINARY_DIR "/stereo-maps");
  for (const std::string& arg : args) command += " " + Quoted(arg);
  command += " >" + Quoted(capture / "out") + " 2>" + Quoted(capture / "err") + " </dev/null";
  const int status = std::system(command.c_str());
  ToolRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = Slurp(capture / "out");
  run.err = Slurp(capture / "err");
  return run;
}

TEST(StereoMapsProgram, HelpAndUsageErrors) {
  const ToolRun help = RunTool({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("usage: stereo-maps COMMAND", 0), 0u);
  EXPECT_EQ(help.err, "");

  const ToolRun none = RunTool({});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_EQ(none.err, "stereo-maps: no command given (see stereo-maps --help)\n");
}

TEST(StereoMapsProgram, BadImagesGiveOneLineAndExitOne) {
  TempDir images, out;
  std::ofstream(images / "left.jpg") << "not a picture";
  std::ofstream(images / "right.jpg") << "not a picture either";
  const ToolRun unreadable = RunTool({"calibrate", "--left", images / "left.jpg", "--right", images / "right.jpg",
                                      "--board", "9x6", "--square", "25", "--out", out.path().string()});
  EXPECT_EQ(unreadable.exitCode, 1);
  EXPECT_EQ(unreadable.err, "stereo-maps: cannot read image '" + (images / "left.jpg") + "'\n");
  EXPECT_TRUE(out.Entries().empty());

  const ToolRun noMatch = RunTool({"calibrate", "--left", images / "*.png", "--right", images / "*.jpg", "--board",
                                   "9x6", "--square", "25", "--out", out.path().string()});
  EXPECT_EQ(noMatch.exitCode, 1);
  EXPECT_EQ(noMatch.err, "stereo-maps: --left: no images match '" + (images / "*.png") + "'\n");
  EXPECT_TRUE(out.Entries().empty());
}

TEST(StereoMapsProgram, IdentityMapsInANewDirectory) {
  TempDir out;
  // A small size keeps the test quick; the library test covers the viewer's 1024 x 768.
  const ToolRun run = RunTool({"identity", "--size", "64x48", "--out", out / "maps"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "wrote identity maps 64 x 48 to " + (out / "maps") + ": mx1.xml my1.xml mx2.xml my2.xml\n");
  EXPECT_NE(run.err.find("warning: these maps are 64 x 48; the viewer needs 1024 x 768"), std::string::npos);
  cv::Mat map;
  std::string reason;
  EXPECT_TRUE(stereo::LoadMap(out / "maps/my2.xml", 48, 64, &map, &reason)) << reason;
  EXPECT_EQ(map.at<float>(47, 3), 47.0f);
}

}  // namespace
