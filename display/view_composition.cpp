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

// Staging rows are 3328 bytes; a surface row starts Pitch bytes after the previous one.
void CopyToSurface(const cv::Mat& staging, const display::LockedRect& locked) {
  const std::size_t rowBytes = std::min<std::size_t>(staging.step[0], static_cast<std::size_t>(locked.Pitch));
  auto* target = static_cast<unsigned char*>(locked.pBits);
  if (static_cast<std::size_t>(locked.Pitch) == staging.step[0] && staging.isContinuous()) {
    std::memcpy(target, staging.data, staging.step[0] * stereo::kViewHeight);
    return;
  }
  for (int r = 0; r < stereo::kViewHeight; ++r)
    std::memcpy(target + static_cast<std::size_t>(r) * locked.Pitch, staging.ptr(r), rowBytes);
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
