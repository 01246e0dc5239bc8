// A headless display backend: back buffers in memory, no window. Each adapter keeps the frame it
// presented last, so a run without a screen can still be looked at (snapshots, checks).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <opencv2/core.hpp>

#include "display/display_system.h"

namespace display {

// The screens of the off-screen devices, shared between the driver and whoever reads them.
// Readers may run on any thread; devices store into it from the thread that presents.
class OffscreenScreens {
 public:
  // Adapters 0 to adapterCount - 1 exist; creating a device on any other fails.
  explicit OffscreenScreens(int adapterCount = 2);

  int adapterCount() const { return static_cast<int>(screens_.size()); }
  // A copy of the last presented back buffer of an adapter (width x height, CV_8UC4, bytes blue,
  // green, red, unused); empty before the first present or for an adapter that does not exist.
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
};

// Back-buffer rows of the off-screen devices have no padding: 3200 bytes for 800 pixels.
std::unique_ptr<DisplayDriver> MakeOffscreenDisplayDriver(std::shared_ptr<OffscreenScreens> screens);
// Two adapters whose frames nobody reads.
std::unique_ptr<DisplayDriver> MakeOffscreenDisplayDriver();

}  // namespace display
