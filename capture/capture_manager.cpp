// PLACEHOLDER until the capture layer lands: no device is ever present.
#include "capture/capture_manager.h"

namespace capture {

CaptureManager::CaptureManager(std::unique_ptr<DeviceBackend> backend) : backend_(std::move(backend)) {}
CaptureManager::~CaptureManager() = default;
bool CaptureManager::OpenDevice(int, int, int) { return false; }
bool CaptureManager::HasNewFrame(int) { return false; }
bool CaptureManager::GetPixels(int, unsigned char*, bool, bool) { return false; }
bool CaptureManager::GetFrameSize(int, int*, int*) const { return false; }
bool CaptureManager::DiscardFrame(int) { return false; }
void CaptureManager::CloseDevice(int) {}
std::chrono::steady_clock::time_point CaptureManager::LastFrameArrival(int) const { return {}; }
bool CaptureManager::IsDeviceReady(int) const { return false; }

}  // namespace capture
