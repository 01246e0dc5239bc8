// One pass of the viewer's pipeline: device checks, new frames, matching, convergence, present.
// The stereo stages are filled in by the stereo processing work; the device checks and the
// present are in their final places.
#include "app/stereo_viewer.h"

namespace app {

namespace {

// True when the pass goes on; a lost device ends it, one that can be reset resets both.
bool DeviceReady(StereoViewer& viewer, display::Device& device) {
  const display::HRESULT level = device.TestCooperativeLevel();
  if (level == display::D3DERR_DEVICELOST) return false;
  if (level == display::D3DERR_DEVICENOTRESET) {
    viewer.ResetDisplays();
    return false;
  }
  return true;
}

}  // namespace

void StereoViewer::FrameStep() {
  if (!DeviceReady(*this, *device1)) return;
  if (dualDisplay && !DeviceReady(*this, *device2)) return;
  PresentViews();
}

}  // namespace app
