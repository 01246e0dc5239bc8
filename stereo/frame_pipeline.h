// The stereo work of a pass: a side's waiting camera frame taken and rectified, the matching window
// matched, the dominant disparity followed, and the two crops placed. Owns the maps, the frame
// images, the matcher and the follower's state.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "capture/capture_manager.h"
#include "stereo/coarse_depth.h"
#include "stereo/convergence_follower.h"
#include "stereo/geometry.h"
#include "stereo/mirror.h"
#include "stereo/parallax_budget.h"

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

// What the follower may do beyond following the dominant disparity; nothing unless asked for.
struct ConvergenceOptions {
  bool comfort = false;  // keep the parallax budget
  ParallaxBudget budget;
  bool holdWhenUnsure = false;  // keep the target on passes whose matching cannot be trusted
};

// With comfort on: the depth of what is shown, and where it appears once the crops are placed.
struct ComfortRecord {
  bool known = false;                              // false: too little matched to say (the other fields are then 0)
  double nearest = 0, farthest = 0;                // disparities
  double parallaxNearPct = 0, parallaxFarPct = 0;  // of the view width; negative in front of the screen
  double parallaxNearMm = 0, parallaxFarMm = 0;    // with the budget's screen width, else 0
};

// What the last pass that reached the matching did; read by traces and checks.
struct FrameStepRecord {
  long passes = 0;  // passes that reached the matching
  bool newFrame[2] = {false, false};
  int dominant = 0;  // after the bound
  int target = 0;    // what the follower was given: the dominant disparity unless an option moved it
  int follower = 0;  // after the floor
  int cropX[2] = {0, 0};
  ComfortRecord comfort;
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
  void SetConvergenceOptions(const ConvergenceOptions& options);
  // The side's frame image (the frame size), black until its camera delivers.
  void CreateFrame(int side);
  // The cameras the sides show (kCameraOfSide unless set) and how their frames are paired.
  void SetCameras(int left, int right, Pairing pairing);
  int Camera(int side) const { return camera_[side]; }

  // With kClosest pairing: when one side's camera has a new frame and the other's next frame is due
  // within half its period, waits for that frame, at most half a period.
  void AwaitPair(capture::CaptureManager& capture) const;

  // Takes the waiting frame of the side's camera, if one waits; true when it did. The next Match
  // rectifies it into the side's frame image. A frame of another size than the frame size is dropped
  // (said once).
  bool TakeFrame(int side, capture::CaptureManager& capture);
  // Rectifies the frames taken since, matches the two frames (again only when one changed), advances
  // the follower, places the crops; returns the pass's record.
  const FrameStepRecord& Match(bool newFrame1, bool newFrame2);
  // The side's crop (the view size) placed by the last Match (a view into the frame image).
  cv::Mat View(int side) const;
  // Changes whenever the side's view may show other pixels: part of its frame image rectified anew,
  // the image made or released, or the crop moved. An unchanged value means the same pixels.
  std::uint64_t ViewRevision(int side) const { return viewRevision_[side]; }
  const Geometry& geometry() const { return geometry_; }

  // The operator's controls; none is in effect until set.
  // Mirrors the side's frames before rectification (its maps are made for mirrored frames).
  void SetMirror(int side, Mirror mirror);
  // Side 1 takes camera 1's frames and side 2 camera 0's: the cameras exchange eyes, the maps stay
  // with the eyes.
  void SetSwapped(bool swapped) { swapped_ = swapped; }
  bool swapped() const { return swapped_; }
  // Pixels added to the follower's value where the crops are placed (the value placed stays within
  // the follower's own range, so the crops stay within the rectified part of the frames).
  void SetNudge(int pixels);
  int nudge() const { return nudge_; }
  // Holds the follower at its current value while matching goes on; unlocking lets it move on.
  void SetLocked(bool locked) { locked_ = locked; }
  bool locked() const { return locked_; }

  // Released in the order the shut-down asks for; each may run again and finds nothing.
  void ReleaseFrame(int side);
  void ReleaseMaps();

 private:
  const Geometry geometry_;
  // The remap pair of a side from its maps as loaded, for mirrored frames where asked.
  void ConvertMaps(int side);
  // Rectification is done where it is looked at: of a new frame, the matching window first, then the
  // crops once placed, and on later passes only the columns a moving crop adds. With comfort on, the
  // coarse estimate reads the whole rows, so each new frame's used region is rectified at once.
  bool WholeRegion() const { return options_.comfort; }
  // Queues `rect` of the side's frame image for rectification, in pieces both cores share: at least
  // `pieces` of them (no more than its rows).
  void Owe(int side, const cv::Rect& rect, int pieces = 1);
  // The same, without the part of the matching window rectified with the frame.
  void OweBesideWindow(int side, const cv::Rect& rect);
  // Queues what the side's placed crop shows that is not rectified yet.
  void OweCrop(int side);
  // Rectifies the queued pieces, with `match` beside running the matcher on the matching windows.
  void RectifyOwed(bool match);
  void MatchWindow();  // the matching window of both frames in grey, and its disparities
  // Rectifies all that is owed of the side's frame with the maps now in use, before they change.
  void Settle(int side);
  // The follower's target for the dominant disparity `d` under the options.
  int Target(int d, bool newFrame1, bool newFrame2);
  void RecordParallax();

  cv::Ptr<cv::StereoBM> matcher_;
  cv::Mat mapX_[2], mapY_[2];         // as loaded; kept until the release
  cv::Mat mapXY_[2], mapAlpha_[2];    // the converted pairs the remap uses
  cv::Mat frame_[2];                  // rectified frames, kept between passes
  cv::Mat raw_[2];                    // camera frames as taken, before rectification
  cv::Mat grey_[2];                   // the matching window of each side in grey
  cv::Mat disparity_;                 // the matching window's size, CV_16SC1
  cv::Size reportedSize_[2];          // the wrong frame size last reported per side
  bool holding_[2] = {false, false};  // raw_ holds the frame the side shows
  bool fresh_[2] = {false, false};    // and none of it is rectified yet
  cv::Rect rectified_[2];             // the columns of the crop rows rectified from it (beside the window)
  struct Piece {
    int side;
    cv::Rect rect;
  };
  std::array<Piece, 64> owed_{};
  int owedCount_ = 0;
  std::atomic<int> next_{0};  // the next queued piece to take, while they are rectified
  cv::Rect crop_[2];
  std::uint64_t viewRevision_[2] = {0, 0};
  Mirror mirror_[2] = {Mirror::None, Mirror::None};
  bool swapped_ = false;
  int nudge_ = 0;
  bool locked_ = false;
  int lockedValue_ = kFollowerFloor;
  int camera_[2] = {kCameraOfSide[0], kCameraOfSide[1]};
  Pairing pairing_ = Pairing::kFirst;
  FollowerState follower_;
  FrameStepRecord record_;
  ConvergenceOptions options_;
  CoarseDepth coarse_;
  DepthEstimate depth_;
  bool unmatched_[2] = {false, false};  // a side's frame changed since the coarse estimate last matched
  std::optional<int> sureTarget_;       // the target of the last pass the matching could be trusted on
};

}  // namespace stereo
