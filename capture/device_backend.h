// The seam under the capture graph: a list of video input devices, and the source device each one
// opens to (its capabilities, its stream format and its frames). The V4L2 cameras, the virtual
// cameras and the tests' fake cameras are backends.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/hresult.h"
#include "capture/media_subtypes.h"

namespace capture {

// A range of frame sizes a device offers in one subtype: min, min + step, ... up to max per axis.
struct Capability {
  GUID subtype;
  int minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
  int stepX = 1, stepY = 1;
};

struct StreamFormat {
  GUID subtype;
  int width = 0, height = 0;
};

// The camera settings that make two cameras' pictures alike; each may have an automatic mode.
enum class ControlKind { kExposure, kGain, kWhiteBalance, kFocus };
inline constexpr ControlKind kControlKinds[] = {ControlKind::kExposure, ControlKind::kGain, ControlKind::kWhiteBalance,
                                                ControlKind::kFocus};

// "exposure", "gain", "white balance", "focus".
const char* ControlName(ControlKind kind);

struct Control {
  ControlKind kind = ControlKind::kExposure;
  int minimum = 0, maximum = 0, step = 1;
  int value = 0;              // now
  bool hasAutomatic = false;  // the camera has an automatic mode for it
  bool automatic = false;     // and that mode is on
};

// Where a source device hands its frames.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // One frame: packed RGB24 rows, bottom row first, blue green red, and when the camera took it
  // (steady clock). Called on the device's streaming thread, one call at a time.
  virtual void Deliver(const std::uint8_t* data, std::size_t length,
                       std::chrono::steady_clock::time_point captured) = 0;
  // A frame whose capture time is its arrival.
  void Deliver(const std::uint8_t* data, std::size_t length) {
    Deliver(data, length, std::chrono::steady_clock::now());
  }
};

// An opened video input device. Used on the thread that opens it, apart from the frames it delivers.
class SourceDevice {
 public:
  SourceDevice() = default;
  SourceDevice(const SourceDevice&) = delete;
  SourceDevice& operator=(const SourceDevice&) = delete;
  virtual ~SourceDevice() = default;

  virtual std::vector<Capability> Capabilities() const = 0;
  // S_OK and the stream's current format; S_FALSE when the device cannot describe it completely; a
  // failure when it cannot be read.
  virtual HRESULT GetFormat(StreamFormat* format) const = 0;
  // True when the stream takes exactly this format (and now delivers in it).
  virtual bool SetFormat(const StreamFormat& format) = 0;
  // Frames of the current format can be delivered as RGB24.
  virtual bool DeliversRgb24() const = 0;
  // A preview stream of its own; without one, the graph splits the capture stream with a tee.
  virtual bool HasPreviewPin() const { return false; }
  // Starts delivering to `sink` from the device's own thread; returns without waiting for a frame.
  virtual HRESULT StartStreaming(FrameSink& sink) = 0;
  // Returns only when no Deliver call runs and none will follow. Safe to repeat.
  virtual void StopStreaming() = 0;
  // The device went away (unplugged) while streaming; nothing more will come from it.
  virtual bool Lost() const { return false; }

  // The controls the device has, of the kinds above.
  virtual std::vector<Control> Controls() const { return {}; }
  // Switches the control's automatic mode off and sets its value; false when the device refuses.
  virtual bool SetManual(ControlKind kind, int value) { return false; }
};

struct DeviceEntry {
  std::u16string name;  // the friendly name
  std::function<HRESULT(std::unique_ptr<SourceDevice>*)> open;
  std::string path;                      // the device node, when the device has one
  std::vector<std::string> stablePaths;  // links to it that survive replugging (by id, by path)
};

class DeviceBackend {
 public:
  DeviceBackend() = default;
  DeviceBackend(const DeviceBackend&) = delete;
  DeviceBackend& operator=(const DeviceBackend&) = delete;
  virtual ~DeviceBackend() = default;

  // The devices present, in a stable order: the same devices always come in the same order, so a
  // position is a device number.
  virtual std::vector<DeviceEntry> ListDevices() = 0;
};

}  // namespace capture
