#include "display/fake/fake_display.h"

#include <algorithm>
#include <string>

namespace fake {

namespace {

class FakeSurface : public display::Surface {
 public:
  FakeSurface(DeviceScript& script) : script_(script) { ++script_.surfacesAlive; }
  ~FakeSurface() override { --script_.surfacesAlive; }

  display::HRESULT LockRect(display::LockedRect* locked) override {
    ++script_.locks;
    if (script_.lockResult < 0) return script_.lockResult;
    locked->Pitch = script_.pitch;
    locked->pBits = script_.memory.data();
    return display::D3D_OK;
  }
  display::HRESULT UnlockRect() override {
    ++script_.unlocks;
    return display::D3D_OK;
  }

 private:
  DeviceScript& script_;
};

class FakeDevice : public display::Device {
 public:
  FakeDevice(DeviceScript& script, int adapter, CallLog* log) : script_(script), adapter_(adapter), log_(log) {
    script_.exists = true;
    script_.memory.assign(static_cast<std::size_t>(script_.pitch) * 600 + kGuardBytes, kGuardByte);
  }
  ~FakeDevice() override {
    script_.exists = false;
    Record(log_, "display: release device on adapter " + std::to_string(adapter_));
  }

  display::HRESULT TestCooperativeLevel() override {
    if (script_.cooperativeLevels.empty()) return display::D3D_OK;
    const display::HRESULT level = script_.cooperativeLevels.front();
    script_.cooperativeLevels.pop_front();
    return level;
  }
  display::HRESULT Reset(const display::PresentParameters& parameters) override {
    ++script_.resets;
    script_.resetParameters = parameters;
    Record(log_, "display: reset adapter " + std::to_string(adapter_));
    return script_.resetResult;
  }
  display::HRESULT Clear(std::uint32_t color) override {
    ++script_.clears;
    script_.lastClearColor = color;
    for (std::size_t i = 0; i < static_cast<std::size_t>(script_.pitch) * 600; ++i)
      script_.memory[i] = static_cast<std::uint8_t>(color >> (8 * (i % 4)));
    return display::D3D_OK;
  }
  display::HRESULT Present() override {
    ++script_.presents;
    if (script_.keepPresented)
      script_.presented.emplace_back(script_.memory.begin(),
                                     script_.memory.begin() + static_cast<std::ptrdiff_t>(script_.pitch) * 600);
    return display::D3D_OK;
  }
  display::HRESULT GetBackBuffer(std::unique_ptr<display::Surface>* surface) override {
    if (script_.getBackBufferResult != display::D3D_OK) return script_.getBackBufferResult;
    *surface = std::make_unique<FakeSurface>(script_);
    return display::D3D_OK;
  }

 private:
  DeviceScript& script_;
  int adapter_;
  CallLog* log_;
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
    if (script.createResult != display::D3D_OK) return script.createResult;
    if (script.createReturnsNoDevice) return display::D3D_OK;
    *device = std::make_unique<FakeDevice>(script, adapter, state_->log);
    return display::D3D_OK;
  }

 private:
  std::shared_ptr<DisplayState> state_;
  int index_;
};

}  // namespace

bool DisplayState::GuardIntact(int adapter) const {
  const DeviceScript& s = adapters[adapter];
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
