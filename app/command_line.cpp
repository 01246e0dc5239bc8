#include "app/command_line.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace app {

namespace {

bool ParseCount(const char* text, long* value) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || parsed <= 0) return false;
  *value = parsed;
  return true;
}

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, CommandLine* options, std::string* error) {
  auto fail = [error](const std::string& text) {
    *error = text;
    return false;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* what) -> const char* {
      if (i + 1 >= argc || std::strncmp(argv[i + 1], "--", 2) == 0) return nullptr;
      (void)what;
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else if (arg == "--version") {
      options->version = true;
    } else if (arg == "--list-cameras") {
      options->listCameras = true;
    } else if (arg == "--verbose") {
      options->verbose = true;
    } else if (arg == "--identity-maps") {
      options->identityMaps = true;
    } else if (arg == "--demo") {
      options->demo = true;
    } else if (arg == "--windowed") {
      options->windowed = true;
    } else if (arg == "--headless") {
      options->headless = true;
    } else if (arg == "--maps") {
      const char* dir = value("DIR");
      if (!dir) return fail("--maps needs a directory");
      options->mapDirectory = dir;
    } else if (arg == "--camera-files") {
      const char* left = value("LEFT");
      const char* right = left ? value("RIGHT") : nullptr;
      if (!right) return fail("--camera-files needs two files: LEFT RIGHT");
      options->leftFile = left;
      options->rightFile = right;
    } else if (arg == "--passes") {
      const char* count = value("N");
      if (!ParseCount(count, &options->passes))
        return fail("--passes needs a positive whole number" +
                    std::string(count ? ", not '" + std::string(count) + "'" : ""));
    } else if (arg == "--trace") {
      const char* file = value("FILE");
      if (!file) return fail("--trace needs a file name");
      options->traceFile = file;
    } else if (arg == "--snapshot") {
      const char* dir = value("DIR");
      if (!dir) return fail("--snapshot needs a directory");
      options->snapshotDirectory = dir;
    } else {
      return fail("unknown option '" + arg + "' (see --help)");
    }
  }
  if (options->identityMaps && !options->mapDirectory.empty())
    return fail("--maps and --identity-maps cannot go together");
  if (options->demo && options->cameraFiles()) return fail("--demo and --camera-files cannot go together");
  if (options->headless && options->windowed) return fail("--headless and --windowed cannot go together");
  return true;
}

std::string UsageText() {
  return R"(Usage: stereo-viewer [options]

A live stereoscopic viewer with automatic convergence. Without options it opens capture devices 0 and 1
at 1024 x 768, reads mx1.xml, my1.xml, mx2.xml, my2.xml from the working directory, and shows side 1
(camera 0) full screen on display 1 and side 2 (camera 1) on display 0. Escape ends it.

Options:
  --help                    this text
  --version                 the version
  --list-cameras            list the video capture devices with their sizes and formats, then exit
  --verbose                 print the capture layer's diagnostics on standard output
  --maps DIR                read the four map files from DIR
  --identity-maps           no map files: frames are shown as the cameras deliver them
  --camera-files LEFT RIGHT two 1024 x 768 images (or videos) played as cameras 0 and 1 at 30 fps
  --demo                    synthetic cameras and identity maps: an object moving in depth
  --windowed                two 800 x 600 windows side by side instead of full screen
  --headless                no window at all (servers, benchmarks, checks)
  --passes N                end after N frame steps, as if Escape had been pressed
  --trace FILE              one CSV line per frame step: pass,new1,new2,dominant,follower,
                            crop1_x,crop2_x,latency1_ms,latency2_ms
  --snapshot DIR            at exit, write the last view of each side as DIR/side1.png, DIR/side2.png
)";
}

}  // namespace app
