// The display pair's present at the viewer's sizes (two 800 x 600 crops of 1024 x 768 frames): on the
// off-screen displays, where the time is the composition, the copy into both back buffers and the
// off-screen present (one more copy of each back buffer), and on the SDL renderers. The SDL cases
// need an X server (DISPLAY).
//
// Goal: composition and copy for both sides at most 0.6 ms median (see the parts below).
#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "display/display_pair.h"
#include "display/offscreen/offscreen_display.h"
#include "display/sdl/sdl_display.h"

namespace {

// Both devices made; false when they cannot be.
bool Start(display::DisplayPair& pair) {
  for (int side = 0; side < 2; ++side) {
    if (pair.Create(side, &pair) != display::Status::Ok) return false;
    pair.CreateStaging(side);
  }
  return true;
}

void RunPresent(benchmark::State& state, display::DisplayPair& pair) {
  cv::Mat frames[2] = {cv::Mat(768, 1024, CV_8UC3), cv::Mat(768, 1024, CV_8UC3)};
  for (cv::Mat& frame : frames) cv::randu(frame, cv::Scalar::all(0), cv::Scalar::all(256));
  // A typical convergence: h = 40.
  const cv::Mat view1 = frames[0](cv::Rect(152, 84, 800, 600)), view2 = frames[1](cv::Rect(72, 84, 800, 600));
  for (auto _ : state) {
    pair.Present(view1, view2);
    benchmark::ClobberMemory();
  }
}

// Off-screen devices whose back-buffer rows are `pitch` bytes apart.
void BM_PresentViewsOffscreen(benchmark::State& state) {
  display::OffscreenFaultPlan plan;
  for (auto& adapter : plan.adapters) adapter.extraRowBytes = static_cast<int>(state.range(0)) - 3200;
  display::DisplayPair pair(display::MakeOffscreenDisplayDriver(nullptr, std::move(plan)));
  if (!Start(pair)) {
    state.SkipWithError("the off-screen devices cannot be made");
    return;
  }
  RunPresent(state, pair);
}

BENCHMARK(BM_PresentViewsOffscreen)
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
    display::DisplayPair pair(display::MakeSdlDisplayDriver(options));
    if (!Start(pair)) {
      state.SkipWithError("the SDL devices cannot be made");
    } else {
      SDL_PumpEvents();
      RunPresent(state, pair);
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
