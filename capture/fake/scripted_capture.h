// Scripted capture backend for tests: cameras with names, capabilities and format rules, sources
// that deliver chosen samples (pushed by the test, or from a streaming thread at a chosen rate), and a
// chosen result for every call the capture layer checks. The shared graph objects are the real ones,
// wrapped only where a test scripts their results.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/device_backend.h"

namespace fake {

using capture::GUID;
using capture::HRESULT;
using capture::MediaType;
using capture::S_OK;

struct Capability {
  MediaType type;
  capture::VIDEO_STREAM_CONFIG_CAPS caps;
  HRESULT result = S_OK;  // GetStreamCaps fails with this when negative
};

// A capability covering min..max in steps.
Capability SizeRange(const GUID& subtype, int minWidth, int minHeight, int maxWidth, int maxHeight, int stepX,
                     int stepY);
// A capability of one size.
Capability FixedSize(const GUID& subtype, int width, int height);

// One output stream of a camera (its stream configuration).
struct StreamScript {
  MediaType current = capture::MakeVideoType(capture::MEDIASUBTYPE_RGB24, 640, 480);
  // Results of successive GetFormat calls; getFormatResult once they are used up.
  std::deque<HRESULT> getFormatResults;
  HRESULT getFormatResult = S_OK;
  std::vector<Capability> capabilities;
  int capsRecordSize = static_cast<int>(sizeof(capture::VIDEO_STREAM_CONFIG_CAPS));
  int capsCountOverride = -1;  // >= 0: the count reported instead of capabilities.size()
  HRESULT capsCountResult = S_OK;
  // Which offers the stream takes. Unset: a type whose subtype and size some capability offers.
  std::function<bool(const MediaType&)> accepts;
  HRESULT refusal = capture::E_FAIL;  // result of a refused SetFormat (may be a success code)

  // Observations.
  std::vector<MediaType> offers;  // every SetFormat, in order
};

// A crossbar input.
struct CrossbarInput {
  long physicalType = capture::PhysConn_Video_Composite;
  HRESULT infoResult = S_OK;
};

struct CameraScript {
  std::u16string name = u"Fake Camera";
  HRESULT probeResult = S_OK;
  HRESULT readNameResult = S_OK;
  HRESULT bindResult = S_OK;
  bool previewPin = false;
  StreamScript capture;
  StreamScript preview;  // used when previewPin

  bool hasCrossbar = false;
  std::vector<CrossbarInput> crossbarInputs;
  long crossbarOutputs = 1;
  HRESULT routeResult = S_OK;

  // Streaming. Manual: samples come only from FakeCameraSystem::Push; threaded: a streaming thread
  // delivers every `interval` (zero: as fast as it can).
  bool threaded = false;
  std::chrono::microseconds interval{0};
  std::vector<long> sampleLengths;  // cycled; empty: one frame of the delivering stream's format
  // Fills a threaded sample; default: every byte is the sample's index (mod 256).
  std::function<void(std::uint8_t* data, long length, std::uint64_t index)> content;
  HRESULT getPointerResult = S_OK;
  HRESULT startResult = S_OK;

  // Teardown faults: they act once the source has been paused or stopped.
  HRESULT enumPinsResult = S_OK;
  HRESULT peerPinInfoResult = S_OK;

  // Observations (written by the graph; the sample count, raised before each delivery, by the
  // streaming thread).
  std::vector<std::pair<long, long>> routes;  // (output, input)
  std::atomic<std::uint64_t> samplesDelivered{0};
  std::atomic<int> streamStarts{0};
  std::atomic<int> streamStops{0};
  std::atomic<int> sourcesAlive{0};

  StreamScript& DeliveringStream() { return previewPin ? preview : capture; }
};

class ScriptedSourceDevice;
class ScriptedCaptureBackend;

// Everything a test scripts and observes; shared by the backend and the objects it creates.
class FakeCameraSystem {
 public:
  CameraScript& AddCamera(std::u16string name = u"Fake Camera");
  // Removes camera `index` from the device list; a running graph of it goes on.
  void Unplug(int index);
  CameraScript& Camera(int index) { return *cameras_[static_cast<std::size_t>(index)]; }
  int CameraCount() const { return static_cast<int>(cameras_.size()); }

  // Delivers one sample from camera `index` on the calling thread, as its streaming thread would;
  // false when the camera is not streaming.
  bool Push(int index, const std::vector<std::uint8_t>& bytes);
  bool Push(int index, long length, std::uint8_t fill);

  // Results of the platform calls.
  HRESULT initializeThreadResult = S_OK;
  HRESULT listResult = S_OK;  // S_FALSE: no devices at all
  HRESULT createBuilderResult = S_OK;
  HRESULT createGraphResult = S_OK;
  HRESULT createGrabberResult = S_OK;
  HRESULT createRendererResult = S_OK;
  HRESULT setFiltergraphResult = S_OK;
  HRESULT queryMediaControlResult = S_OK;
  std::map<std::u16string, HRESULT> addFilterResults;  // by the name the filter is added under
  HRESULT findPreviewConfigResult = S_OK;              // FindStreamConfig with PIN_CATEGORY_PREVIEW
  HRESULT findConfigResult = S_OK;                     // FindStreamConfig with any other category
  bool findConfigGivesNothing = false;                 // succeeds without a configuration
  HRESULT renderStreamResult = S_OK;
  HRESULT runResult = S_OK;  // a success code is returned after running; a failure instead of running
  HRESULT pauseResult = S_OK;
  HRESULT stopResult = S_OK;  // a failure is returned without stopping
  HRESULT enumFiltersResult = S_OK;
  HRESULT removeFilterResult = S_OK;  // a failure leaves the filter; a success code is returned after removal
  HRESULT querySampleGrabberResult = S_OK;
  HRESULT setCallbackResult = S_OK;     // attaching
  HRESULT detachCallbackResult = S_OK;  // SetCallback(nullptr); a failure leaves the callback attached

  // Observations.
  int initializeThreadCalls = 0;
  int uninitializeThreadCalls = 0;
  int listOpens = 0;
  std::vector<std::string> log;  // grabber, graph and source calls in order
  void Log(std::string entry);
  std::vector<std::string> TakeLog();

 private:
  friend class ScriptedSourceDevice;
  friend class ScriptedCaptureBackend;
  std::mutex mutex_;  // guards live_ and log
  std::vector<std::shared_ptr<CameraScript>> cameras_;
  std::map<const CameraScript*, ScriptedSourceDevice*> live_;
};

class ScriptedCaptureBackend : public capture::DeviceBackend {
 public:
  explicit ScriptedCaptureBackend(std::shared_ptr<FakeCameraSystem> system) : system_(std::move(system)) {}

  HRESULT InitializeThread() override;
  void UninitializeThread() override;
  HRESULT OpenDeviceList(std::unique_ptr<capture::DeviceList>* list) override;
  HRESULT CreateCaptureGraphBuilder(std::unique_ptr<capture::CaptureGraphBuilder>* builder) override;
  HRESULT CreateFilterGraph(std::shared_ptr<capture::FilterGraph>* graph) override;
  HRESULT CreateSampleGrabber(std::shared_ptr<capture::BaseFilter>* filter) override;
  HRESULT CreateNullRenderer(std::shared_ptr<capture::BaseFilter>* filter) override;

 private:
  std::shared_ptr<FakeCameraSystem> system_;
};

}  // namespace fake
