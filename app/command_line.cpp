#include "app/command_line.h"

#include <charconv>
#include <climits>
#include <map>
#include <memory>
#include <tuple>
#include <utility>

#include <CLI/CLI.hpp>

namespace app {

namespace {

constexpr const char* kDescription =
    "A live stereoscopic viewer with automatic convergence. Without options it opens capture devices 0 and 1\n"
    "at 1024 x 768, reads mx1.xml, my1.xml, mx2.xml, my2.xml from the working directory, and shows side 1\n"
    "(camera 0) full screen on display 1 and side 2 (camera 1) on display 0. Escape ends it.\n";

// Options show their value's name and nothing else (the library would add what each excludes).
class Formatter : public CLI::Formatter {
 public:
  std::string make_option_opts(const CLI::Option* option) const override {
    return option->get_option_text().empty() ? "" : " " + option->get_option_text();
  }
};

// Every option, declared once: the help comes from these declarations and so do the one-line errors
// ("--maps needs a directory", "--passes needs a positive whole number, not '0'").
class Declarations {
 public:
  explicit Declarations(CommandLine* o) : app_(kDescription, "stereo-viewer") {
    app_.set_help_flag("-h,--help", "this text");
    app_.formatter(std::make_shared<Formatter>());
    app_.get_formatter()->column_width(28);
    app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);  // as before: the last one counts
    app_.add_flag("--version", o->version, "the version");
    app_.add_flag("--list-cameras", o->listCameras,
                  "list the video capture devices with their sizes and formats, then exit");
    app_.add_flag("--verbose", o->verbose, "print the capture layer's diagnostics on standard output");
    Value(app_.add_option("--maps", o->mapDirectory, "read the four map files from DIR"), "DIR", "a directory");
    app_.add_flag("--identity-maps", o->identityMaps, "no map files: frames are shown as the cameras deliver them")
        ->excludes("--maps");
    app_.add_flag("--demo", o->demo, "synthetic cameras and identity maps: an object moving in depth");
    Value(app_.add_option_function<std::pair<std::string, std::string>>(
                  "--camera-files", [o](const auto& files) { std::tie(o->leftFile, o->rightFile) = files; },
                  "two 1024 x 768 images (or videos) played as cameras 0 and 1 at 30 fps")
              ->excludes("--demo"),
          "LEFT RIGHT", "two files: LEFT RIGHT");
    app_.add_flag("--headless", o->headless, "no window at all (servers, benchmarks, checks)");
    app_.add_flag("--windowed", o->windowed, "two 800 x 600 windows side by side instead of full screen")
        ->excludes("--headless");
    Value(app_.add_option("--passes", o->passes, "end after N frame steps, as if Escape had been pressed")
              ->transform(WholeNumber(1, LONG_MAX)),
          "N", "a positive whole number");
    Value(app_.add_option("--trace", o->traceFile,
                          "one CSV line per frame step: pass,new1,new2,dominant,follower,\n"
                          "crop1_x,crop2_x,latency1_ms,latency2_ms"),
          "FILE", "a file name");
    Value(app_.add_option("--snapshot", o->snapshotDirectory,
                          "at exit, write the last view of each side as DIR/side1.png, DIR/side2.png"),
          "DIR", "a directory");
  }

  bool Parse(int argc, const char* const* argv, CommandLine* options, std::string* error) {
    try {
      app_.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
      options->help = true;
    } catch (const CLI::ParseError& e) {
      *error = OneLine(e);
      return false;
    }
    return true;
  }

  std::string Help() const { return app_.help(); }

 private:
  // `noun` names the option's value in its errors, `valueName` in the help.
  CLI::Option* Value(CLI::Option* option, const std::string& valueName, const std::string& noun) {
    needs_[option->get_name()] = noun;
    // The library takes the next words whatever they are; an option there means the value was left out.
    return option->option_text(valueName)->transform(
        CLI::Validator([](const std::string& value) { return value.rfind("--", 0) == 0 ? "missing" : ""; }, valueName));
  }

  // A base-10 whole number in [min, max], left in canonical form so that the library's own conversion
  // reads the same number.
  CLI::Validator WholeNumber(long min, long max) {
    return CLI::Validator(
        [this, min, max](std::string& value) -> std::string {
          long parsed = 0;
          const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), parsed);
          if (ec != std::errc() || end != value.data() + value.size() || parsed < min || parsed > max) {
            badValue_ = value;
            return "out of range";
          }
          value = std::to_string(parsed);
          return {};
        },
        "N");
  }

  // The library names the option its error is about first ("--passes: ..."); users read this program's
  // own wording.
  std::string OneLine(const CLI::ParseError& e) const {
    const std::string what = e.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&e) && !app_.remaining().empty())
      return "unknown option '" + app_.remaining().front() + "' (see --help)";
    if (const std::string excludes = " excludes "; dynamic_cast<const CLI::ExcludesError*>(&e)) {
      const std::size_t cut = what.find(excludes);
      return what.substr(0, cut) + " and " + what.substr(cut + excludes.size()) + " cannot go together";
    }
    for (const auto& [name, noun] : needs_)
      if (what.rfind(name + ":", 0) == 0)
        return name + " needs " + noun + (badValue_.empty() ? "" : ", not '" + badValue_ + "'");
    return what;
  }

  CLI::App app_;
  std::map<std::string, std::string> needs_;
  std::string badValue_;
};

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, CommandLine* options, std::string* error) {
  return Declarations(options).Parse(argc, argv, options, error);
}

std::string UsageText() {
  CommandLine unused;
  return Declarations(&unused).Help();
}

}  // namespace app
