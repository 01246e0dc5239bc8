// The application object: owns every part of the viewer and keeps their order: start-up, the
// passes of the main loop, the window procedure and shut-down.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app/control_channel.h"
#include "app/live_figures.h"
#include "app/window_system.h"
#include "capture/camera_watch.h"
#include "capture/capture_manager.h"
#include "display/display_pair.h"
#include "stereo/frame_pipeline.h"

namespace app {

// The backends the entry point chose; StereoViewer takes ownership of all of them.
struct Platform {
  std::unique_ptr<WindowSystem> windows;
  std::unique_ptr<display::DisplayDriver> displays;
  std::unique_ptr<capture::DeviceBackend> cameras;
  std::unique_ptr<ControlChannel> control;  // commands from a named pipe; none when null
};

struct ViewerConfig {
  std::string mapDirectory;       // where "mx1.xml" and friends are read; empty: the working directory
  bool identityMaps = false;      // no map files: rectification leaves frames as they are
  long maxPasses = 0;             // end after this many frame steps, as if Escape had been pressed; 0: never
  std::string snapshotDirectory;  // where the last views are written at exit; empty: nowhere
  stereo::Geometry geometry;      // frame, view and disparities; checked by stereo::CheckGeometry
  display::OutputMode output = display::OutputMode::Dual;
  bool swapEyes = false;                                                    // side 1 shows camera 1, side 2 camera 0
  stereo::Mirror mirror[2] = {stereo::Mirror::None, stereo::Mirror::None};  // per side, before rectification
  stereo::ConvergenceOptions convergence;  // beyond following the dominant disparity: nothing by default
  std::array<int, 2> cameras = {stereo::kCameraOfSide[0], stereo::kCameraOfSide[1]};  // left, right
  stereo::Pairing pairing = stereo::Pairing::kFirst;
  bool matchControls = false;  // set both cameras by hand to the left one's settled values
};

inline constexpr const char* kWindowTitle = "Direct3D aplikace";

// Main thread only.
class StereoViewer {
 public:
  explicit StereoViewer(Platform platform, ViewerConfig config = {});
  ~StereoViewer();
  StereoViewer(const StereoViewer&) = delete;
  StereoViewer& operator=(const StereoViewer&) = delete;

  // InitResources, then CreateDisplays; false with ErrorText written when either failed.
  bool Init();
  // Maps, frame and staging images and cameras side by side, then the window.
  bool InitResources();
  // Side 1's device, then side 2's.
  bool CreateDisplays();
  // One pass: the cameras looked after, device 1 check, (with closest pairing, a wait for a due
  // frame), side 1's frame, device 2 check, side 2's frame, matching, present.
  void FrameStep();
  // Both devices, side 1 first; a failure writes ErrorText and requests the quit.
  void ResetDisplays();
  // Side by side: camera, images, (after side 1) the maps, device and display system; safe to repeat.
  void ReleaseResources();
  // ReleaseResources, then the window is minimised.
  void Shutdown();

  // The window procedure: the messages the viewer reacts to.
  void WindowProc(const WindowMessage& message);
  // An operator's command, from a key or the control pipe.
  void Apply(const OperatorCommand& command);
  // Runs passes until the quit request is retrieved; returns its exit code.
  int RunMainLoop();
  // Called after every frame step of the main loop (traces, progress lines).
  void SetPassObserver(std::function<void(StereoViewer&)> observer) { observer_ = std::move(observer); }
  // Writes the last presented view of each side as side1.png and side2.png; false when it cannot.
  // With one display the picture as view.png instead.
  bool WriteSnapshots(const std::string& directory) const;
  // What the screens show now (both views side by side in dual, left eye left) as a PNG; says where,
  // or why not, on standard error.
  bool WriteShown(const std::string& path) const;

  // The record of the last pass that reached the matching.
  const stereo::FrameStepRecord& lastStep() const { return lastStep_; }
  const ViewerConfig& config() const { return config_; }
  WindowSystem& windows() { return *windowSystem_; }

 private:
  bool DeviceReady(int side);
  // The overlay's picture for this pass; empty while the overlay is off.
  cv::Mat OverlayPatch();

  // Declared first so it outlives the devices and cameras that depend on it.
  std::unique_ptr<WindowSystem> windowSystem_;
  display::DisplayPair displays_;
  capture::CaptureManager capture_;
  stereo::FramePipeline pipeline_;
  WindowHandle window_ = nullptr;
  ViewerConfig config_;
  capture::CameraWatch watch_;
  stereo::FrameStepRecord lastStep_;
  std::function<void(StereoViewer&)> observer_;
  long frameSteps_ = 0;
  std::unique_ptr<ControlChannel> control_;
  bool overlay_ = false;
  LiveFigures figures_;
  // The overlay as last rendered: its lines, the operator's settings it shows, and when.
  std::vector<std::string> overlayLines_;
  std::tuple<int, bool, bool> overlaySettings_;
  std::chrono::steady_clock::time_point overlayRendered_;
  cv::Mat overlayPatch_;
  std::uint64_t overlayRevision_ = 0;  // counts the renderings of overlayPatch_
  // What the last present drew: each side's view revision and the overlay's (0: none). A view whose
  // revision and overlay are the same is not drawn again.
  std::uint64_t presentedView_[2] = {0, 0}, presentedOverlay_ = 0;
};

// The process entry: start-up, main loop, shut-down, the error box; returns the exit code.
// `observer`, when given, is called after every frame step of the main loop.
int WinMain(Platform platform, ViewerConfig config = {}, std::function<void(StereoViewer&)> observer = nullptr);

}  // namespace app
