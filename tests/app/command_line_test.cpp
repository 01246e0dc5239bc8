// Command-line parsing: every option, and every bad value refused with one line.
#include <gtest/gtest.h>

#include "app/command_line.h"

namespace {

bool Parse(std::vector<const char*> args, app::CommandLine* options, std::string* error) {
  args.insert(args.begin(), "stereo-viewer");
  return app::ParseCommandLine(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(CommandLine, NoOptionsIsTheDefaultRun) {
  app::CommandLine options;
  std::string error;
  ASSERT_TRUE(Parse({}, &options, &error));
  EXPECT_FALSE(options.demo || options.headless || options.windowed || options.identityMaps || options.verbose);
  EXPECT_TRUE(options.mapDirectory.empty());
  EXPECT_EQ(options.passes, 0);
}

TEST(CommandLine, ReadsEveryOptionWithItsValue) {
  app::CommandLine options;
  std::string error;
  ASSERT_TRUE(Parse({"--maps", "/rig", "--camera-files", "l.png", "r.png", "--headless", "--passes", "25", "--trace",
                     "t.csv", "--snapshot", "shots", "--verbose"},
                    &options, &error))
      << error;
  EXPECT_EQ(options.mapDirectory, "/rig");
  EXPECT_EQ(options.leftFile, "l.png");
  EXPECT_EQ(options.rightFile, "r.png");
  EXPECT_TRUE(options.headless && options.verbose && options.cameraFiles());
  EXPECT_EQ(options.passes, 25);
  EXPECT_EQ(options.traceFile, "t.csv");
  EXPECT_EQ(options.snapshotDirectory, "shots");
}

TEST(CommandLine, RefusesBadInputWithAOneLineMessage) {
  const struct {
    std::vector<const char*> args;
    const char* error;
  } bad[] = {
      {{"--frobnicate"}, "unknown option '--frobnicate' (see --help)"},
      {{"positional"}, "unknown option 'positional' (see --help)"},
      {{"--passes"}, "--passes needs a positive whole number"},
      {{"--passes", "--headless"}, "--passes needs a positive whole number"},
      {{"--passes", "0"}, "--passes needs a positive whole number, not '0'"},
      {{"--passes", "-3"}, "--passes needs a positive whole number, not '-3'"},
      {{"--passes", "12x"}, "--passes needs a positive whole number, not '12x'"},
      {{"--passes", "99999999999999999999"}, "--passes needs a positive whole number, not '99999999999999999999'"},
      {{"--maps"}, "--maps needs a directory"},
      {{"--camera-files", "a"}, "--camera-files needs two files: LEFT RIGHT"},
      {{"--camera-files", "a", "--demo"}, "--camera-files needs two files: LEFT RIGHT"},
      {{"--trace"}, "--trace needs a file name"},
      {{"--snapshot"}, "--snapshot needs a directory"},
      {{"--identity-maps", "--maps", "d"}, "--maps and --identity-maps cannot go together"},
      {{"--camera-files", "a", "b", "--demo"}, "--demo and --camera-files cannot go together"},
      {{"--windowed", "--headless"}, "--headless and --windowed cannot go together"},
  };
  for (const auto& [args, expected] : bad) {
    app::CommandLine options;
    std::string error;
    EXPECT_FALSE(Parse(args, &options, &error)) << args[0];
    EXPECT_EQ(error, expected);
  }
}

TEST(CommandLine, NumbersAreDecimalTheLastOfARepeatedOptionCountsAndHelpIsGenerated) {
  app::CommandLine options;
  std::string error;
  ASSERT_TRUE(Parse({"--passes", "010", "--maps", "a", "--maps", "b"}, &options, &error)) << error;
  EXPECT_EQ(options.passes, 10);
  EXPECT_EQ(options.mapDirectory, "b");
  ASSERT_TRUE(Parse({"--help"}, &options, &error)) << error;
  EXPECT_TRUE(options.help);
  EXPECT_NE(app::UsageText().find("\n  --passes N "), std::string::npos) << app::UsageText();
}

}  // namespace
