// What each output mode costs a pass: the display pair's present of two 800 x 600 crops on the
// off-screen devices (composition, the copy into the back buffers and the off-screen present), dual
// first as the base; and the overlay (its text rendered and drawn into both eyes).
//
// Goals: any mode at most 0.6 ms more than dual; the overlay at most 0.3 ms.
#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>

#include "display/display_pair.h"
#include "display/offscreen/offscreen_display.h"
#include "display/overlay.h"

namespace {

using display::OutputMode;

constexpr OutputMode kModes[] = {OutputMode::Dual,          OutputMode::SideBySide, OutputMode::SideBySideHalf,
                                 OutputMode::TopBottomHalf, OutputMode::Anaglyph,   OutputMode::Interlaced,
                                 OutputMode::Left};

// Two random frames and the crops at a typical convergence (h = 40).
struct Crops {
  Crops() {
    for (cv::Mat& frame : frames) {
      frame.create(768, 1024, CV_8UC3);
      cv::randu(frame, cv::Scalar::all(0), cv::Scalar::all(256));
    }
    left = frames[0](cv::Rect(152, 84, 800, 600));
    right = frames[1](cv::Rect(72, 84, 800, 600));
  }
  cv::Mat frames[2], left, right;
};

void Present(benchmark::State& state, bool overlay) {
  const OutputMode mode = kModes[state.range(0)];
  display::DisplayPair pair(display::MakeOffscreenDisplayDriver());
  pair.SetOutput(mode);
  for (int side = 0; side < 2; ++side) {
    if (pair.Create(side, &pair) != display::Status::Ok) {
      state.SkipWithError("the off-screen devices cannot be made");
      return;
    }
    pair.CreateStaging(side);
  }
  const Crops crops;
  const std::vector<std::string> lines = {"dominant disparity 48 px",
                                          "follower 47 px  nudge +4 px  LOCKED",
                                          "43.2 frame steps/s",
                                          "cameras 30.0 / 30.0 frames/s (left / right eye)",
                                          "latency 21.3 ms / 22.9 ms (left / right eye)",
                                          "left eye: camera 0"};
  for (auto _ : state) {
    pair.Present(crops.left, crops.right, overlay ? display::RenderOverlay(lines) : cv::Mat());
    benchmark::ClobberMemory();
  }
}

void BM_PresentMode(benchmark::State& state) { Present(state, false); }
void BM_PresentModeWithOverlay(benchmark::State& state) { Present(state, true); }

void Modes(benchmark::internal::Benchmark* b) {
  b->ArgName("mode")->DenseRange(0, static_cast<int>(std::size(kModes)) - 1);
  b->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true);
}

// Mode numbers: 0 dual, 1 side-by-side, 2 side-by-side-half, 3 top-bottom-half, 4 anaglyph,
// 5 interlaced, 6 left (right costs the same).
BENCHMARK(BM_PresentMode)->Apply(Modes);
BENCHMARK(BM_PresentModeWithOverlay)->Apply(Modes);

}  // namespace

BENCHMARK_MAIN();
