#include "capture/capture_manager.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "capture/capture_log.h"

namespace capture {

bool verbose = false;

void VerbosePrintf(const char* format, ...) {
  if (!verbose) return;
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
}

namespace {

class NoDevices final : public DeviceBackend {
 public:
  std::vector<DeviceEntry> ListDevices() override { return {}; }
};

constexpr auto kFrameWait = std::chrono::milliseconds(1000);
constexpr double kCaptureLayerVersion = 0.1991;

}  // namespace

CaptureManager::CaptureManager(std::unique_ptr<DeviceBackend> backend)
    : backend_(backend ? std::move(backend) : std::make_unique<NoDevices>()) {
  VerbosePrintf("\n***** KESTRALINE LIBRARY - %2.04f - QELIX *****\n\n", kCaptureLayerVersion);
}

CaptureManager::~CaptureManager() {
  for (auto& slot : slots_) slot.reset();
}

bool CaptureManager::OpenDevice(int deviceNumber, int width, int height) {
  if (!ValidSlot(deviceNumber) || slots_[deviceNumber]) return false;
  deviceCount_ = CountDevices();
  if (deviceNumber > deviceCount_ - 1) {
    VerbosePrintf("SETUP: device[%i] not found - you have %i devices available\n", deviceNumber, deviceCount_);
    VerbosePrintf("SETUP: this means that the last device you can use is device[%i] \n", deviceCount_ - 1);
    return false;
  }
  auto graph = std::make_unique<CaptureGraph>(deviceNumber, width, height);
  if (!graph->Build(*backend_)) return false;  // the graph's teardown runs as it goes
  slots_[deviceNumber] = std::move(graph);
  return true;
}

int CaptureManager::CountDevices() { return static_cast<int>(backend_->ListDevices().size()); }

bool CaptureManager::IsDeviceReady(int deviceNumber) const {
  return ValidSlot(deviceNumber) && deviceNumber < deviceCount_ && slots_[deviceNumber];
}

bool CaptureManager::HasNewFrame(int deviceNumber) {
  CaptureGraph* graph = Ready(deviceNumber);
  return graph && graph->mailbox().HasFrame();
}

bool CaptureManager::GetPixels(int deviceNumber, unsigned char* destination, bool swapRedBlue, bool flipVertical) {
  CaptureGraph* graph = Ready(deviceNumber);
  if (!graph || !destination) return false;
  // The reader captures one reference, so that it is kept without the heap on every take.
  const struct {
    const CaptureGraph* graph;
    unsigned char* destination;
    bool swapRedBlue, flipVertical;
  } copy{graph, destination, swapRedBlue, flipVertical};
  return graph->mailbox().Take(kFrameWait, [&copy](const std::uint8_t* frame) {
    ConvertPixels(frame, copy.destination, copy.graph->frameWidth(), copy.graph->frameHeight(), copy.swapRedBlue,
                  copy.flipVertical);
  });
}

bool CaptureManager::DiscardFrame(int deviceNumber) {
  return HasNewFrame(deviceNumber) && slots_[deviceNumber]->mailbox().Take(kFrameWait, nullptr);
}

bool CaptureManager::GetFrameSize(int deviceNumber, int* width, int* height) const {
  const CaptureGraph* graph = Ready(deviceNumber);
  if (!graph || graph->frameBytes() <= 0) return false;
  if (width) *width = graph->frameWidth();
  if (height) *height = graph->frameHeight();
  return true;
}

std::chrono::steady_clock::time_point CaptureManager::LastFrameArrival(int deviceNumber) const {
  if (!ValidSlot(deviceNumber) || !slots_[deviceNumber]) return {};
  return slots_[deviceNumber]->mailbox().LastTakenArrival();
}

std::chrono::steady_clock::time_point CaptureManager::LastFrameCapture(int deviceNumber) const {
  if (!ValidSlot(deviceNumber) || !slots_[deviceNumber]) return {};
  return slots_[deviceNumber]->mailbox().LastTakenCapture();
}

bool CaptureManager::NextFrameDue(int deviceNumber, std::chrono::steady_clock::time_point* due,
                                  std::chrono::steady_clock::duration* period) const {
  const CaptureGraph* graph = Ready(deviceNumber);
  return graph && graph->mailbox().NextFrameDue(due, period);
}

bool CaptureManager::WaitForFrame(int deviceNumber, std::chrono::steady_clock::time_point deadline) const {
  const CaptureGraph* graph = Ready(deviceNumber);
  return graph && graph->mailbox().WaitForFrame(deadline);
}

std::vector<Control> CaptureManager::Controls(int deviceNumber) const {
  const CaptureGraph* graph = Ready(deviceNumber);
  return graph ? graph->Controls() : std::vector<Control>{};
}

bool CaptureManager::SetManual(int deviceNumber, ControlKind kind, int value) {
  CaptureGraph* graph = Ready(deviceNumber);
  return graph && graph->SetManual(kind, value);
}

bool CaptureManager::DeviceLost(int deviceNumber) const {
  const CaptureGraph* graph = Ready(deviceNumber);
  return graph && graph->DeviceLost();
}

DeviceEntry CaptureManager::Entry(int deviceNumber) const {
  if (!ValidSlot(deviceNumber) || !slots_[deviceNumber]) return {};
  return slots_[deviceNumber]->entry();
}

bool CaptureManager::Reopen(int deviceNumber, const DeviceEntry& entry, int width, int height) {
  if (!ValidSlot(deviceNumber) || slots_[deviceNumber]) return false;
  const std::vector<DeviceEntry> devices = backend_->ListDevices();
  for (std::size_t listed = 0; listed < devices.size(); ++listed) {
    if (!SameDevice(devices[listed], entry)) continue;
    auto graph = std::make_unique<CaptureGraph>(deviceNumber, width, height);
    if (!graph->Build(*backend_, static_cast<int>(listed))) return false;
    slots_[deviceNumber] = std::move(graph);
    return true;
  }
  return false;
}

bool SameDevice(const DeviceEntry& a, const DeviceEntry& b) {
  if (a.stablePaths.empty() || b.stablePaths.empty()) return !a.path.empty() && a.path == b.path;
  return std::any_of(a.stablePaths.begin(), a.stablePaths.end(), [&b](const std::string& path) {
    return std::find(b.stablePaths.begin(), b.stablePaths.end(), path) != b.stablePaths.end();
  });
}

void CaptureManager::CloseDevice(int deviceNumber) {
  if (ValidSlot(deviceNumber)) slots_[deviceNumber].reset();
}

}  // namespace capture
