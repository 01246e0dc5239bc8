// One frame step with the fake displays and scripted cameras, against the same work done the obvious
// way (whole-frame remaps into scratch images, a fresh matcher, compositions through 832 x 600
// images), measured in one run. Also counts heap allocations per pass.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include <benchmark/benchmark.h>

#include <opencv2/imgproc.hpp>

#include "stereo/convergence_follower.h"
#include "tests/support/stereo_rig.h"

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

using testing_support::StereoRig;

struct Inputs {
  std::vector<std::uint8_t> bottomUp[2];
  Inputs() {
    cv::Mat images[2];
    testing_support::TexturedPair(64, &images[0], &images[1]);
    for (int side = 0; side < 2; ++side) {
      cv::Mat flipped;
      cv::flip(images[side], flipped, 0);
      bottomUp[side].assign(flipped.datastart, flipped.dataend);
    }
  }
};

const Inputs& TheInputs() {
  static const Inputs inputs;
  return inputs;
}

std::unique_ptr<StereoRig> MakeRig() {
  stereo::ResetConvergenceFollower();
  auto rig = std::make_unique<StereoRig>();
  for (auto& adapter : rig->harness.display->adapters) adapter.keepPresented = false;
  return rig;
}

void Deliver(benchmark::State& state, StereoRig& rig, bool newFrames) {
  if (!newFrames) return;
  state.PauseTiming();
  rig.cameras->Push(0, TheInputs().bottomUp[0]);
  rig.cameras->Push(1, TheInputs().bottomUp[1]);
  state.ResumeTiming();
}

void FrameStep(benchmark::State& state, bool newFrames) {
  auto rig = MakeRig();
  for (int warm = 0; warm < 3; ++warm) {
    rig->cameras->Push(0, TheInputs().bottomUp[0]);
    rig->cameras->Push(1, TheInputs().bottomUp[1]);
    rig->viewer->FrameStep();
  }
  long counted = 0, passes = 0;
  for (auto _ : state) {
    Deliver(state, *rig, newFrames);
    const long before = allocations.load();
    rig->viewer->FrameStep();
    counted += allocations.load() - before;
    ++passes;
  }
  state.counters["allocs_per_pass"] = static_cast<double>(counted) / static_cast<double>(passes);
}

void Baseline(benchmark::State& state, bool newFrames) {
  auto rig = MakeRig();
  stereo::FollowerState follower;
  std::vector<std::uint8_t> backBuffer(3200 * 600);
  long counted = 0, passes = 0;
  for (auto _ : state) {
    Deliver(state, *rig, newFrames);
    const long before = allocations.load();
    cv::Mat views[2];
    testing_support::ReferenceFrameStep(*rig->viewer, follower, views);
    for (const cv::Mat& view : views)
      for (int r = 0; r < 600; ++r) std::memcpy(backBuffer.data() + 3200 * r, view.ptr(r), 3200);
    benchmark::DoNotOptimize(backBuffer.data());
    counted += allocations.load() - before;
    ++passes;
  }
  state.counters["allocs_per_pass"] = static_cast<double>(counted) / static_cast<double>(passes);
}

void BM_FrameStep_TwoNewFrames(benchmark::State& state) { FrameStep(state, true); }
void BM_FrameStep_NoNewFrame(benchmark::State& state) { FrameStep(state, false); }
void BM_Baseline_TwoNewFrames(benchmark::State& state) { Baseline(state, true); }
void BM_Baseline_NoNewFrame(benchmark::State& state) { Baseline(state, false); }

BENCHMARK(BM_FrameStep_TwoNewFrames)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Baseline_TwoNewFrames)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FrameStep_NoNewFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Baseline_NoNewFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
