// The stereo-maps command line: commands, their options and the usage text.
#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "stereo/mirror.h"

namespace stereo_maps {

enum class Command { kHelp, kIdentity, kCalibrate, kCheck };

struct IdentityOptions {
  cv::Size size{1024, 768};
  std::string outDir = ".";
};

struct CalibrateOptions {
  std::vector<std::string> leftPatterns;  // globs, or names the shell already expanded
  std::vector<std::string> rightPatterns;
  cv::Size board;           // inner corners: columns x rows
  double squareSize = 0.0;  // in the unit the translation is wanted in
  std::string outDir = ".";
  // Photos of mirrored cameras are mirrored before use, so the maps are for mirrored frames (as the
  // viewer's --flip-left and --flip-right make them).
  stereo::Mirror flipLeft = stereo::Mirror::None, flipRight = stereo::Mirror::None;
};

struct CheckOptions {
  std::string mapsDir = ".";
  std::string left;
  std::string right;
  std::string outFile = "check.png";
  cv::Size board{9, 6};  // looked for to measure the misalignment; the picture is written without it
  stereo::Mirror flipLeft = stereo::Mirror::None, flipRight = stereo::Mirror::None;
};

struct CommandLine {
  Command command = Command::kHelp;
  IdentityOptions identity;
  CalibrateOptions calibrate;
  CheckOptions check;
};

// Arguments without the program name. False with a one-line `error` on anything it cannot use.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* line, std::string* error);

// "WxH" (also "W*H" or with a capital X), each side from 1 to 65536. `size` may be null to only check.
bool ParseSize(const std::string& text, cv::Size* size);

// Every command with its options, generated from the same declarations the parser uses.
std::string UsageText();

}  // namespace stereo_maps
