#include "display/display_pair.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include <opencv2/imgproc.hpp>

#include "display/overlay.h"

namespace display {

namespace {

// Staging rows are whole 64-pixel blocks (3328 bytes for 800-pixel views).
int StagingWidth(int viewWidth) { return (viewWidth + 63) / 64 * 64; }

// A surface row starts Pitch bytes after the previous one. A surface whose rows could not hold the
// visible pixels gets nothing rather than overlapping rows.
void CopyToSurface(const cv::Mat& staging, cv::Size view, const LockedRect& locked) {
  const std::size_t visibleRowBytes = static_cast<std::size_t>(view.width) * 4;
  if (!locked.pBits || locked.Pitch < 0 || static_cast<std::size_t>(locked.Pitch) < visibleRowBytes) return;
  const std::size_t pitch = static_cast<std::size_t>(locked.Pitch);
  const std::size_t rowBytes = std::min<std::size_t>(staging.step[0], pitch);
  auto* target = static_cast<unsigned char*>(locked.pBits);
  if (pitch == staging.step[0] && staging.isContinuous()) {
    std::memcpy(target, staging.data, staging.step[0] * view.height);
    return;
  }
  for (int r = 0; r < view.height; ++r) std::memcpy(target + r * pitch, staging.ptr(r), rowBytes);
}

// A picture whose rows the surface holds whole: copied row by row (the surface's rows may be longer).
void CopyPictureToSurface(const cv::Mat& picture, const LockedRect& locked) {
  const std::size_t rowBytes = static_cast<std::size_t>(picture.cols) * picture.elemSize();
  if (!locked.pBits || locked.Pitch < 0 || static_cast<std::size_t>(locked.Pitch) < rowBytes) return;
  auto* target = static_cast<unsigned char*>(locked.pBits);
  for (int r = 0; r < picture.rows; ++r)
    std::memcpy(target + r * static_cast<std::size_t>(locked.Pitch), picture.ptr(r), rowBytes);
}

}  // namespace

DisplayPair::DisplayPair(std::unique_ptr<DisplayDriver> driver, cv::Size view)
    : driver_(std::move(driver)), view_(view), stagingSize_(StagingWidth(view.width), view.height) {}

DisplayPair::~DisplayPair() {
  for (int side = 0; side < 2; ++side) ReleaseDevice(side);
}

Status DisplayPair::Create(int side, void* window) {
  window_ = window;
  if (OneDisplay() && side == 0) return Status::Ok;
  if (driver_) systems_[side] = driver_->Create();
  if (!systems_[side]) return Status::NoDisplaySystem;
  if (systems_[side]->CreateDevice(kAdapterOfSide[side], window, Parameters(), &devices_[side]) != D3D_OK)
    return Status::CreateDeviceFailed;
  if (!devices_[side]) return Status::NoDevice;
  devices_[side]->Clear(kWhite);
  devices_[side]->Present();
  return Status::Ok;
}

void DisplayPair::CreateStaging(int side) {
  if (!OneDisplay()) {
    staging_[side].create(stagingSize_, CV_8UC4);
  } else if (side == 1) {
    staging_[side].create(PictureSize(output_, view_), CV_8UC4);
  }
  drawn_[side] = false;
  // Its pages and the colour conversion's first call are had here, not by the first present.
  if (staging_[side].empty()) return;
  staging_[side].setTo(cv::Scalar::all(0));
  cv::Mat row = staging_[side].row(0);
  cv::cvtColor(cv::Mat(1, staging_[side].cols, CV_8UC3, cv::Scalar::all(0)), row, cv::COLOR_BGR2BGRA);
}

PresentParameters DisplayPair::Parameters() const {
  if (!OneDisplay()) return ViewerPresentParameters(window_, view_.width, view_.height);
  const cv::Size picture = PictureSize(output_, view_);
  return ViewerPresentParameters(window_, picture.width, picture.height);
}

DeviceState DisplayPair::Check(int side) {
  if (!devices_[side] && OneDisplay()) return DeviceState::Ready;
  const HRESULT level = devices_[side]->TestCooperativeLevel();
  if (level == D3DERR_DEVICELOST) return DeviceState::Lost;
  if (level == D3DERR_DEVICENOTRESET) return DeviceState::NeedsReset;
  return DeviceState::Ready;
}

Status DisplayPair::Reset(int side) {
  if (!devices_[side] && OneDisplay()) return Status::Ok;
  if (devices_[side]->Reset(Parameters()) != D3D_OK) return Status::ResetFailed;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return Status::Ok;
}

std::array<Status, 2> DisplayPair::Present(const cv::Mat& view1, const cv::Mat& view2, const cv::Mat& overlay,
                                           std::array<bool, 2> unchanged) {
  if (OneDisplay()) return PresentPicture(view1, view2, overlay, unchanged[0] && unchanged[1]);
  std::array<Status, 2> status{Status::Ok, Status::Ok};
  const cv::Mat* views[2] = {&view1, &view2};
  // The devices are driven from this thread only; the pixel work of the two sides, into memory
  // locked here, runs on both cores at once.
  std::unique_ptr<Surface> surfaces[2];
  LockedRect locked[2];
  for (int side = 0; side < 2; ++side) {
    if (devices_[side]->GetBackBuffer(&surfaces[side]) != D3D_OK) {
      status[side] = Status::NoBackBuffer;
      surfaces[side].reset();
    } else if (surfaces[side] && surfaces[side]->LockRect(&locked[side]) < 0) {
      locked[side] = LockedRect{};
    }
  }
  // One pointer captured, so that the task is kept without the heap.
  const struct {
    DisplayPair* pair;
    const cv::Mat* const* views;
    const cv::Mat* overlay;
    const bool* unchanged;
    const LockedRect* locked;
  } work{this, views, &overlay, unchanged.data(), locked};
  const auto draw = [w = &work](const cv::Range& sides) {
    for (int side = sides.start; side < sides.end; ++side)
      w->pair->DrawSide(side, *w->views[side], *w->overlay, w->unchanged[side], w->locked[side]);
  };
#ifdef VIEWER_THREAD_SANITIZER
  draw(cv::Range(0, 2));
#else
  cv::parallel_for_(cv::Range(0, 2), draw, 2);
#endif
  for (int side = 0; side < 2; ++side)
    if (locked[side].pBits) surfaces[side]->UnlockRect();
  for (auto& surface : surfaces) surface.reset();
  for (const auto& device : devices_) device->Present();
  return status;
}

void DisplayPair::DrawSide(int side, const cv::Mat& view, const cv::Mat& overlay, bool unchanged,
                           const LockedRect& locked) {
  cv::Mat& staging = staging_[side];
  if (!unchanged || !drawn_[side]) {
    // A view that is not a whole picture of the view size is left undrawn rather than read past its end.
    drawn_[side] =
        view.size() == view_ && view.type() == CV_8UC3 && staging.size() == stagingSize_ && staging.type() == CV_8UC4;
    if (!drawn_[side]) return;
    // The view is converted straight into the view columns of the staging image: the same bytes a
    // separate 3-channel composition image would give, without the extra copy.
    cv::Mat target = staging(cv::Rect(cv::Point(), view_));
    cv::cvtColor(view, target, cv::COLOR_BGR2BGRA);
    if (!overlay.empty()) DrawOverlay(overlay, target, EyeAreas(OutputMode::Dual, view_), view_);
  }
  if (locked.pBits) CopyToSurface(staging, view_, locked);
}

std::array<Status, 2> DisplayPair::PresentPicture(const cv::Mat& left, const cv::Mat& right, const cv::Mat& overlay,
                                                  bool unchanged) {
  std::array<Status, 2> status{Status::Ok, Status::Ok};
  Device* device = devices_[1].get();
  std::unique_ptr<Surface> surface;
  if (device->GetBackBuffer(&surface) != D3D_OK) {
    status[1] = Status::NoBackBuffer;
    surface.reset();
  }
  cv::Mat& picture = staging_[1];
  // Views that are not whole pictures of the view size are left undrawn rather than read past their end.
  if (!unchanged || !drawn_[1]) {
    drawn_[1] = left.size() == view_ && right.size() == view_ && left.type() == CV_8UC3 && right.type() == CV_8UC3 &&
                picture.size() == PictureSize(output_, view_) && picture.type() == CV_8UC4;
    if (drawn_[1]) Compose(output_, left, right, picture);
    if (drawn_[1] && !overlay.empty()) DrawOverlay(overlay, picture, EyeAreas(output_, view_), view_);
  }
  if (drawn_[1]) {
    LockedRect locked;
    if (surface && surface->LockRect(&locked) >= 0) {
      CopyPictureToSurface(picture, locked);
      surface->UnlockRect();
    }
  }
  surface.reset();
  device->Present();
  return status;
}

cv::Mat DisplayPair::Shown() const {
  cv::Mat shown;
  if (OneDisplay()) {
    if (!staging_[1].empty()) cv::cvtColor(staging_[1], shown, cv::COLOR_BGRA2BGR);
    return shown;
  }
  if (staging_[0].empty() || staging_[1].empty()) return shown;
  const cv::Rect view(cv::Point(), view_);
  cv::hconcat(staging_[0](view), staging_[1](view), shown);
  cv::cvtColor(shown, shown, cv::COLOR_BGRA2BGR);
  return shown;
}

void DisplayPair::ReleaseStaging(int side) {
  staging_[side].release();
  drawn_[side] = false;
}

void DisplayPair::ReleaseDevice(int side) {
  devices_[side].reset();
  systems_[side].reset();
}

}  // namespace display
