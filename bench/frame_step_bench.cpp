// One pass of the frame pipeline and the display pair (off-screen displays, fake cameras), against
// the same work done the straightforward way (testkit::ReferencePass: whole-frame remaps into a
// scratch image and back; then each crop copied into an 832 x 600 image, converted to BGRA and copied
// into a back buffer), measured in one run with the same maps (a small rotation and scale per side).
// Prints the ratios of the two at the end, from passes of both taken in turn. Also counts heap
// allocations per pass. The Comfort runs add what --comfort and --hold-when-unsure cost: the coarse
// estimate of near and far over the whole view (on a new frame; otherwise only the count over the
// columns shown), the budget and the confidence of the centre square.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <opencv2/imgproc.hpp>

#include "display/display_pair.h"
#include "display/offscreen/offscreen_display.h"
#include "stereo/coarse_depth.h"
#include "stereo/frame_pipeline.h"
#include "testing/stereo_rig.h"

// Every allocation of the process passes through here, so a pass's allocations can be counted.
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void* __libc_memalign(size_t, size_t);
static std::atomic<long> allocations{0};
extern "C" void* malloc(size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* p, size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, size);
}
extern "C" int posix_memalign(void** p, size_t alignment, size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  *p = __libc_memalign(alignment, size);
  return *p ? 0 : 12;
}

namespace {

using testkit::StereoRig;

struct Inputs {
  std::vector<std::uint8_t> bottomUp[2];
  explicit Inputs(cv::Size size) {
    cv::Mat images[2];
    testkit::TexturedPair(64, &images[0], &images[1], 7, size);
    for (int side = 0; side < 2; ++side) {
      cv::Mat flipped;
      cv::flip(images[side], flipped, 0);
      bottomUp[side].assign(flipped.datastart, flipped.dataend);
    }
  }
};

const Inputs& TheInputs(cv::Size size = {1024, 768}) {
  static const Inputs inputs({1024, 768}), wide({1920, 1080});
  return size == cv::Size(1024, 768) ? inputs : wide;
}

// A new frame from both cameras.
void DeliverBoth(StereoRig& rig, cv::Size size = {1024, 768}) {
  rig.DeliverSample(0, TheInputs(size).bottomUp[0]);
  rig.DeliverSample(1, TheInputs(size).bottomUp[1]);
}

void Deliver(benchmark::State& state, StereoRig& rig, bool newFrames, cv::Size size = {1024, 768}) {
  if (!newFrames) return;
  state.PauseTiming();
  DeliverBoth(rig, size);
  state.ResumeTiming();
}

// The maps of both passes: a gentle rotation and scale about the centre, different per side.
void RigMaps(int side, cv::Size frame, cv::Mat* mapX, cv::Mat* mapY) {
  const cv::Mat warp = cv::getRotationMatrix2D(cv::Point2f(frame.width / 2.0F, frame.height / 2.0F), side ? -1.2 : 1.5,
                                               side ? 0.99 : 1.02);
  cv::Mat x(frame, CV_32FC1), y(frame, CV_32FC1);
  for (int r = 0; r < frame.height; ++r)
    for (int c = 0; c < frame.width; ++c) {
      x.at<float>(r, c) =
          static_cast<float>(warp.at<double>(0, 0) * c + warp.at<double>(0, 1) * r + warp.at<double>(0, 2));
      y.at<float>(r, c) =
          static_cast<float>(warp.at<double>(1, 0) * c + warp.at<double>(1, 1) * r + warp.at<double>(1, 2));
    }
  *mapX = x;
  *mapY = y;
}

// The viewer's pass without the device checks (the off-screen devices are never lost).
struct Pass {
  explicit Pass(stereo::Geometry geometry = {}, stereo::ConvergenceOptions options = {})
      : pipeline(geometry), displays(display::MakeOffscreenDisplayDriver(), geometry.view) {
    pipeline.SetConvergenceOptions(options);
    for (int side = 0; side < 2; ++side) {
      cv::Mat mapX, mapY;
      RigMaps(side, geometry.frame, &mapX, &mapY);
      pipeline.SetMaps(side, mapX, mapY);
      pipeline.CreateFrame(side);
      displays.CreateStaging(side);
      displays.Create(side, this);
    }
  }
  void Run(StereoRig& rig) {
    const bool new1 = pipeline.TakeFrame(0, *rig.capture), new2 = pipeline.TakeFrame(1, *rig.capture);
    pipeline.Match(new1, new2);
    // As the viewer does: a view whose revision is that of the last present is not drawn again.
    std::array<bool, 2> unchanged{};
    for (int side = 0; side < 2; ++side) {
      unchanged[side] = pipeline.ViewRevision(side) == presented[side];
      presented[side] = pipeline.ViewRevision(side);
    }
    displays.Present(pipeline.View(0), pipeline.View(1), cv::Mat(), unchanged);
  }
  std::uint64_t presented[2] = {0, 0};
  stereo::FramePipeline pipeline;
  display::DisplayPair displays;
};

// The same work done the straightforward way, with the same maps.
struct Straightforward {
  Straightforward() {
    for (int side = 0; side < 2; ++side) {
      cv::Mat mapX, mapY;
      RigMaps(side, {1024, 768}, &mapX, &mapY);
      reference.SetMaps(side, mapX, mapY);
      compositions[side] = cv::Mat(600, 832, CV_8UC3, cv::Scalar::all(0));
      staging[side].create(600, 832, CV_8UC4);
      backBuffers[side].resize(staging[side].total() * 4);
    }
  }
  void Run(StereoRig& rig) {
    cv::Mat views[2];
    reference.Run(*rig.capture, views);
    for (int side = 0; side < 2; ++side) {
      views[side].copyTo(compositions[side](cv::Rect(0, 0, 800, 600)));
      cv::cvtColor(compositions[side], staging[side], cv::COLOR_BGR2BGRA);
      std::memcpy(backBuffers[side].data(), staging[side].data, backBuffers[side].size());
    }
    benchmark::DoNotOptimize(backBuffers[0].data());
    benchmark::DoNotOptimize(backBuffers[1].data());
  }
  testkit::ReferencePass reference;
  cv::Mat compositions[2], staging[2];
  std::vector<std::uint8_t> backBuffers[2];
};

// Both start from new frames, so that without new frames both match the same pictures (the black
// frames the straightforward pass starts with would leave its matcher nothing to do).
template <typename AnyPass>
void WarmUp(AnyPass& pass, StereoRig& rig, cv::Size frame = {1024, 768}) {
  for (int warm = 0; warm < 3; ++warm) {
    DeliverBoth(rig, frame);
    pass.Run(rig);
  }
}

template <typename AnyPass>
void Measure(benchmark::State& state, AnyPass& pass, StereoRig& rig, bool newFrames, cv::Size frame = {1024, 768}) {
  WarmUp(pass, rig, frame);
  long counted = 0, passes = 0;
  for (auto _ : state) {
    Deliver(state, rig, newFrames, frame);
    const long before = allocations.load();
    pass.Run(rig);
    counted += allocations.load() - before;
    ++passes;
  }
  state.counters["allocs_per_pass"] = static_cast<double>(counted) / static_cast<double>(passes);
}

void FrameStep(benchmark::State& state, bool newFrames, stereo::Geometry geometry = {},
               stereo::ConvergenceOptions options = {}) {
  StereoRig rig(geometry.frame, geometry.frame);
  Pass pass(geometry, options);
  Measure(state, pass, rig, newFrames, geometry.frame);
}

void Baseline(benchmark::State& state, bool newFrames) {
  StereoRig rig;
  Straightforward pass;
  Measure(state, pass, rig, newFrames);
}

// The coarse estimate alone, on a new pair of frames: what --comfort adds to a pass that brings one.
void BM_CoarseEstimate(benchmark::State& state) {
  cv::Mat frames[2];
  testkit::TexturedPair(64, &frames[0], &frames[1]);
  stereo::CoarseDepth coarse;
  const stereo::Geometry g;
  const cv::Rect shown(cv::Point(g.CropCentreX() + 32, g.CropY()), g.view);
  for (auto _ : state) {
    coarse.Match(frames[0], frames[1], shown.y, shown.height);
    benchmark::DoNotOptimize(coarse.Range(shown.x, shown.width));
  }
}

stereo::ConvergenceOptions Comfort() {
  stereo::ConvergenceOptions options;
  options.comfort = options.holdWhenUnsure = true;
  return options;
}

void BM_FrameStep_TwoNewFrames(benchmark::State& state) { FrameStep(state, true); }
void BM_FrameStep_NoNewFrame(benchmark::State& state) { FrameStep(state, false); }
void BM_Comfort_TwoNewFrames(benchmark::State& state) { FrameStep(state, true, {}, Comfort()); }
void BM_Comfort_NoNewFrame(benchmark::State& state) { FrameStep(state, false, {}, Comfort()); }
void BM_Baseline_TwoNewFrames(benchmark::State& state) { Baseline(state, true); }
// 1920 x 1080 cameras shown in 1280 x 720 views.
void BM_FrameStep_TwoNewFrames_1080(benchmark::State& state) { FrameStep(state, true, {{1920, 1080}, {1280, 720}}); }
void BM_Baseline_NoNewFrame(benchmark::State& state) { Baseline(state, false); }

BENCHMARK(BM_CoarseEstimate)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_FrameStep_TwoNewFrames)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Baseline_TwoNewFrames)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Comfort_TwoNewFrames)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FrameStep_TwoNewFrames_1080)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FrameStep_NoNewFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Comfort_NoNewFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Baseline_NoNewFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  const std::size_t n = times.size();
  return n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

// The two passes taken in turn, one pass each per round, so that a machine whose speed drifts (a
// shared virtual machine) slows both alike; the ratio of their median wall times.
void PrintRatio(const char* what, bool newFrames, int rounds) {
  StereoRig ourRig, theirRig;
  Pass ours;
  Straightforward theirs;
  WarmUp(ours, ourRig);
  WarmUp(theirs, theirRig);
  std::vector<double> times[2];
  const auto timed = [&](auto& pass, StereoRig& rig, std::vector<double>& into) {
    if (newFrames) DeliverBoth(rig);
    const auto start = std::chrono::steady_clock::now();
    pass.Run(rig);
    into.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  };
  for (int round = 0; round < rounds; ++round) {
    timed(ours, ourRig, times[0]);
    timed(theirs, theirRig, times[1]);
  }
  const double a = Median(times[0]), b = Median(times[1]);
  std::printf("ratio, %s: %.2f (%.3f ms / %.3f ms, medians of %d passes each, taken in turn)\n", what, a / b, a, b,
              rounds);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  std::fflush(stdout);
  PrintRatio("two new frames", true, 1000);
  PrintRatio("no new frame", false, 1000);
  benchmark::Shutdown();
  return 0;
}
