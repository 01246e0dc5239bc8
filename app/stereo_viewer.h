// The application object: owns every resource of the viewer and runs its start-up and shut-down.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <opencv2/core.hpp>

#include "app/window_system.h"
#include "capture/capture_manager.h"
#include "display/display_system.h"
#include "stereo/frame_step.h"

namespace app {

// The backends the entry point chose; StereoViewer takes ownership of all of them.
struct Platform {
  std::unique_ptr<WindowSystem> windows;
  std::unique_ptr<display::DisplayDriver> displays;
  std::unique_ptr<capture::DeviceBackend> cameras;
};

struct ViewerConfig {
  std::string mapDirectory;       // where "mx1.xml" and friends are read; empty: the working directory
  bool identityMaps = false;      // no map files: rectification leaves frames as they are
  long maxPasses = 0;             // end after this many frame steps, as if Escape had been pressed; 0: never
  std::string snapshotDirectory;  // where the last views are written at exit; empty: nowhere
};

inline constexpr const char* kWindowTitle = "Direct3D aplikace";

class StereoViewer {
  // Declared first so they outlive every device, window and camera that depends on them.
  std::unique_ptr<WindowSystem> windowSystem_;
  std::unique_ptr<display::DisplayDriver> displayDriver_;

 public:
  explicit StereoViewer(Platform platform, ViewerConfig config = {});
  ~StereoViewer();
  StereoViewer(const StereoViewer&) = delete;
  StereoViewer& operator=(const StereoViewer&) = delete;

  bool Init();
  bool InitResources();
  bool CreateDisplays();
  void FrameStep();
  void ResetDisplays();
  void PresentViews();
  void ReleaseResources();
  void Shutdown();

  // The window procedure: the messages the viewer reacts to.
  void WindowProc(const WindowMessage& message);
  // Runs passes until the quit request is retrieved; returns its exit code.
  int RunMainLoop();
  // Called after every frame step of the main loop (traces, progress lines).
  void SetPassObserver(std::function<void(StereoViewer&)> observer) { observer_ = std::move(observer); }
  // Writes the last presented view of each side as side1.png and side2.png; false when it cannot.
  bool WriteSnapshots(const std::string& directory) const;
  const ViewerConfig& config() const { return config_; }

  WindowSystem& windows() { return *windowSystem_; }

  // Fields in the viewer's own order; the frame step and view composition use them directly.
  bool dualDisplay = true;
  WindowHandle window = nullptr;
  std::unique_ptr<display::DisplaySystem> direct3D1;
  std::unique_ptr<display::Device> device1;
  capture::CaptureManager capture;
  cv::Mat frame1;
  cv::Mat staging1;
  cv::Mat mapX1, mapY1, mapX2, mapY2;
  cv::Mat mapXY1, mapAlpha1;
  cv::Mat mapXY2, mapAlpha2;
  int cameraId1 = 0;
  std::unique_ptr<display::DisplaySystem> direct3D2;
  std::unique_ptr<display::Device> device2;
  cv::Mat frame2;
  cv::Mat staging2;
  int cameraId2 = 1;
  // The crop windows of the current pass (set by the frame step, shown by PresentViews).
  cv::Rect cropWindow1{112, 84, 800, 600};
  cv::Rect cropWindow2{112, 84, 800, 600};
  // What the last pass that reached the matching did (for traces and checks).
  stereo::FrameStepRecord lastStep;
  // Matcher and buffers kept across passes.
  std::unique_ptr<stereo::FrameStepWorkspace> workspace;

 private:
  bool LoadAndConvertMaps();
  bool TakeFrame(int side);

  ViewerConfig config_;
  std::function<void(StereoViewer&)> observer_;
  long frameSteps_ = 0;
};

// The process entry: start-up, main loop, shut-down, the error box; returns the exit code.
// `observer`, when given, is called after every frame step of the main loop.
int WinMain(Platform platform, ViewerConfig config = {}, std::function<void(StereoViewer&)> observer = nullptr);

}  // namespace app
