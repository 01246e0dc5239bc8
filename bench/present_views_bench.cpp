// PresentViews at the viewer's sizes (two 800 x 600 crops of 1024 x 768 frames): on the scripted
// display, where the time is the composition and the copy into both back buffers alone, and on the
// SDL renderers, where the presents are included. The SDL cases need an X server (DISPLAY).
//
// Goal: composition and copy for both sides at most 0.6 ms median (the Fake cases).
#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "app/error_text.h"
#include "app/fake/fake_window_system.h"
#include "app/stereo_viewer.h"
#include "display/fake/fake_display.h"
#include "display/sdl/sdl_display.h"

namespace {

std::unique_ptr<app::StereoViewer> MakeViewer(std::unique_ptr<display::DisplayDriver> driver) {
  app::ResetShellState();
  app::Platform platform;
  platform.windows = std::make_unique<fake::FakeWindowSystem>(std::make_shared<fake::WindowState>());
  platform.displays = std::move(driver);
  app::ViewerConfig config;
  config.identityMaps = true;
  auto viewer = std::make_unique<app::StereoViewer>(std::move(platform), config);
  if (!viewer->Init()) return nullptr;
  cv::randu(viewer->frame1, cv::Scalar::all(0), cv::Scalar::all(256));
  cv::randu(viewer->frame2, cv::Scalar::all(0), cv::Scalar::all(256));
  // A typical convergence: h = 40.
  viewer->cropWindow1 = {152, 84, 800, 600};
  viewer->cropWindow2 = {72, 84, 800, 600};
  return viewer;
}

void RunPresentViews(benchmark::State& state, app::StereoViewer& viewer) {
  for (auto _ : state) {
    viewer.PresentViews();
    benchmark::ClobberMemory();
  }
  if (!app::ErrorTextIsOk()) state.SkipWithError(app::ErrorText);
}

// Scripted devices: the back buffers are plain memory and Present does nothing, so this is the
// composition (crop conversion) and the copy into the locked back buffer, for both sides.
void BM_PresentViewsFake(benchmark::State& state) {
  auto displays = std::make_shared<fake::DisplayState>();
  for (fake::DeviceScript& device : displays->adapters) {
    device.pitch = static_cast<int>(state.range(0));
    device.keepPresented = false;
  }
  auto viewer = MakeViewer(std::make_unique<fake::FakeDisplayDriver>(displays));
  if (!viewer) {
    state.SkipWithError(app::ErrorText);
    return;
  }
  RunPresentViews(state, *viewer);
}
BENCHMARK(BM_PresentViewsFake)
    ->ArgName("pitch")
    ->Arg(3200)
    ->Arg(3328)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

// The parts of one side, for reading the totals above.
void BM_ConvertCropIntoStaging(benchmark::State& state) {
  cv::Mat frame(768, 1024, CV_8UC3), staging(600, 832, CV_8UC4);
  cv::randu(frame, cv::Scalar::all(0), cv::Scalar::all(256));
  cv::Mat view = staging(cv::Rect(0, 0, 800, 600));
  for (auto _ : state) {
    cv::cvtColor(frame(cv::Rect(152, 84, 800, 600)), view, cv::COLOR_BGR2BGRA);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ConvertCropIntoStaging)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_CopyStagingIntoBackBuffer(benchmark::State& state) {
  const std::size_t pitch = static_cast<std::size_t>(state.range(0));
  cv::Mat staging(600, 832, CV_8UC4, cv::Scalar::all(7));
  std::vector<unsigned char> backBuffer(pitch * 600);
  for (auto _ : state) {
    if (pitch == staging.step[0]) {
      std::memcpy(backBuffer.data(), staging.data, staging.step[0] * 600);
    } else {
      for (int r = 0; r < 600; ++r)
        std::memcpy(backBuffer.data() + r * pitch, staging.ptr(r), std::min(pitch, staging.step[0]));
    }
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_CopyStagingIntoBackBuffer)
    ->ArgName("pitch")
    ->Arg(3200)
    ->Arg(3328)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

// Real SDL devices, presents included. Windowed: works with one screen as well as with two.
void RunSdl(benchmark::State& state, display::SdlDisplayOptions options) {
  const char* x = std::getenv("DISPLAY");
  if (!x || !*x) {
    state.SkipWithError("DISPLAY is not set: run under scripts/with-xorg");
    return;
  }
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    state.SkipWithError(SDL_GetError());
    return;
  }
  {
    auto viewer = MakeViewer(display::MakeSdlDisplayDriver(options));
    if (!viewer) {
      state.SkipWithError(app::ErrorText);
    } else {
      SDL_PumpEvents();
      RunPresentViews(state, *viewer);
    }
  }
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

void BM_PresentViewsSdlSoftware(benchmark::State& state) {
  RunSdl(state, {display::SdlWindowMode::Windowed, display::SdlRendererChoice::Software});
}
BENCHMARK(BM_PresentViewsSdlSoftware)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_PresentViewsSdlAccelerated(benchmark::State& state) {
  RunSdl(state, {display::SdlWindowMode::Windowed, display::SdlRendererChoice::Accelerated});
}
BENCHMARK(BM_PresentViewsSdlAccelerated)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
