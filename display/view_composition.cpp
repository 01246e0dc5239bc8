// Composing the two crops into the locked back buffers and presenting both devices.
#include <algorithm>
#include <cstring>

#include <opencv2/imgproc.hpp>

#include "app/error_text.h"
#include "app/stereo_viewer.h"
#include "stereo/rectification_maps.h"

namespace app {

namespace {

constexpr const char* kNoBackBuffer = "Nelze získat ukazatel na back buffer!";

// Bytes of the visible part of a back-buffer row: 800 pixels of 4 bytes.
constexpr std::size_t kVisibleRowBytes = static_cast<std::size_t>(stereo::kViewWidth) * 4;

// Staging rows are 3328 bytes; a surface row starts Pitch bytes after the previous one. A surface
// whose rows could not hold the visible 800 pixels gets nothing rather than overlapping rows.
void CopyToSurface(const cv::Mat& staging, const display::LockedRect& locked) {
  if (!locked.pBits || locked.Pitch < 0 || static_cast<std::size_t>(locked.Pitch) < kVisibleRowBytes) return;
  const std::size_t pitch = static_cast<std::size_t>(locked.Pitch);
  const std::size_t rowBytes = std::min<std::size_t>(staging.step[0], pitch);
  auto* target = static_cast<unsigned char*>(locked.pBits);
  if (pitch == staging.step[0] && staging.isContinuous()) {
    std::memcpy(target, staging.data, staging.step[0] * stereo::kViewHeight);
    return;
  }
  for (int r = 0; r < stereo::kViewHeight; ++r) std::memcpy(target + r * pitch, staging.ptr(r), rowBytes);
}

// The frame step keeps its crops inside the frame; one that is not is left undrawn instead of
// reading outside the frame.
bool CanCompose(const cv::Mat& frame, const cv::Rect& crop, const cv::Mat& staging) {
  return frame.type() == CV_8UC3 && crop.width == stereo::kViewWidth && crop.height == stereo::kViewHeight &&
         (crop & cv::Rect(0, 0, frame.cols, frame.rows)) == crop && staging.type() == CV_8UC4 &&
         staging.cols == stereo::kStagingWidth && staging.rows == stereo::kViewHeight;
}

}  // namespace

void StereoViewer::PresentViews() {
  struct Side {
    display::Device* device;
    const cv::Mat* frame;
    cv::Rect crop;
    cv::Mat* staging;
  };
  const Side sides[2] = {{device1.get(), &frame1, cropWindow1, &staging1},
                         {device2.get(), &frame2, cropWindow2, &staging2}};
  for (const Side& side : sides) {
    std::unique_ptr<display::Surface> surface;
    if (side.device->GetBackBuffer(&surface) != display::D3D_OK) {
      SetErrorText(kNoBackBuffer);
      windowSystem_->PostQuitMessage(0);
      surface.reset();
    }
    if (!CanCompose(*side.frame, side.crop, *side.staging)) continue;
    // The crop is converted straight into the view columns of the staging image: the same bytes a
    // separate 3-channel composition image would give, without the extra copy.
    cv::Mat view = (*side.staging)(cv::Rect(0, 0, stereo::kViewWidth, stereo::kViewHeight));
    cv::cvtColor((*side.frame)(side.crop), view, cv::COLOR_BGR2BGRA);
    if (surface) {
      display::LockedRect locked;
      if (surface->LockRect(&locked) >= 0) {
        CopyToSurface(*side.staging, locked);
        surface->UnlockRect();
      }
    }
  }
  device1->Present();
  device2->Present();
}

}  // namespace app
