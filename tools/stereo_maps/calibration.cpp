#include "tools/stereo_maps/calibration.h"

#include <glob.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace stereo_maps {

namespace {

std::string SizeText(cv::Size size) { return std::to_string(size.width) + " x " + std::to_string(size.height); }

std::string FileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// The sub-pixel search window must stay well inside the squares around a corner: a larger one
// reaches the next corners or, at the board's rim, the background, and pulls the corner off by
// pixels. A quarter of the shortest corner spacing keeps it clear on boards seen small or slanted.
cv::Size SubPixelWindow(const std::vector<cv::Point2f>& corners, cv::Size board) {
  double spacing = 1e9;
  for (int r = 0; r < board.height; ++r)
    for (int c = 0; c < board.width; ++c) {
      const cv::Point2f here = corners[r * board.width + c];
      if (c + 1 < board.width) spacing = std::min(spacing, cv::norm(corners[r * board.width + c + 1] - here));
      if (r + 1 < board.height) spacing = std::min(spacing, cv::norm(corners[(r + 1) * board.width + c] - here));
    }
  const int half = std::clamp(static_cast<int>(spacing / 4.0), 2, 11);
  return cv::Size(half, half);
}

std::vector<cv::Point3f> BoardPoints(cv::Size board, double squareSize) {
  std::vector<cv::Point3f> points;
  for (int r = 0; r < board.height; ++r)
    for (int c = 0; c < board.width; ++c)
      points.emplace_back(static_cast<float>(c * squareSize), static_cast<float>(r * squareSize), 0.0f);
  return points;
}

}  // namespace

bool ExpandPatterns(const std::vector<std::string>& patterns, std::vector<std::string>* paths, std::string* reason) {
  for (const std::string& pattern : patterns) {
    glob_t found{};
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the command-line tool expands its patterns before any thread runs
    const int status = ::glob(pattern.c_str(), 0, nullptr, &found);
    if (status != 0 || found.gl_pathc == 0) {
      ::globfree(&found);
      *reason = "no images match '" + pattern + "'";
      return false;
    }
    for (size_t i = 0; i < found.gl_pathc; ++i) paths->emplace_back(found.gl_pathv[i]);
    ::globfree(&found);
  }
  return true;
}

bool LoadPairs(const std::vector<std::string>& lefts, const std::vector<std::string>& rights,
               std::vector<ImagePair>* pairs, cv::Size* imageSize, std::string* reason) {
  if (lefts.size() != rights.size()) {
    *reason = "--left matches " + std::to_string(lefts.size()) + " images but --right matches " +
              std::to_string(rights.size()) + ": each left image needs its right one";
    return false;
  }
  std::string first;
  auto load = [&](const std::string& path, cv::Mat* image) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) {
      try {
        *image = cv::imread(path, cv::IMREAD_GRAYSCALE);
      } catch (const cv::Exception&) {
        image->release();
      }
    }
    if (image->empty()) {
      *reason = "cannot read image '" + path + "'";
      return false;
    }
    if (first.empty()) {
      first = path;
      *imageSize = image->size();
    } else if (image->size() != *imageSize) {
      *reason = "'" + path + "' is " + SizeText(image->size()) + " but '" + first + "' is " + SizeText(*imageSize) +
                ": all images must have one size";
      return false;
    }
    return true;
  };
  pairs->clear();
  for (size_t i = 0; i < lefts.size(); ++i) {
    ImagePair pair{lefts[i], rights[i], {}, {}};
    if (!load(pair.leftPath, &pair.left) || !load(pair.rightPath, &pair.right)) return false;
    pairs->push_back(std::move(pair));
  }
  return true;
}

bool FindBoard(const cv::Mat& grey, cv::Size board, std::vector<cv::Point2f>* corners) {
  corners->clear();
  const int flags = cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE | cv::CALIB_CB_FAST_CHECK;
  try {
    if (!cv::findChessboardCorners(grey, board, *corners, flags)) return false;
    if (corners->size() != static_cast<size_t>(board.area())) return false;
    cv::cornerSubPix(grey, *corners, SubPixelWindow(*corners, board), cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::EPS | cv::TermCriteria::COUNT, 30, 0.01));
  } catch (const cv::Exception&) {
    corners->clear();
    return false;
  }
  return true;
}

BoardViews FindBoards(const std::vector<ImagePair>& pairs, cv::Size board, std::ostream& log) {
  BoardViews views;
  const std::string boardText = std::to_string(board.width) + "x" + std::to_string(board.height);
  for (size_t i = 0; i < pairs.size(); ++i) {
    const std::string counter = "pair " + std::to_string(i + 1) + " of " + std::to_string(pairs.size());
    log << "searching the board: " << counter << " (" << FileName(pairs[i].leftPath) << ", "
        << FileName(pairs[i].rightPath) << ")" << std::endl;
    std::vector<cv::Point2f> left, right;
    const bool inLeft = FindBoard(pairs[i].left, board, &left);
    const bool inRight = FindBoard(pairs[i].right, board, &right);
    views.imagesWithBoard += static_cast<size_t>(inLeft) + static_cast<size_t>(inRight);
    if (inLeft && inRight) {
      views.used.push_back(i);
      views.left.push_back(std::move(left));
      views.right.push_back(std::move(right));
      continue;
    }
    const std::string leftName = FileName(pairs[i].leftPath), rightName = FileName(pairs[i].rightPath);
    log << counter << " skipped: no " << boardText << " board in ";
    if (!inLeft && !inRight)
      log << leftName << " and none in " << rightName << std::endl;
    else
      log << (inLeft ? rightName : leftName) << std::endl;
  }
  return views;
}

bool Calibrate(const BoardViews& views, cv::Size imageSize, cv::Size board, double squareSize,
               StereoCalibration* result, std::string* reason) {
  if (views.left.size() < 3) {
    *reason = "at least three views are needed";
    return false;
  }
  StereoCalibration& c = *result;
  c.imageSize = imageSize;
  c.board = board;
  c.squareSize = squareSize;
  const std::vector<std::vector<cv::Point3f>> objectPoints(views.left.size(), BoardPoints(board, squareSize));
  try {
    std::vector<cv::Mat> rotations, translations;
    c.leftError = cv::calibrateCamera(objectPoints, views.left, imageSize, c.K1, c.D1, rotations, translations);
    c.rightError = cv::calibrateCamera(objectPoints, views.right, imageSize, c.K2, c.D2, rotations, translations);
    // Each camera's own calibration is the starting point; the joint fit refines all of it.
    c.stereoError = cv::stereoCalibrate(objectPoints, views.left, views.right, c.K1, c.D1, c.K2, c.D2, imageSize, c.R,
                                        c.T, c.E, c.F, cv::CALIB_USE_INTRINSIC_GUESS,
                                        cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 100, 1e-6));
    // alpha 0: every pixel of the rectified frames comes from the cameras, no black wedges.
    cv::stereoRectify(c.K1, c.D1, c.K2, c.D2, imageSize, c.R, c.T, c.R1, c.R2, c.P1, c.P2, c.Q,
                      cv::CALIB_ZERO_DISPARITY, 0.0, imageSize);
    cv::initUndistortRectifyMap(c.K1, c.D1, c.R1, c.P1, imageSize, CV_32FC1, c.maps[0], c.maps[1]);
    cv::initUndistortRectifyMap(c.K2, c.D2, c.R2, c.P2, imageSize, CV_32FC1, c.maps[2], c.maps[3]);
  } catch (const cv::Exception& e) {
    *reason = e.err;
    return false;
  }
  if (!std::isfinite(c.stereoError) || !cv::checkRange(c.P1) || !cv::checkRange(c.P2)) {
    *reason = "the fit did not converge";
    return false;
  }
  return true;
}

Misalignment VerticalMisalignment(const std::vector<cv::Point2f>& left, const std::vector<cv::Point2f>& right) {
  Misalignment m;
  const size_t count = std::min(left.size(), right.size());
  double sum = 0.0;
  for (size_t i = 0; i < count; ++i) {
    const double dy = std::fabs(static_cast<double>(left[i].y) - right[i].y);
    sum += dy;
    m.max = std::max(m.max, dy);
  }
  m.points = count;
  m.mean = count ? sum / static_cast<double>(count) : 0.0;
  return m;
}

Misalignment RectifiedMisalignment(const StereoCalibration& c, const BoardViews& views) {
  std::vector<cv::Point2f> allLeft, allRight;
  for (size_t v = 0; v < views.left.size(); ++v) {
    std::vector<cv::Point2f> left, right;
    // The default five iterations fall short of the strong distortion near the image corners.
    const cv::TermCriteria precise(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 100, 1e-9);
    cv::undistortPoints(views.left[v], left, c.K1, c.D1, c.R1, c.P1, precise);
    cv::undistortPoints(views.right[v], right, c.K2, c.D2, c.R2, c.P2, precise);
    allLeft.insert(allLeft.end(), left.begin(), left.end());
    allRight.insert(allRight.end(), right.begin(), right.end());
  }
  return VerticalMisalignment(allLeft, allRight);
}

bool WriteCalibrationFile(const std::string& path, const StereoCalibration& c, std::string* reason) {
  try {
    cv::FileStorage storage(path, cv::FileStorage::WRITE | cv::FileStorage::FORMAT_YAML);
    if (!storage.isOpened()) {
      *reason = "cannot open it for writing";
      return false;
    }
    storage << "image_width" << c.imageSize.width << "image_height" << c.imageSize.height;
    storage << "board_columns" << c.board.width << "board_rows" << c.board.height;
    storage << "square_size" << c.squareSize;
    storage << "rms_left" << c.leftError << "rms_right" << c.rightError << "rms_stereo" << c.stereoError;
    storage << "K1" << c.K1 << "D1" << c.D1 << "K2" << c.K2 << "D2" << c.D2;
    storage << "R" << c.R << "T" << c.T << "E" << c.E << "F" << c.F;
    storage << "R1" << c.R1 << "R2" << c.R2 << "P1" << c.P1 << "P2" << c.P2 << "Q" << c.Q;
    storage.release();
  } catch (const cv::Exception& e) {
    *reason = e.err;
    return false;
  }
  // Read back: the writer does not report a short write.
  try {
    cv::FileStorage check(path, cv::FileStorage::READ | cv::FileStorage::FORMAT_YAML);
    cv::Mat q;
    if (check.isOpened()) check["Q"] >> q;
    if (q.rows != 4 || q.cols != 4) {
      *reason = "written incompletely";
      return false;
    }
  } catch (const cv::Exception& e) {
    *reason = "written incompletely";
    return false;
  }
  return true;
}

}  // namespace stereo_maps
