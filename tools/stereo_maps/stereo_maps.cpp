#include "tools/stereo_maps/stereo_maps.h"

#include <filesystem>
#include <iomanip>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "stereo/rectification_maps.h"
#include "tools/stereo_maps/check_picture.h"
#include "tools/stereo_maps/map_set.h"

namespace stereo_maps {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCalibrationFile = "calibration.yml";

int Error(std::ostream& err, const std::string& message) {
  err << "stereo-maps: " << message << std::endl;
  return kExitFailure;
}

std::string SizeText(cv::Size size) { return std::to_string(size.width) + " x " + std::to_string(size.height); }

std::string DirText(const std::string& dir) { return dir.empty() ? "." : dir; }

void WarnUnlessViewerSize(cv::Size size, std::ostream& err) {
  if (size == cv::Size(kViewerWidth, kViewerHeight)) return;
  err << "stereo-maps: warning: these maps are " << SizeText(size) << "; the viewer takes them with --frame "
      << size.width << "x" << size.height << " (by default it needs " << kViewerWidth << " x " << kViewerHeight
      << "; take the photos with the cameras at the size they run at)" << std::endl;
}

std::ostream& operator<<(std::ostream& out, const Misalignment& m) {
  return out << "mean " << std::fixed << std::setprecision(3) << m.mean << " px, max " << m.max << " px over "
             << m.points << " corners";
}

}  // namespace

int RunIdentity(const IdentityOptions& options, std::ostream& out, std::ostream& err) {
  std::string reason;
  if (!PrepareOutputDirectory(options.outDir, &reason))
    return Error(err, "cannot write to '" + DirText(options.outDir) + "': " + reason);
  MapSet maps;
  stereo::MakeIdentityMaps(options.size.height, options.size.width, &maps[0], &maps[1]);
  stereo::MakeIdentityMaps(options.size.height, options.size.width, &maps[2], &maps[3]);
  StagedFiles files(options.outDir);
  if (!StageMaps(files, maps, &reason) || !files.Commit(&reason))
    return Error(err, "cannot write the maps to '" + DirText(options.outDir) + "': " + reason);
  out << "wrote identity maps " << SizeText(options.size) << " to " << DirText(options.outDir)
      << ": mx1.xml my1.xml mx2.xml my2.xml" << std::endl;
  WarnUnlessViewerSize(options.size, err);
  return kExitSuccess;
}

int RunCalibrate(const CalibrateOptions& options, std::ostream& out, std::ostream& err, CalibrationReport* report) {
  std::string reason;
  // Checked first: the corner search takes a while, and its result must have somewhere to go.
  if (!PrepareOutputDirectory(options.outDir, &reason))
    return Error(err, "cannot write to '" + DirText(options.outDir) + "': " + reason);

  std::vector<std::string> lefts, rights;
  if (!ExpandPatterns(options.leftPatterns, &lefts, &reason)) return Error(err, "--left: " + reason);
  if (!ExpandPatterns(options.rightPatterns, &rights, &reason)) return Error(err, "--right: " + reason);
  std::vector<ImagePair> pairs;
  cv::Size imageSize;
  if (!LoadPairs(lefts, rights, &pairs, &imageSize, &reason)) return Error(err, reason);
  for (ImagePair& pair : pairs) {
    pair.left = stereo::Mirrored(pair.left, options.flipLeft);
    pair.right = stereo::Mirrored(pair.right, options.flipRight);
  }
  if (pairs.size() < 3)
    return Error(err, "only " + std::to_string(pairs.size()) + " pair" + (pairs.size() == 1 ? "" : "s") +
                          " of images given; at least 3 are needed");

  CalibrationReport local;
  CalibrationReport& r = report ? *report : local;
  r.views = FindBoards(pairs, options.board, err);
  const std::string boardText = std::to_string(options.board.width) + "x" + std::to_string(options.board.height);
  if (r.views.imagesWithBoard == 0)
    return Error(err, "no " + boardText + " board found in any image (--board counts inner corners)");
  if (r.views.used.size() < 3)
    return Error(err, "only " + std::to_string(r.views.used.size()) + " of " + std::to_string(pairs.size()) +
                          " pairs show the " + boardText + " board on both sides; at least 3 are needed");
  for (size_t i : r.views.used)
    r.usedPairs.push_back(fs::path(pairs[i].leftPath).filename().string() + " + " +
                          fs::path(pairs[i].rightPath).filename().string());
  pairs.clear();  // the images are no longer needed

  if (!Calibrate(r.views, imageSize, options.board, options.squareSize, &r.calibration, &reason))
    return Error(err, "calibration failed: " + reason);
  r.misalignment = RectifiedMisalignment(r.calibration, r.views);

  StagedFiles files(options.outDir);
  const StereoCalibration& calibration = r.calibration;
  auto writeCalibration = [&calibration](const std::string& path, std::string* why) {
    return WriteCalibrationFile(path, calibration, why);
  };
  if (!StageMaps(files, calibration.maps, &reason) || !files.Stage(kCalibrationFile, writeCalibration, &reason) ||
      !files.Commit(&reason))
    return Error(err, "cannot write the maps to '" + DirText(options.outDir) + "': " + reason);

  out << "pairs used (" << r.usedPairs.size() << " of " << lefts.size() << "):";
  for (size_t i = 0; i < r.usedPairs.size(); ++i) out << (i ? ", " : " ") << r.usedPairs[i];
  out << "\n";
  out << "reprojection error: " << std::fixed << std::setprecision(3) << calibration.stereoError
      << " px RMS (left camera alone " << calibration.leftError << ", right camera alone " << calibration.rightError
      << ")\n";
  out << "vertical misalignment after rectification: " << r.misalignment << "\n";
  out << "wrote mx1.xml my1.xml mx2.xml my2.xml " << kCalibrationFile << " to " << DirText(options.outDir) << " ("
      << SizeText(imageSize) << ")" << std::endl;
  WarnUnlessViewerSize(imageSize, err);
  return kExitSuccess;
}

int RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& err, CheckReport* report) {
  cv::Mat left, right;
  for (auto [path, image] : {std::pair{&options.left, &left}, std::pair{&options.right, &right}}) {
    std::error_code ec;
    if (fs::is_regular_file(*path, ec)) {
      try {
        *image = cv::imread(*path, cv::IMREAD_COLOR);
      } catch (const cv::Exception&) {
        image->release();
      }
    }
    if (image->empty()) return Error(err, "cannot read image '" + *path + "'");
  }
  left = stereo::Mirrored(left, options.flipLeft);
  right = stereo::Mirrored(right, options.flipRight);
  if (left.size() != right.size())
    return Error(err, "'" + options.right + "' is " + SizeText(right.size()) + " but '" + options.left + "' is " +
                          SizeText(left.size()) + ": the pair must have one size");

  MapSet maps;
  for (size_t i = 0; i < maps.size(); ++i) {
    const std::string path =
        (fs::path(options.mapsDir.empty() ? "." : options.mapsDir) / stereo::kMapFileNames[i]).string();
    std::string reason;
    if (!stereo::LoadMap(path, left.rows, left.cols, &maps[i], &reason))
      // NOLINTNEXTLINE(performance-inefficient-string-concatenation): an error message, built once
      return Error(err, "map '" + path + "' does not fit the " + SizeText(left.size()) + " images: " + reason);
  }
  cv::Mat leftRectified, rightRectified;
  std::string reason;
  if (!Rectify(left, maps[0], maps[1], &leftRectified, &reason) ||
      !Rectify(right, maps[2], maps[3], &rightRectified, &reason))
    return Error(err, "cannot rectify: " + reason);

  const cv::Mat picture = SideBySide(leftRectified, rightRectified);
  if (!WriteImage(options.outFile, picture, &reason)) return Error(err, reason);

  CheckReport local;
  CheckReport& r = report ? *report : local;
  r.pictureSize = picture.size();
  out << "wrote " << options.outFile << " (" << SizeText(picture.size()) << ")" << std::endl;

  cv::Mat leftGrey, rightGrey;
  cv::cvtColor(leftRectified, leftGrey, cv::COLOR_BGR2GRAY);
  cv::cvtColor(rightRectified, rightGrey, cv::COLOR_BGR2GRAY);
  std::vector<cv::Point2f> leftCorners, rightCorners;
  const std::string boardText = std::to_string(options.board.width) + "x" + std::to_string(options.board.height);
  r.boardFound = FindBoard(leftGrey, options.board, &leftCorners) && FindBoard(rightGrey, options.board, &rightCorners);
  if (r.boardFound) {
    r.misalignment = VerticalMisalignment(leftCorners, rightCorners);
    out << "vertical misalignment: " << r.misalignment << std::endl;
  } else {
    out << "no " << boardText << " board visible in both rectified images: misalignment not measured" << std::endl;
  }
  return kExitSuccess;
}

int RunStereoMaps(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CommandLine line;
  std::string error;
  if (!ParseCommandLine(args, &line, &error)) return Error(err, error);
  switch (line.command) {
    case Command::kHelp: out << UsageText(); return kExitSuccess;
    case Command::kIdentity: return RunIdentity(line.identity, out, err);
    case Command::kCalibrate: return RunCalibrate(line.calibrate, out, err);
    case Command::kCheck: return RunCheck(line.check, out, err);
  }
  return kExitFailure;
}

}  // namespace stereo_maps
