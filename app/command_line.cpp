#include "app/command_line.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/comfort_options.h"
#include "app/control_channel.h"
#include "capture/synthetic/synthetic_scene.h"

namespace app {

namespace {

constexpr const char* kDescription =
    "A live stereoscopic viewer with automatic convergence. Without options it opens capture devices 0 and 1\n"
    "at 1024 x 768, reads mx1.xml, my1.xml, mx2.xml, my2.xml from the working directory, and shows side 1\n"
    "(camera 0) full screen on display 1 and side 2 (camera 1) on display 0. Escape ends it.\n";

// The help keeps the layout users know (and the man page is made from): usage, what the viewer does,
// then every option by its long name with the name of its value.
class Formatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode) const override {
    std::string text = "Usage: " + name + " [options]\n\n" + app->get_description() + "\nOptions:\n";
    for (const CLI::Option* option : app->get_options()) text += make_option(option, false);
    return text + app->get_footer();
  }
  std::string make_option_name(const CLI::Option* option, bool) const override {
    return "--" + option->get_lnames().front();
  }
  std::string make_option_opts(const CLI::Option* option) const override {
    return option->get_option_text().empty() ? "" : " " + option->get_option_text();
  }
};

// Every option, declared once: the help comes from these declarations and so do the one-line errors
// ("--maps needs a directory", "--passes needs a positive whole number, not '0'").
class Declarations {
 public:
  explicit Declarations(CommandLine* o) : app_(kDescription, "stereo-viewer") {
    app_.formatter(std::make_shared<Formatter>());
    app_.get_formatter()->column_width(28);
    app_.set_help_flag();  // --help is a flag like the others: a mistake elsewhere on the line still fails
    app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);  // the last one counts
    app_.add_flag("-h,--help", o->help, "this text");
    app_.add_flag("--version", o->version, "the version");
    app_.add_flag("--list-cameras", o->listCameras,
                  "list the video capture devices with their sizes and formats, then exit");
    app_.add_flag("--verbose", o->verbose, "print the capture layer's diagnostics on standard output");
    Value(app_.add_option("--maps", o->mapDirectory, "read the four map files from DIR"), "DIR", "a directory");
    app_.add_flag("--identity-maps", o->identityMaps, "no map files: frames are shown as the cameras deliver them");
    Value(app_.add_option_function<std::pair<std::string, std::string>>(
              "--camera-files", [o](const auto& files) { std::tie(o->leftFile, o->rightFile) = files; },
              "two images (or videos) of the frame size played as cameras 0 and 1 at 30 fps"),
          "LEFT RIGHT", "two files: LEFT RIGHT");
    app_.add_flag(
        "--demo", o->demo,
        "synthetic cameras and identity maps: an object moving in depth\namong others at other depths (see --scene)");
    app_.add_flag("--windowed", o->windowed,
                  "windows on the first display instead of full screen (dual: two of the view size side by side)");
    app_.add_flag("--headless", o->headless, "no window at all (servers, benchmarks, checks)");
    Value(app_.add_option("--passes", o->passes, "end after N frame steps, as if Escape had been pressed")
              ->transform(PositiveWholeNumber()),
          "N", "a positive whole number");
    Value(app_.add_option("--trace", o->traceFile,
                          "one CSV line per frame step: pass,new1,new2,dominant,follower,\n"
                          "crop1_x,crop2_x,latency1_ms,latency2_ms\n"
                          "(and skew_ms with --pairing)"),
          "FILE", "a file name");
    Value(app_.add_option("--snapshot", o->snapshotDirectory,
                          "at exit, write the last view of each side as DIR/side1.png, DIR/side2.png"),
          "DIR", "a directory");
    Value(app_.add_option_function<std::string>(
                  "--frame", [o](const std::string& size) { stereo::ParseSize(size, &o->geometry.frame); },
                  "the cameras' frame size and the maps' size (default 1024x768)")
              ->transform(Size()),
          "WxH", "WIDTHxHEIGHT");
    Value(app_.add_option_function<std::string>(
                  "--view", [o](const std::string& size) { stereo::ParseSize(size, &o->geometry.view); },
                  "the size of the crop each display shows (default 800x600)")
              ->transform(Size()),
          "WxH", "WIDTHxHEIGHT");
    Value(app_.add_option("--disparities", o->geometry.disparities,
                          "disparities the matcher searches, a multiple of 16 (default 192)")
              ->transform(PositiveWholeNumber()),
          "N", "a positive whole number");
    Value(app_.add_option_function<std::string>(
                  "--output",
                  [o](const std::string& name) {
                    o->output = *display::OutputModeNamed(name);
                    o->outputGiven = true;
                  },
                  "how the views are shown: dual (a display for each eye), side-by-side,\n"
                  "side-by-side-half, top-bottom-half (3D televisions), anaglyph (red-cyan glasses),\n"
                  "interlaced (even rows left eye), left, right; all but dual on display 0")
              ->transform(Checked([](const std::string& name) { return display::OutputModeNamed(name).has_value(); })),
          "MODE", "one of " + display::OutputModeNames());
    app_.add_flag("--swap-eyes", o->swapEyes, "the cameras exchange eyes: camera 1 for the left eye (key s)");
    for (auto [name, eye, mirror] :
         {std::tuple{"--flip-left", "left", &o->flipLeft}, std::tuple{"--flip-right", "right", &o->flipRight}})
      Value(app_.add_option_function<std::string>(
                    name, [mirror = mirror](const std::string& text) { stereo::ParseMirror(text, mirror); },
                    std::string("mirror the ") + eye + " eye's frames before rectification (mirror rigs)")
                ->transform(Checked([](const std::string& text) {
                  stereo::Mirror unused;
                  return stereo::ParseMirror(text, &unused);
                })),
            "h|v|hv", "h, v or hv");
    Value(app_.add_option("--control", o->controlPipe,
                          "read commands from the named pipe FIFO (made when missing), one a line:\n"
                          "swap, nudge +N|-N|N, lock, unlock, overlay [on|off], snapshot [PATH], quit"),
          "FIFO", "a named pipe");
    app_.add_flag("--vsync", o->vsync, "presents wait for the display's refresh: frame steps at its rate");
    app_.footer(std::string("\nKeys while running:\n") + kKeysHelp);
    std::string scenes;
    for (const std::string& name : capture::SceneNames()) scenes += (scenes.empty() ? "" : ", ") + name;
    Value(app_.add_option("--scene", o->scene, "with --demo, what the synthetic cameras show:\n" + scenes)
              ->transform(OneOf(capture::SceneNames())),
          "NAME", "a scene name (" + scenes + ")");
    app_.add_flag("--comfort", o->comfort,
                  "keep what is shown within a parallax budget; the trace gets\n"
                  "near,far,parallax_near_pct,parallax_far_pct,clamped");
    Value(app_.add_option_function<std::string>(
                  "--budget", [o](const std::string& text) { o->budget = ReadBudget(text); },
                  "with --comfort, the parallax allowed behind the screen, in front of it and in\n"
                  "all, in per cent of the view width (default 2,1,3)")
              ->transform(Checked([](const std::string& text) { return ReadBudget(text).has_value(); })),
          "B,F,T", "three per cent figures B,F,T (each above 0, at most 100)");
    Value(app_.add_option_function<std::string>(
                  "--screen-width", [o](const std::string& text) { o->screenWidthMm = ReadScreenWidth(text); },
                  "with --comfort, the width the views are shown at: at most 65 mm behind the\n"
                  "screen, and the trace gets parallax_near_mm,parallax_far_mm")
              ->transform(Checked([](const std::string& text) { return ReadScreenWidth(text).has_value(); })),
          "MM", "a width in millimetres (above 0, at most 100000)");
    app_.add_flag("--hold-when-unsure", o->holdWhenUnsure,
                  "keep the follower's target while the centre matches too little or has no clear peak");
    Value(app_.add_option_function<std::pair<std::string, std::string>>(
              "--cameras", [o](const auto& cameras) { std::tie(o->leftCamera, o->rightCamera) = cameras; },
              "the left and right cameras (default 0 1), each a number, a device\n"
              "path, a stable path (/dev/v4l/by-id/..., by-path/...; see\n"
              "--list-cameras) or part of a name"),
          "LEFT RIGHT", "two cameras: LEFT RIGHT");
    app_.add_flag("--match-controls", o->matchControls,
                  "once the left camera's automatic exposure and white balance have\n"
                  "settled (3 s), set both cameras by hand to its exposure, gain,\n"
                  "white balance and focus");
    Value(app_.add_option("--pairing", o->pairing,
                          "which frames a pass shows together: first (each side's first frame\n"
                          "since the last take, as without the option) or closest (a pass waits\n"
                          "up to half a frame period for the other camera's frame when it is\n"
                          "due); either adds skew_ms to the trace")
              ->transform(OneOf({"first", "closest"})),
          "MODE", "first or closest");
  }

  bool Parse(int argc, const char* const* argv, std::string* error) {
    try {
      app_.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
      *error = OneLine(e);
      return false;
    }
    // Also what follows "--": this program takes no file names.
    if (!app_.remaining().empty()) {
      *error = "unknown option '" + app_.remaining().front() + "' (see --help)";
      return false;
    }
    return true;
  }

  std::string Help() const { return app_.help(); }

 private:
  // `valueName` names the option's value in the help, `noun` in its errors.
  CLI::Option* Value(CLI::Option* option, const std::string& valueName, const std::string& noun) {
    needs_[option->get_name()] = noun;
    // The library takes the next words whatever they are; an option there means the value was left out.
    // (A transform, so that it comes before any other.)
    return option->option_text(valueName)->transform(
        CLI::Validator([](const std::string& value) { return value.rfind("--", 0) == 0 ? "missing" : ""; }, ""));
  }

  // Read as strtol reads base 10 (blanks and a sign before the digits are fine), handed on in canonical
  // form so that the library's own conversion, which would take "010" as octal, reads the same number.
  CLI::Validator PositiveWholeNumber() {
    return CLI::Validator(
        [this](std::string& value) -> std::string {
          char* end = nullptr;
          errno = 0;
          const long parsed = std::strtol(value.c_str(), &end, 10);
          if (value.empty() || errno != 0 || *end != '\0' || parsed <= 0) {
            badValue_ = value;
            return "out of range";
          }
          value = std::to_string(parsed);
          return {};
        },
        "");
  }

  CLI::Validator Size() {
    return CLI::Validator(
        [this](const std::string& value) -> std::string {
          cv::Size size;
          if (stereo::ParseSize(value, &size)) return {};
          badValue_ = value;
          return "not a size";
        },
        "");
  }

  // A value `valid` refuses is named in the error ("--output needs one of ..., not 'x'").
  CLI::Validator Checked(const std::function<bool(const std::string&)>& valid) {
    return CLI::Validator(
        [this, valid](std::string& value) -> std::string {
          if (valid(value)) return {};
          badValue_ = value;
          return "not valid";
        },
        "");
  }

  CLI::Validator OneOf(const std::vector<std::string>& names) {
    return Checked([names](const std::string& value) { return std::count(names.begin(), names.end(), value) > 0; });
  }

  // The library names the option its error is about first ("--passes: ..."); users read this program's
  // own wording.
  std::string OneLine(const CLI::ParseError& e) const {
    std::string what = e.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&e) && !app_.remaining().empty())
      return "unknown option '" + app_.remaining().front() + "' (see --help)";
    const auto need = std::find_if(needs_.begin(), needs_.end(),
                                   [&what](const auto& option) { return what.rfind(option.first + ":", 0) == 0; });
    if (need == needs_.end()) return what;
    std::string text = need->first + " needs " + need->second;
    if (badValue_) text += ", not '" + *badValue_ + "'";
    return text;
  }

  CLI::App app_;
  std::map<std::string, std::string> needs_;
  std::optional<std::string> badValue_;
};

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, CommandLine* options, std::string* error) {
  if (!Declarations(options).Parse(argc, argv, error)) return false;
  const auto fail = [error](const char* text) {
    *error = text;
    return false;
  };
  if (options->identityMaps && !options->mapDirectory.empty())
    return fail("--maps and --identity-maps cannot go together");
  if (options->demo && options->cameraFiles()) return fail("--demo and --camera-files cannot go together");
  if (options->headless && options->windowed) return fail("--headless and --windowed cannot go together");
  if (!options->scene.empty() && !options->demo) return fail("--scene needs --demo");
  if (options->budget && !options->comfort) return fail("--budget needs --comfort");
  if (options->screenWidthMm && !options->comfort) return fail("--screen-width needs --comfort");
  *error = stereo::CheckGeometry(options->geometry);
  return error->empty();
}

std::string UsageText() {
  CommandLine unused;
  return Declarations(&unused).Help();
}

}  // namespace app
