// A headless display backend: back buffers in memory, no window. Each adapter keeps the frame it
// presented last, so a run without a screen can still be looked at (snapshots, checks).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "display/display_system.h"

namespace display {

// The screens of the off-screen devices, shared between the driver and whoever reads them.
// Readers may run on any thread; devices store into it from the thread that presents.
class OffscreenScreens {
 public:
  // Adapters 0 to adapterCount - 1 exist; creating a device on any other fails. Screens nobody
  // reads (`keepFrames` false) only count presents: copying every frame would cost each pass.
  explicit OffscreenScreens(int adapterCount = 2, bool keepFrames = true);

  int adapterCount() const { return static_cast<int>(screens_.size()); }
  // A copy of the last presented back buffer of an adapter (width x height, CV_8UC4, bytes blue,
  // green, red, unused); empty before the first present, for an adapter that does not exist, or
  // when frames are not kept.
  cv::Mat LastPresented(int adapter) const;
  // Presents on the adapter so far, over all devices it had.
  std::uint64_t PresentCount(int adapter) const;

  // For the devices: keeps a copy of `height` rows of `width` pixels that start `pitch` bytes apart.
  void Store(int adapter, const std::uint8_t* pixels, int width, int height, int pitch);

 private:
  struct Screen {
    cv::Mat frame;               // guarded by mutex_
    std::uint64_t presents = 0;  // guarded by mutex_
  };
  mutable std::mutex mutex_;
  std::vector<Screen> screens_;
  bool keepFrames_;
};

// What the off-screen devices are told to go through, so a run without a screen can meet the
// failures of real displays. Nothing by default. Counts start at 0 and are per device.
struct OffscreenFaultPlan {
  int noSystemAt = -1;         // this display-system creation (over the driver's life) gives none
  int noDeviceOnAdapter = -1;  // device creation on this adapter succeeds but gives no device
  struct Adapter {
    int lostAtCheck = -1;        // from this cooperative-level check on the device is lost,
    int resettableAtCheck = -1;  // and from this one on it can be reset; a reset brings it back
    bool resetFails = false;
    int noBackBufferFrom = -1;  // this back-buffer request and every later one fail
    int extraRowBytes = 0;      // back-buffer rows this much longer than the 4 bytes per pixel
  };
  Adapter adapters[2];
  // Told, on the presenting thread, of every creation, clear, present, reset and release, in order
  // ("create system 0", "create device on adapter 1", "clear adapter 1", "present adapter 1",
  // "reset adapter 1", "release device on adapter 1", "release system 0").
  std::function<void(const std::string&)> journal;
};

// Back-buffer rows of the off-screen devices have no padding (3200 bytes for 800 pixels) unless the
// fault plan adds some.
std::unique_ptr<DisplayDriver> MakeOffscreenDisplayDriver(std::shared_ptr<OffscreenScreens> screens,
                                                          OffscreenFaultPlan faults = {});
// Two adapters whose frames nobody reads.
std::unique_ptr<DisplayDriver> MakeOffscreenDisplayDriver();

}  // namespace display
