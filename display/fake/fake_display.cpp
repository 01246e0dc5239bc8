#include "display/fake/fake_display.h"

#include <algorithm>
#include <string>

namespace fake {

namespace {

display::HRESULT Next(std::deque<display::HRESULT>& script, display::HRESULT otherwise) {
  if (script.empty()) return otherwise;
  const display::HRESULT result = script.front();
  script.pop_front();
  return result;
}

// Surfaces and devices keep the state alive, so one that outlives its driver stays valid.
class FakeSurface : public display::Surface {
 public:
  FakeSurface(std::shared_ptr<DisplayState> state, int adapter) : state_(std::move(state)), adapter_(adapter) {
    ++script().surfacesAlive;
  }
  ~FakeSurface() override { --script().surfacesAlive; }

  display::HRESULT LockRect(display::LockedRect* locked) override {
    ++script().locks;
    if (script().lockResult < 0) return script().lockResult;
    locked->Pitch = script().pitch;
    locked->pBits = script().memory.data();
    return script().lockResult;
  }
  display::HRESULT UnlockRect() override {
    ++script().unlocks;
    return display::D3D_OK;
  }

 private:
  DeviceScript& script() { return state_->adapters[adapter_]; }

  std::shared_ptr<DisplayState> state_;
  int adapter_;
};

class FakeDevice : public display::Device {
 public:
  FakeDevice(std::shared_ptr<DisplayState> state, int adapter) : state_(std::move(state)), adapter_(adapter) {
    script().exists = true;
    script().memory.assign(state_->BackBufferBytes(adapter_) + kGuardBytes, kGuardByte);
  }
  ~FakeDevice() override {
    script().exists = false;
    Record(state_->log, "display: release device on adapter " + std::to_string(adapter_));
  }

  display::HRESULT TestCooperativeLevel() override {
    ++script().cooperativeTests;
    return Next(script().cooperativeLevels, display::D3D_OK);
  }
  display::HRESULT Reset(const display::PresentParameters& parameters) override {
    ++script().resets;
    script().resetParameters = parameters;
    script().resetTimes.push_back(std::chrono::steady_clock::now());
    Record(state_->log, "display: reset adapter " + std::to_string(adapter_));
    return Next(script().resetResults, script().resetResult);
  }
  display::HRESULT Clear(std::uint32_t color) override {
    ++script().clears;
    script().lastClearColor = color;
    Record(state_->log, "display: clear adapter " + std::to_string(adapter_));
    const std::size_t bytes = state_->BackBufferBytes(adapter_);
    for (std::size_t i = 0; i < bytes; ++i) script().memory[i] = static_cast<std::uint8_t>(color >> (8 * (i % 4)));
    return script().clearResult;
  }
  display::HRESULT Present() override {
    ++script().presents;
    Record(state_->log, "display: present adapter " + std::to_string(adapter_));
    if (script().keepPresented) {
      const auto begin = script().memory.begin();
      script().presented.emplace_back(begin, begin + static_cast<std::ptrdiff_t>(state_->BackBufferBytes(adapter_)));
    }
    return script().presentResult;
  }
  display::HRESULT GetBackBuffer(std::unique_ptr<display::Surface>* surface) override {
    ++script().backBufferRequests;
    const display::HRESULT result = Next(script().getBackBufferResults, script().getBackBufferResult);
    if (result != display::D3D_OK) return result;
    *surface = std::make_unique<FakeSurface>(state_, adapter_);
    return display::D3D_OK;
  }

 private:
  DeviceScript& script() { return state_->adapters[adapter_]; }

  std::shared_ptr<DisplayState> state_;
  int adapter_;
};

class FakeDisplaySystem : public display::DisplaySystem {
 public:
  FakeDisplaySystem(std::shared_ptr<DisplayState> state, int index) : state_(std::move(state)), index_(index) {}
  ~FakeDisplaySystem() override { Record(state_->log, "display: release system " + std::to_string(index_)); }

  display::HRESULT CreateDevice(int adapter, void* focusWindow, const display::PresentParameters& parameters,
                                std::unique_ptr<display::Device>* device) override {
    Record(state_->log, "display: create device on adapter " + std::to_string(adapter));
    if (adapter < 0 || adapter > 1) return display::D3DERR_INVALIDCALL;
    DeviceScript& script = state_->adapters[adapter];
    script.createParameters = parameters;
    script.focusWindow = focusWindow;
    if (script.createResult != display::D3D_OK) return script.createResult;
    if (script.createReturnsNoDevice) return display::D3D_OK;
    *device = std::make_unique<FakeDevice>(state_, adapter);
    return display::D3D_OK;
  }

 private:
  std::shared_ptr<DisplayState> state_;
  int index_;
};

}  // namespace

void DisplayState::FillBackBuffer(int adapter, std::uint8_t value) {
  std::fill_n(adapters[adapter].memory.begin(), BackBufferBytes(adapter), value);
}

bool DisplayState::GuardIntact(int adapter) const {
  const DeviceScript& s = adapters[adapter];
  if (s.memory.size() < kGuardBytes) return false;
  return std::all_of(s.memory.end() - static_cast<std::ptrdiff_t>(kGuardBytes), s.memory.end(),
                     [](std::uint8_t b) { return b == kGuardByte; });
}

std::unique_ptr<display::DisplaySystem> FakeDisplayDriver::Create() {
  const int index = state_->systemsCreated++;
  Record(state_->log, "display: create system " + std::to_string(index));
  if (std::find(state_->failSystemAt.begin(), state_->failSystemAt.end(), index) != state_->failSystemAt.end())
    return nullptr;
  return std::make_unique<FakeDisplaySystem>(state_, index);
}

}  // namespace fake
