// The viewer's command line. With no option the viewer does what it always did.
#pragma once

#include <string>

#include "stereo/geometry.h"

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
  stereo::Geometry geometry;            // --frame, --view, --disparities
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
