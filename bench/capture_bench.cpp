// Frame hand-over costs at the viewer's frame size, against a plain copy of the same bytes.
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "capture/capture_manager.h"
#include "capture/frame_mailbox.h"
#include "testing/fake_cameras.h"

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

// A frame stored into an empty mailbox and taken out again without being written anywhere (the two
// lock round trips of every frame, and the copy in).
void BM_MailboxStoreAndTake(benchmark::State& state) {
  const std::vector<unsigned char> source = Pattern();
  capture::FrameMailbox mailbox;
  mailbox.Allocate(kFrameBytes);
  for (auto _ : state) {
    mailbox.Store(source.data(), source.size());
    if (!mailbox.Take(std::chrono::milliseconds(0), nullptr)) state.SkipWithError("frame not stored");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kFrameBytes);
}
BENCHMARK(BM_MailboxStoreAndTake);

// GetPixels with the vertical flip the frame step asks for, through an opened device of the manager;
// a frame is pushed before each take, with the clock paused.
void BM_GetPixelsFlip(benchmark::State& state) {
  auto cameras = std::make_shared<testkit::FakeCameras>();
  cameras->Add().capabilities = {testkit::Sizes(capture::MEDIASUBTYPE_RGB24, kWidth, kHeight)};
  capture::CaptureManager manager(cameras->Backend());
  const std::vector<unsigned char> frame = Pattern();
  if (!manager.OpenDevice(0, kWidth, kHeight)) {
    state.SkipWithError("device did not open");
    return;
  }
  std::vector<unsigned char> destination(kFrameBytes);
  for (auto _ : state) {
    state.PauseTiming();
    cameras->Push(0, frame);
    state.ResumeTiming();
    if (!manager.GetPixels(0, destination.data(), false, true)) state.SkipWithError("no frame");
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
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
