// The capture layer's top object: 20 device slots, opening, frame hand-over and closing.
// PLACEHOLDER CONTRACT: the capture layer replaces this file; the public operations below stay.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

namespace capture {

// The per-platform part of the capture graph: the device list and its source filters.
class DeviceBackend {
 public:
  virtual ~DeviceBackend() = default;
};

class CaptureManager {
 public:
  explicit CaptureManager(std::unique_ptr<DeviceBackend> backend);
  ~CaptureManager();
  CaptureManager(const CaptureManager&) = delete;
  CaptureManager& operator=(const CaptureManager&) = delete;

  bool OpenDevice(int deviceNumber, int width, int height);
  bool HasNewFrame(int deviceNumber);
  bool GetPixels(int deviceNumber, unsigned char* destination, bool swapRedBlue, bool flipVertical);
  // Size of the frames the device delivers (fixed when it was opened); false when not ready.
  bool GetFrameSize(int deviceNumber, int* width, int* height) const;
  // Takes a waiting frame out without writing it anywhere.
  bool DiscardFrame(int deviceNumber);
  void CloseDevice(int deviceNumber);
  std::chrono::steady_clock::time_point LastFrameArrival(int deviceNumber) const;
  bool IsDeviceReady(int deviceNumber) const;

 private:
  std::unique_ptr<DeviceBackend> backend_;
};

}  // namespace capture
