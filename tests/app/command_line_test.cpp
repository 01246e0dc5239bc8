// The viewer's command line: what each option sets, bad input refused with its one line, the help.
#include <sstream>
#include <tuple>

#include <gtest/gtest.h>

#include "app/command_line.h"

namespace {

bool Parse(std::vector<const char*> args, app::CommandLine* options, std::string* error) {
  args.insert(args.begin(), "stereo-viewer");
  return app::ParseCommandLine(static_cast<int>(args.size()), args.data(), options, error);
}

// The program-level tests run most options; here what no headless run shows: the defaults, the last of a
// repeated option, decimal numbers, `--option=value`, and the options of a windowed or live run.
TEST(CommandLine, ReadsEveryOptionAndTheLastOfARepeatedOne) {
  app::CommandLine o;
  std::string error;
  ASSERT_TRUE(Parse({}, &o, &error));
  EXPECT_FALSE(o.help || o.verbose || o.windowed || o.matchControls || o.comfort || o.holdWhenUnsure || o.budget ||
               o.headless || o.demo || !o.mapDirectory.empty() || o.passes != 0 || !o.pairing.empty());
  EXPECT_EQ(o.geometry.frame, cv::Size(1024, 768)) << "the defaults";
  ASSERT_TRUE(Parse({"--maps", "a", "--maps", "/rig", "--passes", "010", "--view=800x500", "--verbose", "-h",
                     "--windowed", "--match-controls", "--comfort", "--budget", "2.5,1,3", "--hold-when-unsure"},
                    &o, &error))
      << error;
  EXPECT_EQ(o.mapDirectory, "/rig");
  EXPECT_EQ(o.passes, 10) << "decimal, not octal";
  EXPECT_EQ(o.geometry.view, cv::Size(800, 500));
  EXPECT_TRUE(o.verbose && o.help && o.windowed && o.matchControls && o.comfort && o.holdWhenUnsure);
  ASSERT_TRUE(o.budget);
  EXPECT_EQ(std::tuple(o.budget->behindPct, o.budget->inFrontPct, o.budget->totalPct), std::tuple(2.5, 1.0, 3.0));
}

TEST(CommandLine, RefusesBadInputWithAOneLineMessage) {
  const struct {
    std::vector<const char*> args;
    const char* error;
  } bad[] = {
      {{"--frobnicate"}, "unknown option '--frobnicate' (see --help)"},
      {{"positional"}, "unknown option 'positional' (see --help)"},
      {{"--passes"}, "--passes needs a positive whole number"},
      {{"--passes", "0"}, "--passes needs a positive whole number, not '0'"},
      {{"--passes", "12x"}, "--passes needs a positive whole number, not '12x'"},
      {{"--camera-files", "a"}, "--camera-files needs two files: LEFT RIGHT"},
      {{"--identity-maps", "--maps", "d"}, "--maps and --identity-maps cannot go together"},
      {{"--camera-files", "a", "b", "--demo"}, "--demo and --camera-files cannot go together"},
      {{"--windowed", "--headless"}, "--headless and --windowed cannot go together"},
      {{"--frame", "1280"}, "--frame needs WIDTHxHEIGHT, not '1280'"},
      {{"--disparities", "x"}, "--disparities needs a positive whole number, not 'x'"},
      {{"--frame", "1280x720", "--view", "1280x720"},
       "--view 1280x720 does not fit the 1280x720 frame (it must be narrower, to leave the crops room to move apart)"},
      {{"--demo", "--scene", "Demo"},
       "--scene needs a scene name (demo, depth-step, crossing, textureless, two-depths, approach), not 'Demo'"},
      {{"--scene", "crossing"}, "--scene needs --demo"},
      {{"--budget", "2,1,3"}, "--budget needs --comfort"},
      {{"--comfort", "--budget", "2,-1,3"},
       "--budget needs three per cent figures B,F,T (each above 0, at most 100), not '2,-1,3'"},
      {{"--comfort", "--budget", "2,1,3,"},
       "--budget needs three per cent figures B,F,T (each above 0, at most 100), not '2,1,3,'"},
      {{"--comfort", "--screen-width", "nan"},
       "--screen-width needs a width in millimetres (above 0, at most 100000), not 'nan'"},
      {{"--cameras", "0"}, "--cameras needs two cameras: LEFT RIGHT"},
      {{"--pairing", "sideways"}, "--pairing needs first or closest, not 'sideways'"},
  };
  for (const auto& [args, expected] : bad) {
    app::CommandLine options;
    std::string error;
    EXPECT_FALSE(Parse(args, &options, &error)) << expected;
    EXPECT_EQ(error, expected);
  }
}

// The help (and the man page made from it): usage first, then each option once, by its long name,
// with its description in one column.
TEST(CommandLine, HelpListsEveryOptionInTheColumnsUsersKnow) {
  const std::string help = app::UsageText();
  EXPECT_EQ(help.rfind("Usage: stereo-viewer [options]\n\nA live stereoscopic viewer", 0), 0u) << help;
  std::size_t previous = 0;
  // Each option with its argument names and the blank after them, in the order the help gives them.
  std::istringstream options(
      "--help ;--version ;--list-cameras ;--verbose ;--maps DIR ;--identity-maps ;--camera-files LEFT RIGHT ;"
      "--demo ;--windowed ;--headless ;--passes N ;--trace FILE ;--snapshot DIR ;--frame WxH ;--view WxH ;"
      "--disparities N ;--output MODE ;--swap-eyes ;--flip-left h|v|hv ;--flip-right h|v|hv ;--control FIFO ;"
      "--vsync ;--scene NAME ;--comfort ;--budget B,F,T ;--screen-width MM ;--hold-when-unsure ;"
      "--cameras LEFT RIGHT ;--match-controls ;--pairing MODE ;");
  for (std::string option; std::getline(options, option, ';');) {
    const std::size_t at = help.find("\n  " + option);
    ASSERT_NE(at, std::string::npos) << option;
    EXPECT_GT(at, previous) << option << " in its place";
    EXPECT_EQ(help.find_first_not_of(' ', at + 3 + option.size()), at + 29) << option;
    previous = at;
  }
  EXPECT_NE(help.find(",\n                            crop1_x,crop2_x,latency1_ms,latency2_ms\n"
                      "                            (and skew_ms with --pairing)\n"),
            std::string::npos);
}

}  // namespace
