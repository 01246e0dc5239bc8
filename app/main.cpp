// stereo-viewer: a live stereoscopic viewer with automatic convergence.
//
// The entry point chooses the backends (window system, displays, cameras) from the command line and
// hands them to the viewer; with no option it is the plain viewer on two cameras and two displays.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include <SDL.h>

#include "app/comfort_options.h"
#include "app/command_line.h"
#include "app/control_channel.h"
#include "app/display_plan.h"
#include "app/headless/headless_window_system.h"
#include "app/progress_report.h"
#include "app/sdl/sdl_window_system.h"
#include "app/stereo_viewer.h"
#include "app/trace_writer.h"
#include "capture/camera_listing.h"
#include "capture/capture_manager.h"
#include "capture/synthetic/synthetic_scene.h"
#include "capture/synthetic/virtual_camera_backend.h"
#include "capture/v4l2/v4l2_backend.h"
#include "display/offscreen/offscreen_display.h"
#include "display/sdl/sdl_display.h"

namespace {

constexpr double kHeadlessDemoSeconds = 10.0;

bool HaveDisplayServer() { return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"); }

int CountDisplays() {
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return 0;
  const int count = SDL_GetNumVideoDisplays();
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  return count < 0 ? 0 : count;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "stereo-viewer: %s\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  app::CommandLine options;
  std::string error;
  if (!app::ParseCommandLine(argc, argv, &options, &error)) return Fail(error);
  if (options.help) {
    std::printf("%s", app::UsageText().c_str());
    return 0;
  }
  if (options.version) {
    std::printf("stereo-viewer %s\n", VIEWER_VERSION);
    return 0;
  }
  capture::verbose = options.verbose;
  if (options.listCameras) {
    auto backend = capture::MakeV4l2Backend();
    std::fputs(capture::ListCameras(*backend).c_str(), stdout);
    return 0;
  }

  const app::DisplayPlan plan = app::PlanDisplays(options, HaveDisplayServer(), CountDisplays);
  const bool headless = plan.headless, windowed = plan.windowed, headlessDemo = plan.headlessDemo;
  const display::OutputMode output = plan.output;

  app::ViewerConfig config;
  config.mapDirectory = options.mapDirectory;
  config.identityMaps = options.identityMaps || options.demo;
  config.maxPasses = options.passes;
  config.snapshotDirectory = options.snapshotDirectory;
  config.geometry = options.geometry;
  config.output = output;
  config.swapEyes = options.swapEyes;
  config.mirror[0] = options.flipLeft;
  config.mirror[1] = options.flipRight;
  config.convergence = app::ConvergenceOf(options);
  if (headlessDemo && config.snapshotDirectory.empty())
    config.snapshotDirectory = (std::filesystem::temp_directory_path() / "stereo-viewer-demo").string();

  app::Platform platform;
  std::shared_ptr<capture::SyntheticScene> scene;
  if (options.demo) {
    capture::SceneScript script;
    capture::NamedScene(options.scene, &script);  // the command line took only names it has
    scene = std::make_shared<capture::SyntheticScene>(capture::FittedTo(script, options.geometry.frame));
    platform.cameras = capture::MakeSyntheticBackend(scene);
  } else if (options.cameraFiles()) {
    platform.cameras = capture::MakeFileBackend(options.leftFile, options.rightFile, options.geometry.frame, &error);
    if (!platform.cameras) return Fail(error);
  } else {
    platform.cameras = capture::MakeV4l2Backend();
  }
  if (options.chosenCameras()) {
    const std::vector<capture::DeviceEntry> devices = platform.cameras->ListDevices();
    for (int side = 0; side < 2; ++side) {
      config.cameras[side] = capture::ChooseCamera(devices, side ? options.rightCamera : options.leftCamera, &error);
      if (config.cameras[side] < 0) return Fail(error);
    }
    if (config.cameras[0] == config.cameras[1])
      return Fail("--cameras: LEFT and RIGHT are both " + capture::DescribeCamera(devices, config.cameras[0]));
  }
  config.pairing = options.pairing == "closest" ? stereo::Pairing::kClosest : stereo::Pairing::kFirst;
  config.matchControls = options.matchControls;
  if (headless) {
    platform.windows = std::make_unique<app::HeadlessWindowSystem>();
    platform.displays = display::MakeOffscreenDisplayDriver();
  } else {
    platform.windows = std::make_unique<app::SdlWindowSystem>();
    display::SdlDisplayOptions displayOptions;
    displayOptions.windowMode = windowed ? display::SdlWindowMode::Windowed : display::SdlWindowMode::FullScreen;
    displayOptions.vsync = options.vsync;
    platform.displays = display::MakeSdlDisplayDriver(displayOptions);
  }
  if (!options.controlPipe.empty()) {
    platform.control = std::make_unique<app::ControlChannel>();
    if (!platform.control->Open(options.controlPipe, &error)) return Fail(error);
  }

  app::TraceWriter trace;
  const app::TraceColumns columns{options.comfort, options.screenWidthMm.has_value(), !options.pairing.empty()};
  if (!options.traceFile.empty() && !trace.Open(options.traceFile, &error, columns)) return Fail(error);

  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<app::ProgressReport> progress;
  if (headless && !options.passes) {
    std::function<int()> truth;
    if (scene)
      truth = [scene, start] {
        return scene->CentreDisparity(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      };
    progress = std::make_unique<app::ProgressReport>(truth);
  }
  if (headlessDemo)
    std::fprintf(stderr,
                 "No display found: running the demo without a window for %.0f seconds; "
                 "views will be written to %s\n",
                 kHeadlessDemoSeconds, config.snapshotDirectory.c_str());

  const bool timed = headlessDemo;
  return app::WinMain(std::move(platform), config, [&](app::StereoViewer& viewer) {
    if (!options.traceFile.empty()) trace.Write(viewer.lastStep());
    if (progress) progress->Update(viewer.lastStep());
    if (timed && std::chrono::steady_clock::now() - start > std::chrono::duration<double>(kHeadlessDemoSeconds))
      viewer.WindowProc({app::WindowMessage::Kind::KeyDown, app::kVirtualKeyEscape});
  });
}
