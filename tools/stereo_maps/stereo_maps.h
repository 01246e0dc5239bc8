// The stereo-maps commands, callable without a process: each returns the exit code, writes its
// report to `out` and progress, warnings and its one-line error to `err`.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/stereo_maps/calibration.h"
#include "tools/stereo_maps/command_line.h"

namespace stereo_maps {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;

// The viewer opens its cameras, and so reads its maps, at this size unless told otherwise (--frame).
inline constexpr int kViewerWidth = 1024;
inline constexpr int kViewerHeight = 768;

struct CalibrationReport {
  StereoCalibration calibration;
  BoardViews views;
  std::vector<std::string> usedPairs;  // "left01.jpg + right01.jpg"
  Misalignment misalignment;           // of the corners after rectification
};

struct CheckReport {
  bool boardFound = false;
  Misalignment misalignment;
  cv::Size pictureSize;
};

int RunIdentity(const IdentityOptions& options, std::ostream& out, std::ostream& err);
int RunCalibrate(const CalibrateOptions& options, std::ostream& out, std::ostream& err,
                 CalibrationReport* report = nullptr);
int RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& err, CheckReport* report = nullptr);

// The whole program: `args` without the program name.
int RunStereoMaps(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace stereo_maps
