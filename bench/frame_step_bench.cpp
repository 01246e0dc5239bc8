// One pass of the frame pipeline and the display pair (off-screen displays, fake cameras), against
// the same work done the straightforward way (testkit::ReferencePass: whole-frame remaps into a
// scratch image and back; then each crop copied into an 832 x 600 image, converted to BGRA and copied
// into a back buffer), measured in one run with the same maps (a small rotation and scale per side).
// Prints the ratios of the two at the end, from this run's medians (wall time). Also counts heap
// allocations per pass. The Comfort runs add what --comfort and --hold-when-unsure cost: the coarse
// estimate of near and far over the whole view (on a new frame; otherwise only the count over the
// columns shown), the budget and the confidence of the centre square.
#include <unistd.h>
#include <algorithm>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
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

void Deliver(benchmark::State& state, StereoRig& rig, bool newFrames, cv::Size size = {1024, 768}) {
  if (!newFrames) return;
  state.PauseTiming();
  rig.DeliverSample(0, TheInputs(size).bottomUp[0]);
  rig.DeliverSample(1, TheInputs(size).bottomUp[1]);
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
    displays.Present(pipeline.View(0), pipeline.View(1));
  }
  stereo::FramePipeline pipeline;
  display::DisplayPair displays;
};

void FrameStep(benchmark::State& state, bool newFrames, stereo::Geometry geometry = {},
               stereo::ConvergenceOptions options = {}) {
  StereoRig rig(geometry.frame, geometry.frame);
  Pass pass(geometry, options);
  for (int warm = 0; warm < 3; ++warm) {
    rig.DeliverSample(0, TheInputs(geometry.frame).bottomUp[0]);
    rig.DeliverSample(1, TheInputs(geometry.frame).bottomUp[1]);
    pass.Run(rig);
  }
  long counted = 0, passes = 0;
  for (auto _ : state) {
    Deliver(state, rig, newFrames, geometry.frame);
    const long before = allocations.load();
    pass.Run(rig);
    counted += allocations.load() - before;
    ++passes;
  }
  state.counters["allocs_per_pass"] = static_cast<double>(counted) / static_cast<double>(passes);
}

void Baseline(benchmark::State& state, bool newFrames) {
  StereoRig rig;
  testkit::ReferencePass reference;
  for (int side = 0; side < 2; ++side) {
    cv::Mat mapX, mapY;
    RigMaps(side, {1024, 768}, &mapX, &mapY);
    reference.SetMaps(side, mapX, mapY);
  }
  cv::Mat compositions[2], staging[2];
  std::vector<std::uint8_t> backBuffers[2];
  for (int side = 0; side < 2; ++side) {
    compositions[side] = cv::Mat(600, 832, CV_8UC3, cv::Scalar::all(0));
    staging[side].create(600, 832, CV_8UC4);
    backBuffers[side].resize(staging[side].total() * 4);
  }
  long counted = 0, passes = 0;
  for (auto _ : state) {
    Deliver(state, rig, newFrames);
    const long before = allocations.load();
    cv::Mat views[2];
    reference.Run(*rig.capture, views);
    for (int side = 0; side < 2; ++side) {
      views[side].copyTo(compositions[side](cv::Rect(0, 0, 800, 600)));
      cv::cvtColor(compositions[side], staging[side], cv::COLOR_BGR2BGRA);
      std::memcpy(backBuffers[side].data(), staging[side].data, backBuffers[side].size());
    }
    benchmark::DoNotOptimize(backBuffers[0].data());
    benchmark::DoNotOptimize(backBuffers[1].data());
    counted += allocations.load() - before;
    ++passes;
  }
  state.counters["allocs_per_pass"] = static_cast<double>(counted) / static_cast<double>(passes);
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

// Keeps each benchmark's wall times per pass (of every repetition, or the medians when only
// aggregates are reported) for the ratios printed after the run.
class Recorder : public benchmark::ConsoleReporter {
 public:
  Recorder() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const std::string name = run.run_name.function_name;
      if (run.run_type == Run::RT_Iteration) {
        times_[name].push_back(run.GetAdjustedRealTime());
      } else if (run.aggregate_name == "median") {
        medians_[name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // Zero when the benchmark did not run.
  double Median(const std::string& name) {
    std::vector<double>& times = times_[name];
    if (times.empty()) return medians_.count(name) ? medians_[name] : 0.0;
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    return n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
  }

 private:
  std::map<std::string, std::vector<double>> times_;
  std::map<std::string, double> medians_;
};

void PrintRatio(Recorder& recorder, const char* what, const char* pass, const char* baseline) {
  const double ours = recorder.Median(pass), theirs = recorder.Median(baseline);
  if (ours > 0 && theirs > 0) std::printf("ratio, %s: %.2f (%.3f ms / %.3f ms)\n", what, ours / theirs, ours, theirs);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Recorder recorder;
  benchmark::RunSpecifiedBenchmarks(&recorder);
  std::fflush(stdout);
  PrintRatio(recorder, "two new frames", "BM_FrameStep_TwoNewFrames", "BM_Baseline_TwoNewFrames");
  PrintRatio(recorder, "no new frame", "BM_FrameStep_NoNewFrame", "BM_Baseline_NoNewFrame");
  benchmark::Shutdown();
  return 0;
}
