// The capture graph model: filters with pins joined into a graph, the builder that connects a source
// through the sample grabber to a renderer, and the interfaces the capture logic calls on them.
//
// Ownership. Filters are shared between the graph that holds them and whoever else keeps a reference
// (the capture device while it builds the graph, a pin handed out by an enumeration); they are created
// with std::make_shared and live until the last std::shared_ptr is dropped. Interfaces obtained from a
// filter or the graph (a pin, StreamConfig, Crossbar, SampleGrabber, MediaControl) are std::shared_ptr
// that share ownership of the object they belong to, so holding one keeps its filter or graph alive.
// Nothing is reference counted by hand. Copying is disabled on every object of the model.
//
// Threads. Graph building, state changes and teardown run on one thread (the one that opens and closes
// devices). Media samples travel from a source's streaming thread through Pin::Receive; functions that
// run there say so.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "capture/hresult.h"
#include "capture/media_types.h"

namespace capture {

class BaseFilter;
class FilterGraph;

// One frame travelling through the graph. Lives only for the call it is passed to.
class MediaSample {
 public:
  virtual ~MediaSample() = default;
  // S_OK and the sample's data.
  virtual HRESULT GetPointer(std::uint8_t** buffer) = 0;
  // Bytes of valid data (not the size of the buffer).
  virtual long GetActualDataLength() = 0;
};

// A sample over memory the caller owns.
class BufferSample final : public MediaSample {
 public:
  BufferSample(std::uint8_t* data, long length) : data_(data), length_(length) {}
  HRESULT GetPointer(std::uint8_t** buffer) override {
    if (!buffer) return E_POINTER;
    *buffer = data_;
    return S_OK;
  }
  long GetActualDataLength() override { return length_; }

 private:
  std::uint8_t* data_;
  long length_;
};

enum PinDirection { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

struct PIN_INFO {
  std::shared_ptr<BaseFilter> pFilter;  // the filter that owns the pin
  PinDirection dir = PINDIR_INPUT;
  std::u16string achName;
};

struct FILTER_INFO {
  std::u16string achName;         // at most 127 units
  FilterGraph* pGraph = nullptr;  // the graph the filter belongs to, not owned
};

class StreamConfig;

// A connection point of a filter. Output pins deliver samples to the input pin they are connected to.
class Pin {
 public:
  Pin() = default;
  Pin(const Pin&) = delete;
  Pin& operator=(const Pin&) = delete;
  virtual ~Pin() = default;

  // S_OK and the connected pin; VFW_E_NOT_CONNECTED and null when unconnected.
  virtual HRESULT ConnectedTo(std::shared_ptr<Pin>* peer) = 0;
  virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
  virtual HRESULT QueryDirection(PinDirection* direction) = 0;
  // The pin's category (PIN_CATEGORY_CAPTURE, PIN_CATEGORY_PREVIEW); E_NOTIMPL for pins without one.
  virtual HRESULT QueryCategory(GUID* category) = 0;
  // The media type of the current connection; VFW_E_NOT_CONNECTED when unconnected.
  virtual HRESULT ConnectionMediaType(MediaType* type) = 0;
  // The types the pin can offer or take, by index from 0; S_FALSE past the last.
  virtual HRESULT GetMediaType(int index, MediaType* type) = 0;
  // S_OK when the pin accepts the type for a connection, S_FALSE otherwise.
  virtual HRESULT QueryAccept(const MediaType& type) = 0;

  // Connection protocol, called by the graph. Connect on an output pin offers `type` (or, when null,
  // its own types in order) to `receivePin`, which answers through ReceiveConnection.
  virtual HRESULT Connect(const std::shared_ptr<Pin>& receivePin, const MediaType* type) = 0;
  virtual HRESULT ReceiveConnection(const std::shared_ptr<Pin>& connector, const MediaType& type) = 0;
  // Drops this side of the connection (the graph disconnects both sides).
  virtual HRESULT Disconnect() = 0;

  // The stream configuration of an output pin that has one; E_NOINTERFACE otherwise.
  virtual HRESULT QueryStreamConfig(std::shared_ptr<StreamConfig>* config) { return E_NOINTERFACE; }

  // Input pins: one sample from upstream. Runs on the streaming thread of the source.
  virtual HRESULT Receive(MediaSample& sample) { return E_NOTIMPL; }
};

class PinEnumerator {
 public:
  virtual ~PinEnumerator() = default;
  virtual HRESULT Reset() = 0;
  // S_OK and the next pin; S_FALSE when none is left.
  virtual HRESULT Next(std::shared_ptr<Pin>* pin) = 0;
};

class SampleGrabber;
class Crossbar;

enum FilterState { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

// A processing element of the graph. Create filters with std::make_shared.
class BaseFilter : public std::enable_shared_from_this<BaseFilter> {
 public:
  BaseFilter() = default;
  BaseFilter(const BaseFilter&) = delete;
  BaseFilter& operator=(const BaseFilter&) = delete;
  virtual ~BaseFilter() = default;

  virtual HRESULT EnumPins(std::unique_ptr<PinEnumerator>* pins) = 0;
  virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
  // Called by the graph when the filter is added (graph and name) or removed (null and empty name).
  virtual HRESULT JoinFilterGraph(FilterGraph* graph, const std::u16string& name) = 0;

  // State changes, called by the graph. Stop returns only when the filter delivers no more samples.
  virtual HRESULT Run() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Stop() = 0;

  // Further interfaces of the filter; E_NOINTERFACE when it has none of that kind.
  virtual HRESULT QuerySampleGrabber(std::shared_ptr<SampleGrabber>* grabber) { return E_NOINTERFACE; }
  // The analogue input switch in front of the filter's decoder (for a device: its input selector).
  virtual HRESULT QueryCrossbar(std::shared_ptr<Crossbar>* crossbar) { return E_NOINTERFACE; }
};

class FilterEnumerator {
 public:
  virtual ~FilterEnumerator() = default;
  virtual HRESULT Reset() = 0;
  // S_OK and the next filter; S_FALSE when none is left.
  virtual HRESULT Next(std::shared_ptr<BaseFilter>* filter) = 0;
};

// Run, pause and stop of a whole graph.
class MediaControl {
 public:
  virtual ~MediaControl() = default;
  // Starts streaming and returns without waiting; S_FALSE (or another success code) while the graph
  // is still changing state.
  virtual HRESULT Run() = 0;
  virtual HRESULT Pause() = 0;
  // Returns when no filter of the graph delivers samples any more.
  virtual HRESULT Stop() = 0;
};

// The filter graph: holds filters under names and connects and disconnects their pins.
class FilterGraph {
 public:
  FilterGraph() = default;
  FilterGraph(const FilterGraph&) = delete;
  FilterGraph& operator=(const FilterGraph&) = delete;
  virtual ~FilterGraph() = default;

  virtual HRESULT AddFilter(const std::shared_ptr<BaseFilter>& filter, const std::u16string& name) = 0;
  // Disconnects the filter's pins and drops the graph's reference.
  virtual HRESULT RemoveFilter(BaseFilter* filter) = 0;
  // A snapshot of the filters, in the graph's enumeration order (the most recently added first).
  virtual HRESULT EnumFilters(std::unique_ptr<FilterEnumerator>* filters) = 0;
  // Connects two pins, offering `type` (null: the output pin's own types) without inserting anything.
  virtual HRESULT ConnectDirect(const std::shared_ptr<Pin>& output, const std::shared_ptr<Pin>& input,
                                const MediaType* type) = 0;
  // Drops one side of a connection; the other side is disconnected by a second call.
  virtual HRESULT Disconnect(Pin* pin) = 0;
  virtual HRESULT QueryMediaControl(std::shared_ptr<MediaControl>* control) = 0;
};

// Format and capabilities of an output pin's stream.
class StreamConfig {
 public:
  virtual ~StreamConfig() = default;
  // S_OK and the current format (other success codes: the format may be incomplete).
  virtual HRESULT GetFormat(std::unique_ptr<MediaType>* format) = 0;
  // S_OK only when the stream takes exactly this format; anything else is a refusal.
  virtual HRESULT SetFormat(const MediaType& format) = 0;
  // Number of capability records and the size of one (sizeof(VIDEO_STREAM_CONFIG_CAPS)).
  virtual HRESULT GetNumberOfCapabilities(int* count, int* size) = 0;
  virtual HRESULT GetStreamCaps(int index, std::unique_ptr<MediaType>* format, VIDEO_STREAM_CONFIG_CAPS* caps) = 0;
};

// An analogue input switch: inputs and outputs numbered from 0 separately.
class Crossbar {
 public:
  virtual ~Crossbar() = default;
  virtual HRESULT GetPinCounts(long* outputs, long* inputs) = 0;
  virtual HRESULT GetCrossbarPinInfo(bool isInput, long index, long* relatedPin, long* physicalType) = 0;
  virtual HRESULT Route(long output, long input) = 0;
};

// Receives the samples of a sample grabber.
class SampleGrabberCB {
 public:
  virtual ~SampleGrabberCB() = default;
  // Runs on the streaming thread, once per sample (callback selector 0).
  virtual HRESULT SampleCB(double sampleTime, MediaSample* sample) = 0;
  // Runs on the streaming thread with the sample's bytes (callback selector 1).
  virtual HRESULT BufferCB(double sampleTime, std::uint8_t* buffer, long length) = 0;
};

// The control interface of the sample grabber filter.
class SampleGrabber {
 public:
  virtual ~SampleGrabber() = default;
  // Stop passing samples on after the first one.
  virtual HRESULT SetOneShot(bool oneShot) = 0;
  // Keep a copy of the latest sample (GetCurrentBuffer).
  virtual HRESULT SetBufferSamples(bool bufferThem) = 0;
  // S_OK and the bytes of the kept copy; `size` in: capacity of `buffer` (or null to ask for the size).
  virtual HRESULT GetCurrentBuffer(long* size, std::uint8_t* buffer) = 0;
  // Replaces the callback (null: none). Does not return while a call into the old callback runs, and
  // no call into the old callback follows it. `whichMethod` 0 calls SampleCB, 1 calls BufferCB.
  virtual HRESULT SetCallback(SampleGrabberCB* callback, int whichMethod) = 0;
  // The only type the grabber's input accepts; GUID_NULL fields match anything.
  virtual HRESULT SetMediaType(const MediaType& type) = 0;
  virtual HRESULT GetConnectedMediaType(MediaType* type) = 0;
};

// Builds capture graphs: finds interfaces on a source's pins and connects source, intermediate filter
// and sink, inserting what the connection needs (a colour converter, a tee for a preview stream).
class CaptureGraphBuilder {
 public:
  CaptureGraphBuilder() = default;
  CaptureGraphBuilder(const CaptureGraphBuilder&) = delete;
  CaptureGraphBuilder& operator=(const CaptureGraphBuilder&) = delete;
  virtual ~CaptureGraphBuilder() = default;

  virtual HRESULT SetFiltergraph(const std::shared_ptr<FilterGraph>& graph) = 0;
  // The stream configuration of `filter`'s output pin of `category` (null: any) whose media major type
  // is `mediaType` (null: any). Fails when the filter has no such pin.
  virtual HRESULT FindStreamConfig(const GUID* category, const GUID* mediaType, BaseFilter* filter,
                                   std::shared_ptr<StreamConfig>* config) = 0;
  // The crossbar in front of `filter`. `category` LOOK_UPSTREAM_ONLY searches upstream of the filter
  // whatever its pins; a pin category searches from the filter's pin of that category and major type.
  virtual HRESULT FindCrossbar(const GUID* category, const GUID* mediaType, BaseFilter* filter,
                               std::shared_ptr<Crossbar>* crossbar) = 0;
  // Connects `source`'s pin of `category` and `mediaType` through `intermediate` (may be null) to
  // `sink`. With PIN_CATEGORY_PREVIEW and a source that has only a capture pin, a tee is inserted.
  virtual HRESULT RenderStream(const GUID* category, const GUID* mediaType, BaseFilter* source,
                               BaseFilter* intermediate, BaseFilter* sink) = 0;
};

}  // namespace capture
