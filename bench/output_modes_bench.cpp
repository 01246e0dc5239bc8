// What each output mode costs a pass: the display pair's present of two 800 x 600 crops on the
// off-screen devices (composition, the copy into the back buffers and the off-screen present), dual
// first as the base; with the overlay drawn into both eyes; and the overlay's text rendered (the viewer
// renders it at most five times a second, not every pass).
//
// Goals: any mode at most 0.6 ms more than dual; the overlay at most 0.3 ms a pass.
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

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

const std::vector<std::string> kLines = {"dominant disparity 48 px",
                                         "follower 47 px  nudge +4 px  LOCKED",
                                         "43.2 frame steps/s",
                                         "cameras 30.0 / 30.0 frames/s (left / right eye)",
                                         "latency 21.3 ms / 22.9 ms (left / right eye)",
                                         "left eye: camera 0"};

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

// The display pair of a mode on off-screen devices; null when they cannot be made.
std::unique_ptr<display::DisplayPair> MakePair(OutputMode mode) {
  auto pair = std::make_unique<display::DisplayPair>(display::MakeOffscreenDisplayDriver());
  pair->SetOutput(mode);
  for (int side = 0; side < 2; ++side) {
    if (pair->Create(side, pair.get()) != display::Status::Ok) return nullptr;
    pair->CreateStaging(side);
  }
  return pair;
}

void Present(benchmark::State& state, bool overlay) {
  const std::unique_ptr<display::DisplayPair> made = MakePair(kModes[state.range(0)]);
  if (!made) {
    state.SkipWithError("the off-screen devices cannot be made");
    return;
  }
  display::DisplayPair& pair = *made;
  const Crops crops;
  const cv::Mat patch = overlay ? display::RenderOverlay(kLines) : cv::Mat();
  for (auto _ : state) {
    pair.Present(crops.left, crops.right, patch);
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

// On a machine others load, the time of one present swings by more than the differences sought:
// each iteration here times a present of the mode (or with the overlay) right beside one of dual
// (or without), and the counter is the median of those differences.
double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Extra(benchmark::State& state, OutputMode mode, bool overlay) {
  const std::unique_ptr<display::DisplayPair> base = MakePair(OutputMode::Dual), other = MakePair(mode);
  if (!base || !other) {
    state.SkipWithError("the off-screen devices cannot be made");
    return;
  }
  const Crops crops;
  const cv::Mat patch = overlay ? display::RenderOverlay(kLines) : cv::Mat();
  std::vector<double> extra;
  bool baseFirst = true;  // taking turns, so that neither gains from the caches the other warmed
  for (auto _ : state) {
    double plain = 0, more = 0;
    const auto runBase = [&] { plain = Seconds([&] { base->Present(crops.left, crops.right); }); };
    const auto runOther = [&] { more = Seconds([&] { other->Present(crops.left, crops.right, patch); }); };
    if (baseFirst) {
      runBase();
      runOther();
    } else {
      runOther();
      runBase();
    }
    baseFirst = !baseFirst;
    extra.push_back(more - plain);
  }
  std::nth_element(extra.begin(), extra.begin() + extra.size() / 2, extra.end());
  state.counters["extra_ms"] = extra[extra.size() / 2] * 1e3;
}

void BM_ModeOverDual(benchmark::State& state) { Extra(state, kModes[state.range(0)], false); }
BENCHMARK(BM_ModeOverDual)->ArgName("mode")->DenseRange(1, static_cast<int>(std::size(kModes)) - 1);
void BM_OverlayOverDual(benchmark::State& state) { Extra(state, OutputMode::Dual, true); }
BENCHMARK(BM_OverlayOverDual);

void BM_RenderOverlay(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(display::RenderOverlay(kLines).data);
}
BENCHMARK(BM_RenderOverlay)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
