// Frame hand-over costs at the viewer's frame size, against a plain copy of the same bytes.
#include <cstring>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "capture/capture_manager.h"
#include "capture/fake/scripted_capture.h"

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr long kFrameBytes = kWidth * kHeight * 3;  // 2,359,296

std::vector<unsigned char> Pattern() {
  std::vector<unsigned char> bytes(kFrameBytes);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7);
  return bytes;
}

void BM_Memcpy(benchmark::State& state) {
  const std::vector<unsigned char> source = Pattern();
  std::vector<unsigned char> destination(kFrameBytes);
  for (auto _ : state) {
    std::memcpy(destination.data(), source.data(), kFrameBytes);
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kFrameBytes);
}
BENCHMARK(BM_Memcpy);

// SampleCB accepting a sample into an empty mailbox (the mailbox is emptied again between samples).
void BM_SampleCBAccept(benchmark::State& state) {
  std::vector<unsigned char> source = Pattern();
  capture::SampleGrabberCallback callback;
  callback.AllocateBuffer(kFrameBytes);
  capture::BufferSample sample(source.data(), kFrameBytes);
  for (auto _ : state) {
    callback.SampleCB(0.0, &sample);
    benchmark::ClobberMemory();
    state.PauseTiming();
    if (!callback.frameWaiting) state.SkipWithError("sample not accepted");
    callback.frameWaiting = false;
    callback.frameEvent.Reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * kFrameBytes);
}
BENCHMARK(BM_SampleCBAccept);

// SampleCB without pausing the clock: accept plus emptying the mailbox by hand (two lock round trips).
void BM_SampleCBAcceptAndEmpty(benchmark::State& state) {
  std::vector<unsigned char> source = Pattern();
  capture::SampleGrabberCallback callback;
  callback.AllocateBuffer(kFrameBytes);
  capture::BufferSample sample(source.data(), kFrameBytes);
  for (auto _ : state) {
    callback.SampleCB(0.0, &sample);
    {
      std::lock_guard<std::mutex> lock(callback.frameLock);
      callback.frameWaiting = false;
    }
    callback.frameEvent.Reset();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kFrameBytes);
}
BENCHMARK(BM_SampleCBAcceptAndEmpty);

// GetPixels with the vertical flip the frame step asks for, through an opened device of the manager.
// The waiting frame is marked by hand so that only the taking is measured.
void BM_GetPixelsFlip(benchmark::State& state) {
  auto system = std::make_shared<fake::FakeCameraSystem>();
  fake::CameraScript& camera = system->AddCamera();
  camera.capture.capabilities = {fake::FixedSize(capture::MEDIASUBTYPE_RGB24, kWidth, kHeight)};
  capture::CaptureManager manager(std::make_unique<fake::ScriptedCaptureBackend>(system));
  if (!manager.OpenDevice(0, kWidth, kHeight) || !system->Push(0, Pattern())) {
    state.SkipWithError("device did not open");
    return;
  }
  capture::SampleGrabberCallback& callback = *manager.DeviceRecord(0)->pCallback;
  std::vector<unsigned char> destination(kFrameBytes);
  for (auto _ : state) {
    if (!manager.GetPixels(0, destination.data(), false, true)) state.SkipWithError("no frame");
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
    {
      std::lock_guard<std::mutex> lock(callback.frameLock);
      callback.frameWaiting = true;
    }
    callback.frameEvent.Set();
  }
  state.SetBytesProcessed(state.iterations() * kFrameBytes);
}
BENCHMARK(BM_GetPixelsFlip);

void BM_ConvertPixelsFlip(benchmark::State& state) {
  const std::vector<unsigned char> source = Pattern();
  std::vector<unsigned char> destination(kFrameBytes);
  for (auto _ : state) {
    capture::CaptureManager::ConvertPixels(source.data(), destination.data(), kWidth, kHeight, false, true);
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kFrameBytes);
}
BENCHMARK(BM_ConvertPixelsFlip);

void BM_ConvertPixelsSwapFlip(benchmark::State& state) {
  const std::vector<unsigned char> source = Pattern();
  std::vector<unsigned char> destination(kFrameBytes);
  for (auto _ : state) {
    capture::CaptureManager::ConvertPixels(source.data(), destination.data(), kWidth, kHeight, true, true);
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kFrameBytes);
}
BENCHMARK(BM_ConvertPixelsSwapFlip);

}  // namespace

BENCHMARK_MAIN();
