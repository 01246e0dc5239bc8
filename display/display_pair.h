// The viewer's two full-screen devices, side 1 (index 0) on adapter 1 and side 2 (index 1) on
// adapter 0: their display systems, devices and staging images. Creation, the loss check, reset and
// present each report per side; what a failure means to the user is the caller's business.
#pragma once

#include <array>
#include <memory>

#include <opencv2/core.hpp>

#include "display/display_system.h"
#include "display/output_modes.h"

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
  // `view`: the size of each eye's picture (the crops), and of the back buffers in dual.
  explicit DisplayPair(std::unique_ptr<DisplayDriver> driver, cv::Size view = {800, 600});
  ~DisplayPair();
  DisplayPair(const DisplayPair&) = delete;
  DisplayPair& operator=(const DisplayPair&) = delete;

  // Before anything is created: how the views reach the screen. In dual (the default) each side has
  // its device; every other mode composes one picture on side 2's device (adapter 0) and side 1 has
  // none, so that its creation, check, reset and release do nothing and succeed.
  void SetOutput(OutputMode mode) { output_ = mode; }
  OutputMode output() const { return output_; }
  bool OneDisplay() const { return output_ != OutputMode::Dual; }

  // The side's display system and its device on the side's adapter with `window` as focus window,
  // blanked white and presented once. On failure whatever was made stays until ReleaseDevice.
  Status Create(int side, void* window);
  // The side's 4-channel staging image: the view's rows, widened to a whole number of 64-pixel
  // blocks (832 x 600 for 800 x 600 views).
  void CreateStaging(int side);

  // Ready also for results other than lost or can-be-reset.
  DeviceState Check(int side);
  // Resets the side's device with the creation parameters, then waits 100 ms.
  Status Reset(int side);
  // Composes each side's BGR view (of the view size) into its staging image and locked back buffer, then
  // presents both devices whatever happened before. One display: the picture of both views instead.
  // A non-empty `overlay` (BGRA) is drawn at the same place in each eye's view. `unchanged[side]`: the
  // caller vouches that the side's view and the overlay hold the pixels of the last present, so that
  // its staging image, already drawn from them, goes to the screen as it is.
  std::array<Status, 2> Present(const cv::Mat& view1, const cv::Mat& view2, const cv::Mat& overlay = cv::Mat(),
                                std::array<bool, 2> unchanged = {false, false});

  // Released in the order the shut-down asks for; each may run again and finds nothing.
  void ReleaseStaging(int side);
  // The device, then its display system.
  void ReleaseDevice(int side);

  // The last composed view of a side (its staging image), empty once released; with one display
  // side 2's is the picture and side 1 has none.
  const cv::Mat& Staging(int side) const { return staging_[side]; }
  // What the screens show now: with one display its picture, in dual both views side by side, left
  // eye (side 1) left. BGR; empty before staging images exist.
  cv::Mat Shown() const;
  // The side's device, for checks that drive it directly; null when there is none.
  Device* device(int side) const { return devices_[side].get(); }

 private:
  // The devices' parameters: the view's size in dual, the picture's size otherwise.
  PresentParameters Parameters() const;
  // Draws the side's view into its staging image unless it is unchanged and drawn, then copies it into
  // the locked back buffer, if any. Runs beside the other side's.
  void DrawSide(int side, const cv::Mat& view, const cv::Mat& overlay, bool unchanged, const LockedRect& locked);
  std::array<Status, 2> PresentPicture(const cv::Mat& left, const cv::Mat& right, const cv::Mat& overlay,
                                       bool unchanged);

  std::unique_ptr<DisplayDriver> driver_;  // outlives the systems it made
  const cv::Size view_;
  const cv::Size stagingSize_;
  void* window_ = nullptr;
  std::unique_ptr<DisplaySystem> systems_[2];
  std::unique_ptr<Device> devices_[2];
  cv::Mat staging_[2];
  bool drawn_[2] = {false, false};  // the staging image holds the side's last presented view
  OutputMode output_ = OutputMode::Dual;
};

}  // namespace display
