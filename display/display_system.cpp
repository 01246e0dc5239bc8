#include "display/display_system.h"

namespace display {

PresentParameters ViewerPresentParameters(void* deviceWindow) {
  return ViewerPresentParameters(deviceWindow, 800, 600);
}

PresentParameters ViewerPresentParameters(void* deviceWindow, int width, int height) {
  PresentParameters p;
  p.BackBufferWidth = static_cast<std::uint32_t>(width);
  p.BackBufferHeight = static_cast<std::uint32_t>(height);
  p.BackBufferFormat = Format::X8R8G8B8;
  p.BackBufferCount = 0;
  p.MultiSampleType = 0;
  p.MultiSampleQuality = 0;
  p.SwapEffect = D3DSWAPEFFECT_DISCARD;
  p.hDeviceWindow = deviceWindow;
  p.Windowed = false;
  p.EnableAutoDepthStencil = false;
  p.AutoDepthStencilFormat = Format::Unknown;
  p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  p.FullScreen_RefreshRateInHz = 0;
  p.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
  return p;
}

}  // namespace display
