// Scripted display backend for tests: failures per call, cooperative-level sequences, chosen
// pitches, and a record of every presented back buffer.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "app/fake/call_log.h"
#include "display/display_system.h"

namespace fake {

// What one device does, and what happened to it. Indexed by adapter in DisplayState.
struct DeviceScript {
  display::HRESULT createResult = display::D3D_OK;
  bool createReturnsNoDevice = false;
  // Results of successive TestCooperativeLevel calls; D3D_OK once exhausted.
  std::deque<display::HRESULT> cooperativeLevels;
  // Results of successive Reset calls; `resetResult` once exhausted.
  std::deque<display::HRESULT> resetResults;
  display::HRESULT resetResult = display::D3D_OK;
  // Results of successive GetBackBuffer calls; `getBackBufferResult` once exhausted.
  std::deque<display::HRESULT> getBackBufferResults;
  display::HRESULT getBackBufferResult = display::D3D_OK;
  // A negative result fails the lock; any other is returned with the surface described.
  display::HRESULT lockResult = display::D3D_OK;
  // Returned by Clear and Present, which still do their work (callers do not look at them).
  display::HRESULT clearResult = display::D3D_OK;
  display::HRESULT presentResult = display::D3D_OK;
  // Bytes between the starts of two back-buffer rows, as LockRect reports it.
  int pitch = 3200;
  // Copies the back buffer at every Present into `presented`; benchmarks turn it off.
  bool keepPresented = true;

  // Observations.
  bool exists = false;
  int cooperativeTests = 0;
  int resets = 0;
  int presents = 0;
  int clears = 0;
  int backBufferRequests = 0;
  int locks = 0, unlocks = 0, surfacesAlive = 0;
  std::uint32_t lastClearColor = 0;
  void* focusWindow = nullptr;
  display::PresentParameters createParameters, resetParameters;
  std::vector<std::chrono::steady_clock::time_point> resetTimes;
  // The back buffer (600 rows of `pitch` bytes) followed by a guard region that must stay untouched.
  std::vector<std::uint8_t> memory;
  std::vector<std::vector<std::uint8_t>> presented;  // back buffer (without guard) at each Present
};

inline constexpr std::size_t kGuardBytes = 4096;
inline constexpr std::uint8_t kGuardByte = 0xA5;
inline constexpr int kBackBufferRows = 600;

struct DisplayState {
  int systemsCreated = 0;
  // Display-system creations (0 first) that return null.
  std::vector<int> failSystemAt;
  DeviceScript adapters[2];
  CallLog* log = nullptr;

  // Size of the back buffer of an adapter without its guard region.
  std::size_t BackBufferBytes(int adapter) const {
    return static_cast<std::size_t>(adapters[adapter].pitch) * kBackBufferRows;
  }
  // Overwrites the back buffer (not the guard) of an adapter's device.
  void FillBackBuffer(int adapter, std::uint8_t value);
  bool GuardIntact(int adapter) const;
  // The most recently presented back buffer of an adapter.
  const std::vector<std::uint8_t>& LastPresented(int adapter) const { return adapters[adapter].presented.back(); }
};

class FakeDisplayDriver : public display::DisplayDriver {
 public:
  explicit FakeDisplayDriver(std::shared_ptr<DisplayState> state) : state_(std::move(state)) {}
  std::unique_ptr<display::DisplaySystem> Create() override;

 private:
  std::shared_ptr<DisplayState> state_;
};

}  // namespace fake
