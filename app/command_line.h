// The viewer's command line. With no option the viewer does what it always did.
#pragma once

#include <optional>
#include <string>

#include "display/output_modes.h"
#include "stereo/geometry.h"
#include "stereo/mirror.h"
#include "stereo/parallax_budget.h"

namespace app {

struct CommandLine {
  bool help = false;
  bool version = false;
  bool listCameras = false;
  bool verbose = false;
  bool identityMaps = false;
  bool demo = false;
  bool windowed = false;
  bool headless = false;
  std::string mapDirectory;
  std::string leftFile, rightFile;  // --camera-files
  long passes = 0;                  // 0: until Escape
  std::string traceFile;
  std::string snapshotDirectory;
  stereo::Geometry geometry;  // --frame, --view, --disparities
  display::OutputMode output = display::OutputMode::Dual;
  bool outputGiven = false;  // --output was on the command line
  bool swapEyes = false;
  stereo::Mirror flipLeft = stereo::Mirror::None, flipRight = stereo::Mirror::None;
  std::string controlPipe;
  bool vsync = false;
  std::string scene;  // with --demo; empty: the demo's own
  bool comfort = false;
  std::optional<stereo::ParallaxBudget> budget;  // with --comfort; its screen width comes from below
  std::optional<double> screenWidthMm;
  bool holdWhenUnsure = false;
  std::string leftCamera, rightCamera;  // --cameras: numbers, paths or parts of names
  bool matchControls = false;
  std::string pairing;  // --pairing: empty (not given), "first" or "closest"

  bool cameraFiles() const { return !leftFile.empty(); }
  bool chosenCameras() const { return !leftCamera.empty(); }
};

// False with a one-line `error` for an unknown option, a missing or bad value, or options that
// cannot go together.
bool ParseCommandLine(int argc, const char* const* argv, CommandLine* options, std::string* error);

std::string UsageText();

}  // namespace app
