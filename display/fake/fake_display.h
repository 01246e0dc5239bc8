// Scripted display backend for tests: failures per call, cooperative-level sequences, chosen
// pitches, and a record of every presented back buffer.
#pragma once

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
  display::HRESULT resetResult = display::D3D_OK;
  display::HRESULT getBackBufferResult = display::D3D_OK;
  display::HRESULT lockResult = display::D3D_OK;
  int pitch = 3200;

  // Observations.
  bool exists = false;
  int resets = 0;
  int presents = 0;
  int clears = 0;
  int locks = 0, unlocks = 0, surfacesAlive = 0;
  std::uint32_t lastClearColor = 0;
  display::PresentParameters createParameters, resetParameters;
  // The back buffer (600 rows of `pitch` bytes) followed by a guard region that must stay untouched.
  std::vector<std::uint8_t> memory;
  std::vector<std::vector<std::uint8_t>> presented;  // back buffer (without guard) at each Present
  bool keepPresented = true;
};

inline constexpr std::size_t kGuardBytes = 4096;
inline constexpr std::uint8_t kGuardByte = 0xA5;

struct DisplayState {
  int systemsCreated = 0;
  // Display-system creations (0 first) that return null.
  std::vector<int> failSystemAt;
  DeviceScript adapters[2];
  CallLog* log = nullptr;

  bool GuardIntact(int adapter) const;
  // Byte at (row, byte offset) of the most recently presented back buffer of an adapter.
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
