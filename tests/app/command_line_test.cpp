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
  const std::vector<std::vector<const char*>> bad = {{"--frobnicate"},
                                                     {"--passes"},
                                                     {"--passes", "0"},
                                                     {"--passes", "-3"},
                                                     {"--passes", "12x"},
                                                     {"--passes", "99999999999999999999"},
                                                     {"--maps"},
                                                     {"--camera-files", "a"},
                                                     {"--camera-files", "a", "--demo"},
                                                     {"--trace"},
                                                     {"--snapshot"},
                                                     {"--maps", "d", "--identity-maps"},
                                                     {"--demo", "--camera-files", "a", "b"},
                                                     {"--headless", "--windowed"},
                                                     {"positional"}};
  for (const auto& args : bad) {
    app::CommandLine options;
    std::string error;
    EXPECT_FALSE(Parse(args, &options, &error)) << args[0];
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

}  // namespace
