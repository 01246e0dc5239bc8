// The viewer's two full-screen devices, side 1 (index 0) on adapter 1 and side 2 (index 1) on
// adapter 0: their display systems, devices and staging images. Creation, the loss check, reset and
// present each report per side; what a failure means to the user is the caller's business.
#pragma once

#include <array>
#include <memory>

#include <opencv2/core.hpp>

#include "display/display_system.h"

namespace display {

inline constexpr int kAdapterOfSide[2] = {1, 0};

enum class Status {
  Ok,
  NoDisplaySystem,     // the driver gave no display-system object
  CreateDeviceFailed,  // the device could not be created on the side's adapter
  NoDevice,            // creation reported success but gave no device
  ResetFailed,
  NoBackBuffer,  // the back buffer could not be had; that side's view did not reach the screen
};

enum class DeviceState { Ready, Lost, NeedsReset };

// Main thread only.
class DisplayPair {
 public:
  // `view`: the size of the pictures shown, and of the back buffers.
  explicit DisplayPair(std::unique_ptr<DisplayDriver> driver, cv::Size view = {800, 600});
  ~DisplayPair();
  DisplayPair(const DisplayPair&) = delete;
  DisplayPair& operator=(const DisplayPair&) = delete;

  // The side's display system and its device on the side's adapter with `window` as focus window,
  // blanked white and presented once. On failure whatever was made stays until ReleaseDevice.
  Status Create(int side, void* window);
  // The side's 4-channel staging image: the view's rows, widened to a whole number of 64-pixel
  // blocks (832 x 600 for 800 x 600 views).
  void CreateStaging(int side);

  // Ready also for results other than lost or can-be-reset.
  DeviceState Check(int side);
  // Resets the side's device with the creation parameters, then waits 100 ms.
  // (The parameters are those of ViewerPresentParameters at the view size.)
  Status Reset(int side);
  // Composes each side's BGR view (of the view size) into its staging image and locked back buffer,
  // then presents both devices whatever happened before.
  std::array<Status, 2> Present(const cv::Mat& view1, const cv::Mat& view2);

  // Released in the order the shut-down asks for; each may run again and finds nothing.
  void ReleaseStaging(int side);
  // The device, then its display system.
  void ReleaseDevice(int side);

  // The last composed view of a side (its staging image), empty once released.
  const cv::Mat& Staging(int side) const { return staging_[side]; }
  // The side's device, for checks that drive it directly; null when there is none.
  Device* device(int side) const { return devices_[side].get(); }

 private:
  std::unique_ptr<DisplayDriver> driver_;  // outlives the systems it made
  const cv::Size view_;
  const cv::Size stagingSize_;
  void* window_ = nullptr;
  std::unique_ptr<DisplaySystem> systems_[2];
  std::unique_ptr<Device> devices_[2];
  cv::Mat staging_[2];
};

}  // namespace display
