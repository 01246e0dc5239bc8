// The capture layer's top object: 20 device slots, opening (graph construction and format
// negotiation), frame hand-over and closing.
//
// All operations run on the thread that created the manager; only the devices' SampleCB calls come
// from their graphs' streaming threads (see SampleGrabberCallback).
#pragma once

#include <array>
#include <chrono>
#include <memory>

#include "capture/capture_device.h"
#include "capture/device_backend.h"

namespace capture {

// Diagnostic switch of the capture layer: "SETUP:" and "ERROR" lines on standard output. Off; the one
// message printed regardless is the sample-size mismatch of SampleCB.
extern bool verbose;
// Live users of the platform's component system in this process (one per manager).
extern int comUseCount;

// Raises comUseCount, setting up the calling thread through `platform` when it is the first user.
void InitializeCom(DeviceBackend& platform);
// Lowers comUseCount; at zero releases the thread's set-up and returns true.
bool UninitializeCom(DeviceBackend& platform);

inline constexpr int kDeviceSlots = 20;
inline constexpr int kCaptureSubtypeCount = 18;
inline constexpr double kCaptureLayerVersion = 0.1991;

class CaptureManager {
 public:
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
  void CloseDevice(int deviceNumber);
  // The device number is below the latest count and the device's graph runs.
  bool IsDeviceReady(int deviceNumber) const;
  // Video input devices present whose description can be opened.
  int CountDevices();

  // Graph construction of one device: 0 when the graph runs, otherwise the failing call's result (or
  // 1 when the stream has no configuration). Closes the device on every failure but the first step's.
  int BuildGraph(int deviceNumber, CaptureDevice& device);
  // Binds the source filter of device `deviceNumber` and reads its friendly name into both buffers.
  HRESULT FindDevice(std::shared_ptr<BaseFilter>* sourceFilter, int deviceNumber,
                     char16_t (&wideName)[kDeviceNameLength], char (&narrowName)[kDeviceNameLength]);
  // Routes the crossbar in front of `sourceFilter` to the input of `connectionType`.
  HRESULT RouteCrossbar(CaptureGraphBuilder* captureBuilder, BaseFilter* sourceFilter, int connectionType,
                        GUID category);
  // Sets the stream of `device` to the requested size (or the closest offered) and the first subtype
  // it accepts, and fixes the device's frame size.
  void NegotiateFormat(CaptureDevice& device);

  // Copies a packed 24-bit frame, optionally exchanging red and blue and reversing the row order.
  static void ConvertPixels(const unsigned char* source, unsigned char* destination, int width, int height,
                            bool swapRedBlue, bool flipVertical);

  // Inspection, for diagnostics and tests.
  int deviceCount() const { return deviceCount_; }
  const GUID& pinCategory() const { return pinCategory_; }
  const std::array<GUID, kCaptureSubtypeCount>& captureSubtypes() const { return captureSubtypes_; }
  // The record of a slot; null for numbers outside 0..19. Replaced by CloseDevice.
  CaptureDevice* DeviceRecord(int deviceNumber);
  const CaptureDevice* DeviceRecord(int deviceNumber) const;

 private:
  bool ValidSlot(int deviceNumber) const { return deviceNumber >= 0 && deviceNumber < kDeviceSlots; }
  // Leaves the device's frame waiting state, optionally writing the frame; shared by GetPixels and
  // DiscardFrame.
  bool TakeFrame(int deviceNumber, unsigned char* destination, bool swapRedBlue, bool flipVertical);

  std::unique_ptr<DeviceBackend> backend_;
  int deviceCount_ = 0;
  GUID pinCategory_{};
  std::array<std::unique_ptr<CaptureDevice>, kDeviceSlots> deviceSlots_;
  std::array<GUID, kCaptureSubtypeCount> captureSubtypes_{};
};

}  // namespace capture
