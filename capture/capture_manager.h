// The capture layer's top object: 20 device slots, each empty or holding the running graph of the
// device of that number; opening, frame hand-over and closing.
//
// All operations run on the thread that created the manager; only the frames come from the devices'
// streaming threads, through each graph's mailbox.
#pragma once

#include <array>
#include <chrono>
#include <memory>

#include "capture/capture_graph.h"
#include "capture/device_backend.h"

namespace capture {

// Diagnostic switch of the capture layer: "SETUP:" and "ERROR" lines on standard output. Off; the one
// message printed regardless is a frame of the wrong length.
extern bool verbose;

inline constexpr int kDeviceSlots = 20;

// Two list entries are one device: they share a stable path, or, when either has none, a node.
bool SameDevice(const DeviceEntry& a, const DeviceEntry& b);

class CaptureManager {
 public:
  // A null backend is a machine without cameras.
  explicit CaptureManager(std::unique_ptr<DeviceBackend> backend);
  ~CaptureManager();
  CaptureManager(const CaptureManager&) = delete;
  CaptureManager& operator=(const CaptureManager&) = delete;

  // Builds and runs the graph of device `deviceNumber` (0..19) at the requested size, or the closest
  // size it offers. False when the number is out of range, the device is already open, there is no
  // such device, or the graph cannot be built.
  bool OpenDevice(int deviceNumber, int width, int height);
  // A frame is waiting.
  bool HasNewFrame(int deviceNumber);
  // Waits up to 1000 ms for a frame and writes it to `destination` (frame width x height x 3 bytes,
  // rows packed). Stored frames are bottom row first, blue green red; the flags reorder them.
  bool GetPixels(int deviceNumber, unsigned char* destination, bool swapRedBlue, bool flipVertical);
  // Takes a waiting frame out without writing it anywhere; false when none was waiting.
  bool DiscardFrame(int deviceNumber);
  // Size of the frames the device delivers (fixed when it was opened); false when the device is not
  // ready or has no frame size.
  bool GetFrameSize(int deviceNumber, int* width, int* height) const;
  // When the frame most recently taken (GetPixels or DiscardFrame) arrived from its streaming thread;
  // the epoch when none has been taken since the device was opened.
  std::chrono::steady_clock::time_point LastFrameArrival(int deviceNumber) const;
  // When the camera took that frame (its own timestamp where it gives one, else the arrival).
  std::chrono::steady_clock::time_point LastFrameCapture(int deviceNumber) const;
  // When the device's next frame should arrive, and its frame period; false when not yet known.
  bool NextFrameDue(int deviceNumber, std::chrono::steady_clock::time_point* due,
                    std::chrono::steady_clock::duration* period) const;
  // Waits until a frame waits or `deadline` passes; true when one waits.
  bool WaitForFrame(int deviceNumber, std::chrono::steady_clock::time_point deadline) const;
  // The running device's controls; setting one by hand (its automatic mode off).
  std::vector<Control> Controls(int deviceNumber) const;
  bool SetManual(int deviceNumber, ControlKind kind, int value);
  // The device's stream ended because the device went away.
  bool DeviceLost(int deviceNumber) const;
  // The list entry the device was opened from (node and stable paths); empty when not open.
  DeviceEntry Entry(int deviceNumber) const;
  // Opens, into the free slot `deviceNumber`, the listed device that is `entry` again: the one with
  // one of its stable paths, or, when it had none, its node. False when none is there or it fails.
  bool Reopen(int deviceNumber, const DeviceEntry& entry, int width, int height);
  void CloseDevice(int deviceNumber);
  // The device number is below the latest count and the device's graph runs.
  bool IsDeviceReady(int deviceNumber) const;
  // Video input devices present.
  int CountDevices();

  // Copies a packed 24-bit frame, optionally exchanging red and blue and reversing the row order.
  static void ConvertPixels(const unsigned char* source, unsigned char* destination, int width, int height,
                            bool swapRedBlue, bool flipVertical);

 private:
  static bool ValidSlot(int deviceNumber) { return deviceNumber >= 0 && deviceNumber < kDeviceSlots; }
  CaptureGraph* Ready(int deviceNumber) const {
    return IsDeviceReady(deviceNumber) ? slots_[deviceNumber].get() : nullptr;
  }

  std::unique_ptr<DeviceBackend> backend_;
  int deviceCount_ = 0;  // as counted by the latest OpenDevice
  std::array<std::unique_ptr<CaptureGraph>, kDeviceSlots> slots_;
};

}  // namespace capture
