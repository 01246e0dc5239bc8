#include "display/display_pair.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include <opencv2/imgproc.hpp>

#include "display/overlay.h"

namespace display {

namespace {

constexpr int kViewWidth = 800;
constexpr int kViewHeight = 600;
constexpr int kStagingWidth = 832;
// Bytes of the visible part of a back-buffer row: 800 pixels of 4 bytes.
constexpr std::size_t kVisibleRowBytes = static_cast<std::size_t>(kViewWidth) * 4;

// Staging rows are 3328 bytes; a surface row starts Pitch bytes after the previous one. A surface
// whose rows could not hold the visible 800 pixels gets nothing rather than overlapping rows.
void CopyToSurface(const cv::Mat& staging, const LockedRect& locked) {
  if (!locked.pBits || locked.Pitch < 0 || static_cast<std::size_t>(locked.Pitch) < kVisibleRowBytes) return;
  const std::size_t pitch = static_cast<std::size_t>(locked.Pitch);
  const std::size_t rowBytes = std::min<std::size_t>(staging.step[0], pitch);
  auto* target = static_cast<unsigned char*>(locked.pBits);
  if (pitch == staging.step[0] && staging.isContinuous()) {
    std::memcpy(target, staging.data, staging.step[0] * kViewHeight);
    return;
  }
  for (int r = 0; r < kViewHeight; ++r) std::memcpy(target + r * pitch, staging.ptr(r), rowBytes);
}

// A picture whose rows the surface holds whole: copied row by row (the surface's rows may be longer).
void CopyPictureToSurface(const cv::Mat& picture, const LockedRect& locked) {
  const std::size_t rowBytes = static_cast<std::size_t>(picture.cols) * picture.elemSize();
  if (!locked.pBits || locked.Pitch < 0 || static_cast<std::size_t>(locked.Pitch) < rowBytes) return;
  auto* target = static_cast<unsigned char*>(locked.pBits);
  for (int r = 0; r < picture.rows; ++r)
    std::memcpy(target + r * static_cast<std::size_t>(locked.Pitch), picture.ptr(r), rowBytes);
}

const cv::Size kView(kViewWidth, kViewHeight);

}  // namespace

DisplayPair::DisplayPair(std::unique_ptr<DisplayDriver> driver) : driver_(std::move(driver)) {}

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
    staging_[side].create(kViewHeight, kStagingWidth, CV_8UC4);
  } else if (side == 1) {
    staging_[side].create(PictureSize(output_, kView), CV_8UC4);
  }
}

PresentParameters DisplayPair::Parameters() const {
  if (!OneDisplay()) return ViewerPresentParameters(window_);
  const cv::Size picture = PictureSize(output_, kView);
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

std::array<Status, 2> DisplayPair::Present(const cv::Mat& view1, const cv::Mat& view2, const cv::Mat& overlay) {
  if (OneDisplay()) return PresentPicture(view1, view2, overlay);
  std::array<Status, 2> status{Status::Ok, Status::Ok};
  const cv::Mat* views[2] = {&view1, &view2};
  for (int side = 0; side < 2; ++side) {
    std::unique_ptr<Surface> surface;
    if (devices_[side]->GetBackBuffer(&surface) != D3D_OK) {
      status[side] = Status::NoBackBuffer;
      surface.reset();
    }
    const cv::Mat& view = *views[side];
    cv::Mat& staging = staging_[side];
    // A view that is not a whole 800 x 600 picture is left undrawn rather than read past its end.
    if (view.size() != cv::Size(kViewWidth, kViewHeight) || view.type() != CV_8UC3 ||
        staging.size() != cv::Size(kStagingWidth, kViewHeight) || staging.type() != CV_8UC4)
      continue;
    // The view is converted straight into the view columns of the staging image: the same bytes a
    // separate 3-channel composition image would give, without the extra copy.
    cv::Mat target = staging(cv::Rect(0, 0, kViewWidth, kViewHeight));
    cv::cvtColor(view, target, cv::COLOR_BGR2BGRA);
    if (!overlay.empty()) DrawOverlay(overlay, target, EyeAreas(OutputMode::Dual, kView), kView);
    if (!surface) continue;
    LockedRect locked;
    if (surface->LockRect(&locked) >= 0) {
      CopyToSurface(staging, locked);
      surface->UnlockRect();
    }
  }
  for (const auto& device : devices_) device->Present();
  return status;
}

std::array<Status, 2> DisplayPair::PresentPicture(const cv::Mat& left, const cv::Mat& right, const cv::Mat& overlay) {
  std::array<Status, 2> status{Status::Ok, Status::Ok};
  Device* device = devices_[1].get();
  std::unique_ptr<Surface> surface;
  if (device->GetBackBuffer(&surface) != D3D_OK) {
    status[1] = Status::NoBackBuffer;
    surface.reset();
  }
  cv::Mat& picture = staging_[1];
  // Views that are not whole 800 x 600 pictures are left undrawn rather than read past their end.
  const bool whole = left.size() == kView && right.size() == kView && left.type() == CV_8UC3 &&
                     right.type() == CV_8UC3 && picture.size() == PictureSize(output_, kView) &&
                     picture.type() == CV_8UC4;
  if (whole) {
    Compose(output_, left, right, picture);
    if (!overlay.empty()) DrawOverlay(overlay, picture, EyeAreas(output_, kView), kView);
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
  const cv::Rect view(0, 0, kViewWidth, kViewHeight);
  cv::hconcat(staging_[0](view), staging_[1](view), shown);
  cv::cvtColor(shown, shown, cv::COLOR_BGRA2BGR);
  return shown;
}

void DisplayPair::ReleaseStaging(int side) { staging_[side].release(); }

void DisplayPair::ReleaseDevice(int side) {
  devices_[side].reset();
  systems_[side].reset();
}

}  // namespace display
