// The SDL2 display backend: per device a window on its display, a renderer (without vsync unless
// asked) and one streaming texture that serves as the lockable back buffer.
#pragma once

#include <memory>
#include <vector>

#include <opencv2/core.hpp>

#include "display/display_system.h"

struct SDL_Window;

namespace display {

enum class SdlWindowMode {
  // Each device covers the SDL display whose index is its adapter number; a missing display fails.
  FullScreen,
  // 800 x 600 ordinary windows side by side on the first display: adapter 0 at x = 0, adapter 1 at
  // x = 800. For working on a machine with a single monitor.
  Windowed,
};

enum class SdlRendererChoice {
  Accelerated,  // the platform's accelerated renderer, the software one where there is none
  Software,
};

struct SdlDisplayOptions {
  SdlWindowMode windowMode = SdlWindowMode::FullScreen;
  SdlRendererChoice renderer = SdlRendererChoice::Accelerated;
  bool vsync = false;  // presents wait for the display's refresh
};

// How a full-screen device shows a picture as sharp as its display allows.
enum class FullScreenPlan {
  Desktop,        // the desktop mode is the picture's size: shown pixel for pixel
  SwitchMode,     // the display has a mode of the picture's size and of its own shape: switch to it
  DesktopScaled,  // the desktop mode, the picture scaled with linear filtering, proportions kept
};
// `modes` as the display lists them, its largest (its own, native size) first.
FullScreenPlan PlanFullScreen(cv::Size desktop, const std::vector<cv::Size>& modes, cv::Size picture);

// Each display-system object holds its own reference to SDL's video subsystem, so it works whether
// or not the window system initialised it first; Create() gives null when SDL video cannot start.
std::unique_ptr<DisplayDriver> MakeSdlDisplayDriver(SdlDisplayOptions options = {});

// The window behind a device of this backend; null for a device of another backend.
SDL_Window* SdlDeviceWindow(Device& device);

}  // namespace display
