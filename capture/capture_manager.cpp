#include "capture/capture_manager.h"

#include <cstdarg>
#include <cstdio>

#include "capture/capture_log.h"

namespace capture {

bool verbose = false;
int comUseCount = 0;

void VerbosePrintf(const char* format, ...) {
  if (!verbose) return;
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
}

namespace {

// Stands in when no backend was given: a machine without cameras.
class NoDevices final : public DeviceBackend {
 public:
  HRESULT OpenDeviceList(std::unique_ptr<DeviceList>* list) override {
    if (list) list->reset();
    return S_FALSE;
  }
};

constexpr auto kFrameWait = std::chrono::milliseconds(1000);

}  // namespace

void InitializeCom(DeviceBackend& platform) {
  if (comUseCount == 0 && platform.InitializeThread() == RPC_E_CHANGED_MODE)
    VerbosePrintf("SETUP - COM already setup - threaded KESTRALINE might not be possible\n");
  ++comUseCount;
}

bool UninitializeCom(DeviceBackend& platform) {
  if (comUseCount > 0) --comUseCount;
  if (comUseCount != 0) return false;
  platform.UninitializeThread();
  return true;
}

CaptureManager::CaptureManager(std::unique_ptr<DeviceBackend> backend)
    : backend_(backend ? std::move(backend) : std::make_unique<NoDevices>()) {
  InitializeCom(*backend_);
  deviceCount_ = 0;
  for (auto& slot : deviceSlots_) slot = std::make_unique<CaptureDevice>();
  VerbosePrintf("\n***** KESTRALINE LIBRARY - %2.04f - QELIX *****\n\n", kCaptureLayerVersion);
  captureSubtypes_ = {MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB32, MEDIASUBTYPE_RGB555, MEDIASUBTYPE_RGB565,
                      MEDIASUBTYPE_YUY2,  MEDIASUBTYPE_YVYU,  MEDIASUBTYPE_YUYV,   MEDIASUBTYPE_IYUV,
                      MEDIASUBTYPE_UYVY,  MEDIASUBTYPE_YV12,  MEDIASUBTYPE_YVU9,   MEDIASUBTYPE_Y411,
                      MEDIASUBTYPE_Y41P,  MEDIASUBTYPE_Y211,  MEDIASUBTYPE_AYUV,   MEDIASUBTYPE_Y800,
                      MEDIASUBTYPE_Y8,    MEDIASUBTYPE_GREY};
}

CaptureManager::~CaptureManager() {
  for (auto& slot : deviceSlots_) slot.reset();
  UninitializeCom(*backend_);
}

CaptureDevice* CaptureManager::DeviceRecord(int deviceNumber) {
  return ValidSlot(deviceNumber) ? deviceSlots_[deviceNumber].get() : nullptr;
}

const CaptureDevice* CaptureManager::DeviceRecord(int deviceNumber) const {
  return ValidSlot(deviceNumber) ? deviceSlots_[deviceNumber].get() : nullptr;
}

bool CaptureManager::OpenDevice(int deviceNumber, int width, int height) {
  if (!ValidSlot(deviceNumber)) return false;
  CaptureDevice& device = *deviceSlots_[deviceNumber];
  if (device.captureReady) return false;
  device.requestedWidth = width;
  device.requestedHeight = height;
  deviceCount_ = CountDevices();
  if (deviceNumber > deviceCount_ - 1) {
    VerbosePrintf("SETUP: device[%i] not found - you have %i devices available\n", deviceNumber, deviceCount_);
    VerbosePrintf("SETUP: this means that the last device you can use is device[%i] \n", deviceCount_ - 1);
    return false;
  }
  return BuildGraph(deviceNumber, device) == 0;
}

int CaptureManager::CountDevices() {
  std::unique_ptr<DeviceList> list;
  if (backend_->OpenDeviceList(&list) != S_OK || !list) return 0;
  int count = 0;
  std::unique_ptr<DeviceEntry> entry;
  while (list->Next(&entry) == S_OK) {
    if (entry && SUCCEEDED(entry->Probe())) ++count;
    entry.reset();
  }
  return count;
}

bool CaptureManager::IsDeviceReady(int deviceNumber) const {
  return ValidSlot(deviceNumber) && deviceNumber < deviceCount_ && deviceSlots_[deviceNumber]->captureReady;
}

bool CaptureManager::HasNewFrame(int deviceNumber) {
  if (!IsDeviceReady(deviceNumber)) return false;
  SampleGrabberCallback& callback = *deviceSlots_[deviceNumber]->pCallback;
  std::lock_guard<std::mutex> lock(callback.frameLock);
  return callback.frameWaiting;
}

bool CaptureManager::GetPixels(int deviceNumber, unsigned char* destination, bool swapRedBlue, bool flipVertical) {
  if (!IsDeviceReady(deviceNumber) || !destination) return false;
  return TakeFrame(deviceNumber, destination, swapRedBlue, flipVertical);
}

bool CaptureManager::DiscardFrame(int deviceNumber) {
  if (!HasNewFrame(deviceNumber)) return false;
  return TakeFrame(deviceNumber, nullptr, false, false);
}

bool CaptureManager::TakeFrame(int deviceNumber, unsigned char* destination, bool swapRedBlue, bool flipVertical) {
  CaptureDevice& device = *deviceSlots_[deviceNumber];
  SampleGrabberCallback& callback = *device.pCallback;
  // The event, not the flag, is the token of a stored frame: it is set only after the copy is complete.
  if (!callback.frameEvent.WaitFor(kFrameWait)) return false;
  {
    std::lock_guard<std::mutex> lock(callback.frameLock);
    if (destination)
      ConvertPixels(callback.frameCopy.get(), destination, device.frameWidth, device.frameHeight, swapRedBlue,
                    flipVertical);
    callback.frameWaiting = false;
    callback.takenArrival = callback.storedArrival;
  }
  callback.frameEvent.Reset();
  return true;
}

bool CaptureManager::GetFrameSize(int deviceNumber, int* width, int* height) const {
  if (!IsDeviceReady(deviceNumber)) return false;
  const CaptureDevice& device = *deviceSlots_[deviceNumber];
  if (device.frameBytes <= 0) return false;
  if (width) *width = device.frameWidth;
  if (height) *height = device.frameHeight;
  return true;
}

std::chrono::steady_clock::time_point CaptureManager::LastFrameArrival(int deviceNumber) const {
  if (!ValidSlot(deviceNumber)) return {};
  SampleGrabberCallback& callback = *deviceSlots_[deviceNumber]->pCallback;
  std::lock_guard<std::mutex> lock(callback.frameLock);
  return callback.takenArrival;
}

void CaptureManager::CloseDevice(int deviceNumber) {
  if (!ValidSlot(deviceNumber)) return;
  deviceSlots_[deviceNumber].reset();
  deviceSlots_[deviceNumber] = std::make_unique<CaptureDevice>();
}

}  // namespace capture
