#include "display/display_system.h"

#include <mutex>
#include <new>

namespace display {

namespace {

constexpr std::size_t kSurfaceBlock = 64;  // bytes; every surface of the backends fits
constexpr int kKeptBlocks = 4;             // two devices, and a surface or two held past a present

std::mutex keptMutex;
void* kept[kKeptBlocks];  // guarded by keptMutex
int keptCount = 0;        // guarded by keptMutex

}  // namespace

void* Surface::operator new(std::size_t size) {
  if (size > kSurfaceBlock) return ::operator new(size);
  {
    std::lock_guard<std::mutex> lock(keptMutex);
    if (keptCount > 0) return kept[--keptCount];
  }
  return ::operator new(kSurfaceBlock);
}

void Surface::operator delete(void* block, std::size_t size) {
  if (!block) return;
  if (size <= kSurfaceBlock) {
    std::lock_guard<std::mutex> lock(keptMutex);
    if (keptCount < kKeptBlocks) {
      kept[keptCount++] = block;
      return;
    }
  }
  ::operator delete(block);
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
