// How far apart in time the two frames a pass shows were taken (the trace's skew_ms), with each
// pairing, for two synthetic cameras at 30 frames per second that are out of step (the right one
// starts a quarter or half a period later) and late by up to a few milliseconds now and then. The
// whole viewer runs (off-screen displays, identity maps); each run is 600 passes.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include <benchmark/benchmark.h>

#include "capture/synthetic/virtual_camera_backend.h"
#include "testing/stereo_rig.h"
#include "testing/viewer_harness.h"

namespace {

constexpr long kPasses = 600;

// Arguments: pairing (0 first, 1 closest), the right camera's phase in milliseconds, the jitter in
// milliseconds.
void PairSkew(benchmark::State& state) {
  cv::Mat pictures[2];
  testkit::TexturedPair(64, &pictures[0], &pictures[1]);
  std::vector<double> skews;
  long newPairs = 0;
  for (auto _ : state) {
    std::vector<capture::VirtualCamera> cameras(2);
    const auto epoch = std::chrono::steady_clock::now();
    for (int side = 0; side < 2; ++side) {
      cameras[side].epoch = epoch;
      cameras[side].name = side ? "right" : "left";
      cameras[side].phaseSeconds = side ? static_cast<double>(state.range(1)) / 1000.0 : 0.0;
      cameras[side].jitterSeconds = static_cast<double>(state.range(2)) / 1000.0;
      cameras[side].seed = 11u + side;
      cameras[side].render = [picture = pictures[side]](long, cv::Mat* image) { picture.copyTo(*image); };
    }
    testkit::ViewerHarness harness;
    app::ViewerConfig config = testkit::ViewerHarness::IdentityConfig();
    config.maxPasses = kPasses;
    config.pairing = state.range(0) ? stereo::Pairing::kClosest : stereo::Pairing::kFirst;
    app::WinMain(
        harness.MakePlatform(capture::MakeVirtualCameraBackend(cameras)), config, [&](app::StereoViewer& viewer) {
          const stereo::FrameStepRecord& r = viewer.lastStep();
          newPairs += r.newFrame[0] && r.newFrame[1];
          if (r.captured[0] == std::chrono::steady_clock::time_point{} ||
              r.captured[1] == std::chrono::steady_clock::time_point{})
            return;
          skews.push_back(std::abs(std::chrono::duration<double, std::milli>(r.captured[0] - r.captured[1]).count()));
        });
  }
  std::sort(skews.begin(), skews.end());
  double sum = 0;
  for (const double skew : skews) sum += skew;
  state.counters["skew_mean_ms"] = skews.empty() ? 0 : sum / static_cast<double>(skews.size());
  state.counters["skew_p50_ms"] = skews.empty() ? 0 : skews[skews.size() / 2];
  state.counters["skew_p95_ms"] = skews.empty() ? 0 : skews[skews.size() * 95 / 100];
  state.counters["both_new"] = static_cast<double>(newPairs);
  state.counters["passes_per_s"] = benchmark::Counter(static_cast<double>(kPasses), benchmark::Counter::kIsRate);
}

BENCHMARK(PairSkew)
    ->ArgNames({"closest", "phase_ms", "jitter_ms"})
    ->ArgsProduct({{0, 1}, {0, 8, 17}, {0, 5}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
