// The stereo work of a pass: a side's waiting camera frame taken and rectified, the matching window
// matched, the dominant disparity followed, and the two crops placed. Owns the maps, the frame
// images, the matcher and the follower's state.
#pragma once

#include <chrono>
#include <string>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "capture/capture_manager.h"
#include "stereo/convergence_follower.h"
#include "stereo/geometry.h"

namespace stereo {

// Matcher settings of the viewer: a 21-pixel block, `disparities` disparities (192 unless the rig says
// otherwise), normalised-response prefilter.
cv::Ptr<cv::StereoBM> CreateViewerMatcher(int disparities = Geometry().disparities);

// Side 1 (index 0) shows camera 0, side 2 (index 1) camera 1, unless the rig names others.
inline constexpr int kCameraOfSide[2] = {0, 1};

// Which frames a pass shows together. kFirst: each side's first frame since the last take. kClosest:
// the same, but when only one side has a new frame and the other's is due within half its frame
// period, the pass waits for it (never longer than half a period).
enum class Pairing { kFirst, kClosest };

inline constexpr int kFollowerFloor = 1;

// What the last pass that reached the matching did; read by traces and checks.
struct FrameStepRecord {
  long passes = 0;  // passes that reached the matching
  bool newFrame[2] = {false, false};
  int dominant = 0;  // after the bound
  int follower = 0;  // after the floor
  int cropX[2] = {0, 0};
  std::chrono::steady_clock::time_point arrival[2];   // when the frames last taken reached the capture layer
  std::chrono::steady_clock::time_point captured[2];  // when their cameras took them
  std::chrono::steady_clock::time_point presented;    // when the present of this pass ended (set by the caller)
};

// Main thread only. Sides are 0 (side 1) and 1 (side 2).
class FramePipeline {
 public:
  explicit FramePipeline(Geometry geometry = {});
  FramePipeline(const FramePipeline&) = delete;
  FramePipeline& operator=(const FramePipeline&) = delete;

  // Reads mx1.xml, my1.xml, mx2.xml, my2.xml from `directory` (the working directory when empty) and
  // converts each side's pair. On a bad file says why on standard error and returns false with its
  // name in `badFile`; the files after it are not read.
  bool LoadMaps(const std::string& directory, std::string* badFile);
  // Maps that leave frames as they are.
  void UseIdentityMaps();
  // Replaces a side's maps with the conversion of CV_32FC1 maps of the frame size.
  void SetMaps(int side, const cv::Mat& mapX, const cv::Mat& mapY);
  // The side's frame image (the frame size), black until its camera delivers.
  void CreateFrame(int side);
  // The cameras the sides show (kCameraOfSide unless set) and how their frames are paired.
  void SetCameras(int left, int right, Pairing pairing);
  int Camera(int side) const { return camera_[side]; }

  // With kClosest pairing: when one side's camera has a new frame and the other's next frame is due
  // within half its period, waits for that frame, at most half a period.
  void AwaitPair(capture::CaptureManager& capture) const;

  // Takes the waiting frame of the side's camera, if one waits, and rectifies it into the side's frame
  // image; true when it did. A frame of another size than the frame size is dropped (said once).
  bool TakeFrame(int side, capture::CaptureManager& capture);
  // Matches the two frames, advances the follower, places the crops; returns the pass's record.
  const FrameStepRecord& Match(bool newFrame1, bool newFrame2);
  // The side's crop (the view size) placed by the last Match (a view into the frame image).
  cv::Mat View(int side) const;
  const Geometry& geometry() const { return geometry_; }

  // Released in the order the shut-down asks for; each may run again and finds nothing.
  void ReleaseFrame(int side);
  void ReleaseMaps();

 private:
  const Geometry geometry_;
  cv::Ptr<cv::StereoBM> matcher_;
  cv::Mat mapX_[2], mapY_[2];       // as loaded; kept until the release
  cv::Mat mapXY_[2], mapAlpha_[2];  // the converted pairs the remap uses
  cv::Mat frame_[2];                // rectified frames, kept between passes
  cv::Mat raw_[2];                  // camera frames as taken, before rectification
  cv::Mat grey_[2];                 // the matching window of each side in grey
  cv::Mat disparity_;               // the matching window's size, CV_16SC1
  cv::Size reportedSize_[2];        // the wrong frame size last reported per side
  cv::Rect crop_[2];
  int camera_[2] = {kCameraOfSide[0], kCameraOfSide[1]};
  Pairing pairing_ = Pairing::kFirst;
  FollowerState follower_;
  FrameStepRecord record_;
};

}  // namespace stereo
