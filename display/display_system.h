// The display seam: full-screen output devices with a lockable back buffer each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace display {

using HRESULT = std::int32_t;

inline constexpr HRESULT D3D_OK = 0;
inline constexpr HRESULT D3DERR_DEVICELOST = static_cast<HRESULT>(0x88760868u);
inline constexpr HRESULT D3DERR_DEVICENOTRESET = static_cast<HRESULT>(0x88760869u);
inline constexpr HRESULT D3DERR_NOTAVAILABLE = static_cast<HRESULT>(0x8876086Au);
inline constexpr HRESULT D3DERR_INVALIDCALL = static_cast<HRESULT>(0x8876086Cu);

enum class Format : std::uint32_t { Unknown = 0, X8R8G8B8 = 22 };

inline constexpr std::uint32_t D3DSWAPEFFECT_DISCARD = 1;
inline constexpr std::uint32_t D3DPRESENTFLAG_LOCKABLE_BACKBUFFER = 1;
inline constexpr std::uint32_t D3DPRESENT_INTERVAL_IMMEDIATE = 0x80000000u;
inline constexpr std::uint32_t kWhite = 0xFFFFFFFFu;

// Members in the order of the published structure; everything not set stays zero.
struct PresentParameters {
  std::uint32_t BackBufferWidth = 0;
  std::uint32_t BackBufferHeight = 0;
  Format BackBufferFormat = Format::Unknown;
  std::uint32_t BackBufferCount = 0;
  std::uint32_t MultiSampleType = 0;
  std::uint32_t MultiSampleQuality = 0;
  std::uint32_t SwapEffect = 0;
  void* hDeviceWindow = nullptr;
  bool Windowed = false;
  bool EnableAutoDepthStencil = false;
  Format AutoDepthStencilFormat = Format::Unknown;
  std::uint32_t Flags = 0;
  std::uint32_t FullScreen_RefreshRateInHz = 0;
  std::uint32_t PresentationInterval = 0;

  bool operator==(const PresentParameters&) const = default;
};

// The parameters both devices use at creation and at every reset: the view's size (800 x 600 unless
// the rig says otherwise), 32-bit, one lockable back buffer, immediate presentation, full screen, no
// depth buffer.
PresentParameters ViewerPresentParameters(void* deviceWindow, int width = 800, int height = 600);

struct LockedRect {
  int Pitch = 0;
  void* pBits = nullptr;
};

// A back-buffer reference; destroying it drops the reference.
class Surface {
 public:
  virtual ~Surface() = default;
  // Surfaces are had and dropped on every present: their storage is kept for the next ones rather
  // than taken from the heap each time.
  static void* operator new(std::size_t size);
  static void operator delete(void* block, std::size_t size);
  // Non-negative on success; pBits and Pitch then describe the writable surface of the back buffer's size.
  virtual HRESULT LockRect(LockedRect* locked) = 0;
  virtual HRESULT UnlockRect() = 0;
};

// One full-screen output; destroying it releases it.
class Device {
 public:
  virtual ~Device() = default;
  // D3D_OK when usable, D3DERR_DEVICELOST while lost, D3DERR_DEVICENOTRESET when it can be reset.
  virtual HRESULT TestCooperativeLevel() = 0;
  virtual HRESULT Reset(const PresentParameters& parameters) = 0;
  // Fills the whole back buffer with a colour (0xAARRGGBB).
  virtual HRESULT Clear(std::uint32_t color) = 0;
  // Shows the back buffer without waiting for the vertical retrace.
  virtual HRESULT Present() = 0;
  virtual HRESULT GetBackBuffer(std::unique_ptr<Surface>* surface) = 0;
};

// The display-system object of one side.
class DisplaySystem {
 public:
  virtual ~DisplaySystem() = default;
  virtual HRESULT CreateDevice(int adapter, void* focusWindow, const PresentParameters& parameters,
                               std::unique_ptr<Device>* device) = 0;
};

// Creates display-system objects; a backend (SDL, off-screen, fake) is one implementation.
class DisplayDriver {
 public:
  virtual ~DisplayDriver() = default;
  // Null when no display system is available.
  virtual std::unique_ptr<DisplaySystem> Create() = 0;
};

}  // namespace display
