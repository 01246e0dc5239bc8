#include "stereo/frame_pipeline.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include <opencv2/imgproc.hpp>

#include "stereo/dominant_disparity.h"
#include "stereo/match_confidence.h"
#include "stereo/rectification_maps.h"

namespace stereo {

cv::Ptr<cv::StereoBM> CreateViewerMatcher(int disparities) {
  cv::Ptr<cv::StereoBM> matcher = cv::StereoBM::create(0, 21);
  // The basic preset's choices: normalised-response prefilter, no speckle filtering.
  matcher->setPreFilterType(cv::StereoBM::PREFILTER_NORMALIZED_RESPONSE);
  matcher->setSpeckleWindowSize(0);
  matcher->setSpeckleRange(0);
  matcher->setPreFilterSize(41);
  matcher->setPreFilterCap(31);
  matcher->setBlockSize(21);
  matcher->setMinDisparity(0);
  matcher->setNumDisparities(disparities);
  matcher->setTextureThreshold(10);
  matcher->setUniquenessRatio(15);
  return matcher;
}

namespace {

// The part of a frame that is ever shown or matched: the rows of the crops (which contain the
// matching rows) and the columns any crop position can reach on that side. Pixels outside it are
// never read, so rectifying them would be wasted work.
cv::Rect UsedRegion(const Geometry& g, int side) {
  const int maxShift = g.DisparityBound() / 2, centre = g.CropCentreX();
  const int left = side == 0 ? centre : centre - maxShift;
  const int right = side == 0 ? centre + maxShift + g.view.width : centre + g.view.width;
  return cv::Rect(left, g.CropY(), right - left, g.view.height);
}

// Pieces of rectification work are at most this many pixels, so that both cores get a share.
constexpr int kPiecePixels = 1 << 17;

}  // namespace

void FramePipeline::SetConvergenceOptions(const ConvergenceOptions& options) {
  // The whole region is read as soon as comfort is on: what is owed is rectified with the maps of its frame.
  for (int side = 0; side < 2; ++side) Settle(side);
  options_ = options;
}

void FramePipeline::Owe(int side, const cv::Rect& rect, int pieces) {
  if (rect.empty()) return;
  ++viewRevision_[side];
  const int bands = std::min(std::max(pieces, (rect.area() + kPiecePixels - 1) / kPiecePixels), rect.height);
  const int rows = (rect.height + bands - 1) / bands;
  for (int y = rect.y; y < rect.br().y; y += rows) {
    if (owedCount_ == static_cast<int>(owed_.size())) RectifyOwed(false);
    owed_[owedCount_++] = {side, cv::Rect(rect.x, y, rect.width, std::min(rows, rect.br().y - y))};
  }
}

void FramePipeline::OweBesideWindow(int side, const cv::Rect& rect) {
  const cv::Rect window = rect & geometry_.MatchingWindow() & UsedRegion(geometry_, side);
  if (window.empty()) {
    Owe(side, rect);
    return;
  }
  Owe(side, cv::Rect(rect.x, rect.y, rect.width, window.y - rect.y));                   // above it
  Owe(side, cv::Rect(rect.x, window.br().y, rect.width, rect.br().y - window.br().y));  // below it
  Owe(side, cv::Rect(rect.x, window.y, window.x - rect.x, window.height));              // left of it
  Owe(side, cv::Rect(window.br().x, window.y, rect.br().x - window.br().x, window.height));
}

void FramePipeline::OweCrop(int side) {
  // The crops and the rectified columns span the same rows.
  const cv::Rect crop = crop_[side];
  cv::Rect& done = rectified_[side];
  if (done.empty() || crop.x > done.br().x || crop.br().x < done.x) {
    OweBesideWindow(side, crop);
    done = crop;
    return;
  }
  if (crop.x < done.x) OweBesideWindow(side, cv::Rect(crop.x, crop.y, done.x - crop.x, crop.height));
  if (crop.br().x > done.br().x)
    OweBesideWindow(side, cv::Rect(done.br().x, crop.y, crop.br().x - done.br().x, crop.height));
  done |= crop;
}

void FramePipeline::MatchWindow() {
  const cv::Rect matching = geometry_.MatchingWindow();
  for (int side = 0; side < 2; ++side) cv::cvtColor(frame_[side](matching), grey_[side], cv::COLOR_BGR2GRAY);
  matcher_->compute(grey_[0], grey_[1], disparity_);
}

void FramePipeline::RectifyOwed(bool match) {
  if (owedCount_ == 0 && !match) return;
  if (owedCount_ == 0) {
    // Nothing to rectify beside it: the matcher has both cores to itself.
    MatchWindow();
    return;
  }
  next_ = 0;
  // Two tasks take the queued pieces until none is left (the remap of each runs on one core). With
  // `match` one of them runs the matcher first: it keeps to one core for a window this small, and the
  // other core rectifies meanwhile.
  const auto tasks = [this, match](const cv::Range& range) {
    for (int task = range.start; task < range.end; ++task) {
      if (task == 0 && match) MatchWindow();
      for (int i = next_++; i < owedCount_; i = next_++) {
        const Piece& piece = owed_[i];
        cv::Mat target = frame_[piece.side](piece.rect);
        cv::remap(raw_[piece.side], target, mapXY_[piece.side](piece.rect), mapAlpha_[piece.side](piece.rect),
                  cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
      }
    }
  };
#ifdef VIEWER_THREAD_SANITIZER
  tasks(cv::Range(0, 2));
#else
  cv::parallel_for_(cv::Range(0, 2), tasks, 2);
#endif
  owedCount_ = 0;
}

void FramePipeline::Settle(int side) {
  if (!holding_[side] || frame_[side].empty() || mapXY_[side].empty()) return;
  const cv::Rect region = UsedRegion(geometry_, side);
  if (!fresh_[side] && rectified_[side] == region) return;
  Owe(side, region);
  RectifyOwed(false);
  fresh_[side] = false;
  rectified_[side] = region;
}

FramePipeline::FramePipeline(Geometry geometry)
    : geometry_(geometry), matcher_(CreateViewerMatcher(geometry.disparities)) {
  const cv::Size window = geometry_.MatchingWindow().size();
  for (int side = 0; side < 2; ++side) {
    raw_[side].create(geometry_.frame, CV_8UC3);
    grey_[side].create(window, CV_8UC1);
    crop_[side] = cv::Rect(cv::Point(geometry_.CropCentreX(), geometry_.CropY()), geometry_.view);
  }
  disparity_.create(window, CV_16SC1);
  // The thread pool's threads, the matcher's buffers and the heap they come from are made here rather
  // than in the first passes, whose frames would wait for them. The first Match matches again.
  for (cv::Mat& grey : grey_) grey.setTo(0);
#ifndef VIEWER_THREAD_SANITIZER
  cv::parallel_for_(
      cv::Range(0, 2), [](const cv::Range&) {}, 2);
#endif
  matcher_->compute(grey_[0], grey_[1], disparity_);
}

bool FramePipeline::LoadMaps(const std::string& directory, std::string* badFile) {
  std::fprintf(stderr, "Loading rectification maps...\n");
  cv::Mat* maps[4] = {&mapX_[0], &mapY_[0], &mapX_[1], &mapY_[1]};
  for (int i = 0; i < 4; ++i) {
    const char* name = kMapFileNames[i];
    const std::string path = directory.empty() ? name : (std::filesystem::path(directory) / name).string();
    std::string reason;
    if (!LoadMap(path, geometry_.frame.height, geometry_.frame.width, maps[i], &reason)) {
      std::fprintf(stderr, "rectification map %s: %s\n", path.c_str(), reason.c_str());
      *badFile = name;
      return false;
    }
  }
  // LoadMap checked both maps of a side to the frame size, so the conversion cannot see a mismatch.
  for (int side = 0; side < 2; ++side) ConvertMaps(side);
  return true;
}

void FramePipeline::UseIdentityMaps() {
  for (int side = 0; side < 2; ++side) {
    MakeIdentityMaps(geometry_.frame.height, geometry_.frame.width, &mapX_[side], &mapY_[side]);
    ConvertMaps(side);
  }
}

void FramePipeline::SetMaps(int side, const cv::Mat& mapX, const cv::Mat& mapY) {
  mapX_[side] = mapX.clone();
  mapY_[side] = mapY.clone();
  ConvertMaps(side);
}

void FramePipeline::ConvertMaps(int side) {
  Settle(side);
  cv::Mat mapX = mapX_[side], mapY = mapY_[side];
  MirrorMapSource(mirror_[side], &mapX, &mapY);
  cv::convertMaps(mapX, mapY, mapXY_[side], mapAlpha_[side], CV_16SC2);
}

void FramePipeline::SetMirror(int side, Mirror mirror) {
  mirror_[side] = mirror;
  if (!mapX_[side].empty()) ConvertMaps(side);
}

void FramePipeline::SetNudge(int pixels) {
  // Beyond the follower's whole range a nudge could never show.
  nudge_ = std::clamp(pixels, -geometry_.DisparityBound(), geometry_.DisparityBound());
}

void FramePipeline::CreateFrame(int side) {
  frame_[side].create(geometry_.frame, CV_8UC3);
  frame_[side].setTo(cv::Scalar::all(0));
  // The camera image's pages and the remap's first call are had here, not by the first frame: black
  // rectified from black leaves the frame image as it is.
  raw_[side].setTo(cv::Scalar::all(0));
  if (!mapXY_[side].empty()) {
    const cv::Rect row(0, 0, geometry_.frame.width, 1);
    cv::Mat target = frame_[side](row);
    cv::remap(raw_[side], target, mapXY_[side](row), mapAlpha_[side](row), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
              cv::Scalar());
  }
  holding_[side] = fresh_[side] = false;
  rectified_[side] = cv::Rect();
  ++viewRevision_[side];
}

void FramePipeline::SetCameras(int left, int right, Pairing pairing) {
  camera_[0] = left;
  camera_[1] = right;
  pairing_ = pairing;
}

void FramePipeline::AwaitPair(capture::CaptureManager& capture) const {
  if (pairing_ != Pairing::kClosest) return;
  const bool fresh[2] = {capture.HasNewFrame(camera_[0]), capture.HasNewFrame(camera_[1])};
  if (fresh[0] == fresh[1]) return;
  const int other = camera_[fresh[0] ? 1 : 0];
  std::chrono::steady_clock::time_point due;
  std::chrono::steady_clock::duration period;
  if (!capture.NextFrameDue(other, &due, &period)) return;
  const auto now = std::chrono::steady_clock::now();
  const auto half = period / 2;
  // A frame overdue by a whole period is not coming soon: the camera may have stopped.
  if (due - now > half || now - due > period) return;
  capture.WaitForFrame(other, now + half);
}

bool FramePipeline::TakeFrame(int side, capture::CaptureManager& capture) {
  const int camera = camera_[swapped_ ? 1 - side : side];
  if (!capture.HasNewFrame(camera)) return false;
  int width = 0, height = 0;
  const cv::Size expected = geometry_.frame;
  if (capture.GetFrameSize(camera, &width, &height) && cv::Size(width, height) != expected) {
    // A frame of another size would not fit the frame image: drop it, and say so once.
    if (reportedSize_[side] != cv::Size(width, height)) {
      std::fprintf(stderr, "device %d delivers %d by %d, expected %d by %d\n", camera, width, height, expected.width,
                   expected.height);
      reportedSize_[side] = cv::Size(width, height);
    }
    capture.DiscardFrame(camera);
    return false;
  }
  if (!capture.GetPixels(camera, raw_[side].data, false, true)) return false;
  holding_[side] = fresh_[side] = true;
  record_.arrival[side] = capture.LastFrameArrival(camera);
  record_.captured[side] = capture.LastFrameCapture(camera);
  return true;
}

const FrameStepRecord& FramePipeline::Match(bool newFrame1, bool newFrame2) {
  const int n = geometry_.disparities;
  const cv::Rect matching = geometry_.MatchingWindow();
  // A new frame's matching window is rectified first, as the matcher needs it; then, beside the
  // matcher, the rest of its used region with comfort on, else its crop where it stands (the follower
  // moves it by a few columns at most, which are rectified once it is placed).
  bool fresh[2] = {false, false};
  for (int side = 0; side < 2; ++side) {
    if (!fresh_[side]) continue;
    fresh_[side] = false;
    if (frame_[side].empty()) {
      holding_[side] = false;
      continue;
    }
    fresh[side] = true;
    // In two pieces, so that both cores rectify what the matcher waits for.
    Owe(side, matching & UsedRegion(geometry_, side), 2);
    rectified_[side] = cv::Rect();
  }
  RectifyOwed(false);
  for (int side = 0; side < 2; ++side) {
    if (!fresh[side]) continue;
    if (WholeRegion()) {
      OweBesideWindow(side, UsedRegion(geometry_, side));
      rectified_[side] = UsedRegion(geometry_, side);
    } else {
      OweCrop(side);
    }
  }
  // Every pass matches, a new frame or not.
  RectifyOwed(true);

  int d = DominantDisparity(disparity_, n);
  if (d > geometry_.DisparityBound()) d = geometry_.DisparityBound();
  const int target = options_.comfort || options_.holdWhenUnsure ? Target(d, newFrame1, newFrame2) : d;
  int v = locked_ ? lockedValue_ : ConvergenceFollower(follower_, target);
  if (v < kFollowerFloor) v = kFollowerFloor;
  if (!locked_) lockedValue_ = v;
  // Side 1's crop moves right and side 2's left by h, so disparity 2h is shown with zero parallax.
  const int h = (nudge_ ? std::clamp(v + nudge_, kFollowerFloor, geometry_.DisparityBound()) : v) / 2;
  const cv::Point centre(geometry_.CropCentreX(), geometry_.CropY());
  const cv::Rect placed[2] = {cv::Rect(centre + cv::Point(h, 0), geometry_.view),
                              cv::Rect(centre - cv::Point(h, 0), geometry_.view)};
  for (int side = 0; side < 2; ++side) {
    if (placed[side] != crop_[side]) ++viewRevision_[side];
    crop_[side] = placed[side];
    if (holding_[side]) OweCrop(side);
  }
  RectifyOwed(false);

  record_.passes++;
  record_.newFrame[0] = newFrame1;
  record_.newFrame[1] = newFrame2;
  record_.dominant = d;
  record_.target = target;
  record_.follower = v;
  record_.cropX[0] = crop_[0].x;
  record_.cropX[1] = crop_[1].x;
  if (options_.comfort) RecordParallax();
  return record_;
}

int FramePipeline::Target(int d, bool newFrame1, bool newFrame2) {
  if (options_.comfort) {
    // Matched again once both sides have a new frame: the cameras are not synchronised, and a frame of
    // one beside an older one of the other would show a moving object at a wrong depth. The columns
    // shown move with the crops on every pass.
    unmatched_[0] |= newFrame1;
    unmatched_[1] |= newFrame2;
    if ((unmatched_[0] && unmatched_[1]) || record_.passes == 0) {
      coarse_.Match(frame_[0], frame_[1], crop_[0].y, crop_[0].height);
      unmatched_[0] = unmatched_[1] = false;
    }
    depth_ = coarse_.Range(crop_[0].x, crop_[0].width);
  }
  const bool unsure = options_.holdWhenUnsure && Unsure(MeasureSquare(disparity_, matcher_->getNumDisparities()));
  if (unsure && sureTarget_) return *sureTarget_;
  int target = d;
  if (options_.comfort && depth_.known)
    target = BudgetTarget(d, BudgetLimits(options_.budget, depth_.nearest, depth_.farthest, crop_[0].width),
                          record_.follower);
  if (!unsure) sureTarget_ = target;
  return target;
}

void FramePipeline::RecordParallax() {
  ComfortRecord& comfort = record_.comfort;
  comfort = ComfortRecord{};
  if (!depth_.known) return;
  comfort.known = true;
  comfort.nearest = depth_.nearest;
  comfort.farthest = depth_.farthest;
  const double width = crop_[0].width;
  const double nearPx = ScreenParallax(depth_.nearest, crop_[0].x, crop_[1].x);
  const double farPx = ScreenParallax(depth_.farthest, crop_[0].x, crop_[1].x);
  comfort.parallaxNearPct = 100.0 * nearPx / width;
  comfort.parallaxFarPct = 100.0 * farPx / width;
  comfort.parallaxNearMm = options_.budget.screenWidthMm * nearPx / width;
  comfort.parallaxFarMm = options_.budget.screenWidthMm * farPx / width;
}

cv::Mat FramePipeline::View(int side) const {
  if (frame_[side].empty()) return {};
  return frame_[side](crop_[side]);
}

void FramePipeline::ReleaseFrame(int side) {
  frame_[side].release();
  holding_[side] = fresh_[side] = false;
  ++viewRevision_[side];
}

void FramePipeline::ReleaseMaps() {
  for (int side = 0; side < 2; ++side) Settle(side);
  for (cv::Mat* m : {&mapX_[0], &mapY_[0], &mapX_[1], &mapY_[1], &mapXY_[0], &mapAlpha_[0], &mapXY_[1], &mapAlpha_[1]})
    m->release();
}

}  // namespace stereo
