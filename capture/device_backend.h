// The per-platform part of the capture graph: the list of video input devices and their source
// filters. Everything else of the graph (filter graph, builder, sample grabber, null renderer, tee,
// colour converter) is shared code that DeviceBackend creates by default.
//
// A backend either writes a source filter of its own (a BaseFilter), or implements a SourceDevice and
// wraps it with DeviceSourceFilter::Create (capture/device_source_filter.h), which supplies the pins,
// the connection protocol, the state changes and the fan-out of frames.
#pragma once

#include <memory>
#include <string>

#include "capture/capture_graph.h"

namespace capture {

// One video input device of a device list.
class DeviceEntry {
 public:
  virtual ~DeviceEntry() = default;
  // Opens the device's description. A device that fails here is neither counted nor found.
  virtual HRESULT Probe() = 0;
  // The device's friendly name in UTF-16 units, without a terminating zero.
  virtual HRESULT ReadFriendlyName(std::u16string* name) = 0;
  // Creates the device's source filter (not yet in any graph).
  virtual HRESULT BindSourceFilter(std::shared_ptr<BaseFilter>* filter) = 0;
};

// A snapshot of the video input devices in a stable order: the same devices always come in the same
// order, so a position is a device number.
class DeviceList {
 public:
  virtual ~DeviceList() = default;
  // S_OK and the next device; S_FALSE when none is left; negative on an error.
  virtual HRESULT Next(std::unique_ptr<DeviceEntry>* device) = 0;
};

class DeviceBackend {
 public:
  DeviceBackend() = default;
  DeviceBackend(const DeviceBackend&) = delete;
  DeviceBackend& operator=(const DeviceBackend&) = delete;
  virtual ~DeviceBackend() = default;

  // Per-thread set-up of the platform's component system, balanced by UninitializeThread. Linux has
  // none; RPC_E_CHANGED_MODE means the thread was already set up in a way that may limit threading.
  virtual HRESULT InitializeThread() { return S_OK; }
  virtual void UninitializeThread() {}

  // S_OK and the device list; S_FALSE when there is no video input device at all; negative when the
  // devices cannot be listed.
  virtual HRESULT OpenDeviceList(std::unique_ptr<DeviceList>* list) = 0;

  // The shared objects of a capture graph. The defaults create the platform-neutral implementations;
  // a backend overrides them only to observe or script them (tests).
  virtual HRESULT CreateCaptureGraphBuilder(std::unique_ptr<CaptureGraphBuilder>* builder);
  virtual HRESULT CreateFilterGraph(std::shared_ptr<FilterGraph>* graph);
  virtual HRESULT CreateSampleGrabber(std::shared_ptr<BaseFilter>* filter);
  virtual HRESULT CreateNullRenderer(std::shared_ptr<BaseFilter>* filter);
};

// Where a SourceDevice hands its frames.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // One frame in the stream's current format (RGB24: packed rows, bottom row first, blue green red).
  // Called on the device's streaming thread, one call at a time.
  virtual HRESULT Deliver(MediaSample& sample) = 0;
};

// The device side of a source filter built by DeviceSourceFilter.
class SourceDevice {
 public:
  SourceDevice() = default;
  SourceDevice(const SourceDevice&) = delete;
  SourceDevice& operator=(const SourceDevice&) = delete;
  virtual ~SourceDevice() = default;

  // The stream of the capture pin. Its current format is what the pin offers when it is connected.
  virtual StreamConfig& CaptureStream() = 0;
  // The stream of a separate preview pin; null when the device has only a capture pin (then the
  // builder puts a tee behind the capture pin for a preview connection).
  virtual StreamConfig* PreviewStream() { return nullptr; }
  // The device's input selector; null when it has a single input.
  virtual Crossbar* InputSwitch() { return nullptr; }

  // Starts delivering frames to `sink` from the device's own thread and returns without waiting for
  // the first frame. Called when the graph runs; a second call while streaming changes nothing.
  virtual HRESULT StartStreaming(FrameSink& sink) = 0;
  // Ends delivery: returns only when no Deliver call runs and none will follow. Safe to repeat, and
  // called by the filter's destruction as well.
  virtual void StopStreaming() = 0;
};

}  // namespace capture
