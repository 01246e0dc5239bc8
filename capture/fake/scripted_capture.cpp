#include "capture/fake/scripted_capture.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "capture/capture_graph_builder.h"
#include "capture/device_source_filter.h"
#include "capture/filter_graph.h"
#include "capture/null_renderer.h"
#include "capture/sample_grabber.h"

namespace fake {

using namespace capture;

namespace {

constexpr long kMaxSampleBytes = 64L << 20;

bool OnGrid(std::int64_t value, std::int32_t minimum, std::int32_t maximum, std::int32_t step) {
  return step >= 1 && value >= minimum && value <= maximum && (value - minimum) % step == 0;
}

// The default format rule: some capability of the same subtype offers the size.
bool OfferedByCapabilities(const StreamScript& stream, const MediaType& type) {
  const VIDEOINFOHEADER* info = type.VideoInfo();
  if (!info || type.majortype != MEDIATYPE_Video) return false;
  return std::any_of(stream.capabilities.begin(), stream.capabilities.end(), [&](const Capability& capability) {
    const VIDEO_STREAM_CONFIG_CAPS& caps = capability.caps;
    return capability.type.subtype == type.subtype &&
           OnGrid(info->bmiHeader.biWidth, caps.MinOutputSize.cx, caps.MaxOutputSize.cx, caps.OutputGranularityX) &&
           OnGrid(info->bmiHeader.biHeight, caps.MinOutputSize.cy, caps.MaxOutputSize.cy, caps.OutputGranularityY);
  });
}

class ScriptedStreamConfig final : public StreamConfig {
 public:
  explicit ScriptedStreamConfig(StreamScript& script) : script_(script) {}

  HRESULT GetFormat(std::unique_ptr<MediaType>* format) override {
    if (!format) return E_POINTER;
    HRESULT result = script_.getFormatResult;
    if (!script_.getFormatResults.empty()) {
      result = script_.getFormatResults.front();
      script_.getFormatResults.pop_front();
    }
    if (FAILED(result)) return result;
    *format = std::make_unique<MediaType>(script_.current);
    return result;
  }
  HRESULT SetFormat(const MediaType& format) override {
    script_.offers.push_back(format);
    const bool accepted = script_.accepts ? script_.accepts(format) : OfferedByCapabilities(script_, format);
    if (!accepted) return script_.refusal;
    const VIDEOINFOHEADER* info = format.VideoInfo();
    script_.current =
        info ? MakeVideoType(format.subtype, info->bmiHeader.biWidth, info->bmiHeader.biHeight, info->AvgTimePerFrame)
             : format;
    return S_OK;
  }
  HRESULT GetNumberOfCapabilities(int* count, int* size) override {
    if (!count || !size) return E_POINTER;
    if (FAILED(script_.capsCountResult)) return script_.capsCountResult;
    *count = script_.capsCountOverride >= 0 ? script_.capsCountOverride : static_cast<int>(script_.capabilities.size());
    *size = script_.capsRecordSize;
    return script_.capsCountResult;
  }
  HRESULT GetStreamCaps(int index, std::unique_ptr<MediaType>* format, VIDEO_STREAM_CONFIG_CAPS* caps) override {
    if (!format || !caps) return E_POINTER;
    if (index < 0 || index >= static_cast<int>(script_.capabilities.size())) return E_INVALIDARG;
    const Capability& capability = script_.capabilities[static_cast<std::size_t>(index)];
    if (FAILED(capability.result)) return capability.result;
    *format = std::make_unique<MediaType>(capability.type);
    *caps = capability.caps;
    return S_OK;
  }

 private:
  StreamScript& script_;
};

class ScriptedCrossbar final : public Crossbar {
 public:
  explicit ScriptedCrossbar(CameraScript& script) : script_(script) {}
  HRESULT GetPinCounts(long* outputs, long* inputs) override {
    if (!outputs || !inputs) return E_POINTER;
    *outputs = script_.crossbarOutputs;
    *inputs = static_cast<long>(script_.crossbarInputs.size());
    return S_OK;
  }
  HRESULT GetCrossbarPinInfo(bool isInput, long index, long* relatedPin, long* physicalType) override {
    if (!relatedPin || !physicalType) return E_POINTER;
    if (!isInput) {
      if (index < 0 || index >= script_.crossbarOutputs) return E_INVALIDARG;
      *relatedPin = -1;
      *physicalType = PhysConn_Video_VideoDecoder;
      return S_OK;
    }
    if (index < 0 || index >= static_cast<long>(script_.crossbarInputs.size())) return E_INVALIDARG;
    const CrossbarInput& input = script_.crossbarInputs[static_cast<std::size_t>(index)];
    if (FAILED(input.infoResult)) return input.infoResult;
    *relatedPin = -1;
    *physicalType = input.physicalType;
    return S_OK;
  }
  HRESULT Route(long output, long input) override {
    if (FAILED(script_.routeResult)) return script_.routeResult;
    script_.routes.emplace_back(output, input);
    return script_.routeResult;
  }

 private:
  CameraScript& script_;
};

class ScriptedSample final : public MediaSample {
 public:
  ScriptedSample(std::uint8_t* data, long length, HRESULT pointerResult)
      : data_(data), length_(length), pointerResult_(pointerResult) {}
  HRESULT GetPointer(std::uint8_t** buffer) override {
    if (!buffer) return E_POINTER;
    if (FAILED(pointerResult_)) return pointerResult_;
    *buffer = data_;
    return pointerResult_;
  }
  long GetActualDataLength() override { return length_; }

 private:
  std::uint8_t* data_;
  long length_;
  HRESULT pointerResult_;
};

// A pin seen through a fault: its peer (when wrapping peers) answers QueryPinInfo with `peerInfo`.
class FaultyPin final : public Pin {
 public:
  FaultyPin(std::shared_ptr<Pin> inner, HRESULT peerInfo, bool isPeer)
      : inner_(std::move(inner)), peerInfo_(peerInfo), isPeer_(isPeer) {}
  HRESULT ConnectedTo(std::shared_ptr<Pin>* peer) override {
    const HRESULT hr = inner_->ConnectedTo(peer);
    if (!isPeer_ && peer && *peer) *peer = std::make_shared<FaultyPin>(*peer, peerInfo_, true);
    return hr;
  }
  HRESULT QueryPinInfo(PIN_INFO* info) override { return isPeer_ ? peerInfo_ : inner_->QueryPinInfo(info); }
  HRESULT QueryDirection(PinDirection* direction) override { return inner_->QueryDirection(direction); }
  HRESULT QueryCategory(GUID* category) override { return inner_->QueryCategory(category); }
  HRESULT ConnectionMediaType(MediaType* type) override { return inner_->ConnectionMediaType(type); }
  HRESULT GetMediaType(int index, MediaType* type) override { return inner_->GetMediaType(index, type); }
  HRESULT QueryAccept(const MediaType& type) override { return inner_->QueryAccept(type); }
  HRESULT Connect(const std::shared_ptr<Pin>& receivePin, const MediaType* type) override {
    return inner_->Connect(receivePin, type);
  }
  HRESULT ReceiveConnection(const std::shared_ptr<Pin>& connector, const MediaType& type) override {
    return inner_->ReceiveConnection(connector, type);
  }
  HRESULT Disconnect() override { return inner_->Disconnect(); }
  HRESULT QueryStreamConfig(std::shared_ptr<StreamConfig>* config) override {
    return inner_->QueryStreamConfig(config);
  }
  HRESULT Receive(MediaSample& sample) override { return inner_->Receive(sample); }

 private:
  std::shared_ptr<Pin> inner_;
  HRESULT peerInfo_;
  bool isPeer_;
};

class WrappingPinEnumerator final : public PinEnumerator {
 public:
  WrappingPinEnumerator(std::unique_ptr<PinEnumerator> inner, HRESULT peerInfo)
      : inner_(std::move(inner)), peerInfo_(peerInfo) {}
  HRESULT Reset() override { return inner_->Reset(); }
  HRESULT Next(std::shared_ptr<Pin>* pin) override {
    const HRESULT hr = inner_->Next(pin);
    if (hr == S_OK && pin && *pin) *pin = std::make_shared<FaultyPin>(*pin, peerInfo_, false);
    return hr;
  }

 private:
  std::unique_ptr<PinEnumerator> inner_;
  HRESULT peerInfo_;
};

}  // namespace

class ScriptedSourceDevice final : public SourceDevice {
 public:
  ScriptedSourceDevice(std::shared_ptr<FakeCameraSystem> system, std::shared_ptr<CameraScript> script)
      : system_(std::move(system)),
        script_(std::move(script)),
        capture_(script_->capture),
        preview_(script_->preview),
        crossbar_(*script_) {
    script_->sourcesAlive.fetch_add(1);
    std::lock_guard<std::mutex> lock(system_->mutex_);
    system_->live_[script_.get()] = this;
  }
  ~ScriptedSourceDevice() override {
    StopStreaming();
    {
      std::lock_guard<std::mutex> lock(system_->mutex_);
      const auto found = system_->live_.find(script_.get());
      if (found != system_->live_.end() && found->second == this) system_->live_.erase(found);
    }
    script_->sourcesAlive.fetch_sub(1);
  }

  StreamConfig& CaptureStream() override { return capture_; }
  StreamConfig* PreviewStream() override { return script_->previewPin ? &preview_ : nullptr; }
  Crossbar* InputSwitch() override { return script_->hasCrossbar ? &crossbar_ : nullptr; }

  HRESULT StartStreaming(FrameSink& sink) override {
    if (FAILED(script_->startResult)) return script_->startResult;
    std::lock_guard<std::mutex> lock(deliveryMutex_);
    if (streaming_) return S_OK;
    // The script is read here, on the graph's thread; the streaming thread uses only this snapshot.
    const MediaType& format = script_->DeliveringStream().current;
    const VIDEOINFOHEADER* info = format.VideoInfo();
    frameLength_ =
        info ? static_cast<long>(FrameBytesOf(format.subtype, info->bmiHeader.biWidth, info->bmiHeader.biHeight)) : 0;
    lengths_ = script_->sampleLengths;
    if (lengths_.empty()) lengths_.push_back(frameLength_);
    if (script_->threaded) {
      // Lengths beyond the buffer are cut to it: the fake never claims bytes it does not have.
      long largest = 1;
      for (long& length : lengths_) {
        length = std::min(length, kMaxSampleBytes);
        largest = std::max(largest, length);
      }
      buffer_.assign(static_cast<std::size_t>(largest), 0);
    }
    content_ = script_->content;
    interval_ = script_->interval;
    pointerResult_ = script_->getPointerResult;
    sink_ = &sink;
    streaming_ = true;
    stopRequested_ = false;
    script_->streamStarts.fetch_add(1);
    if (script_->threaded) thread_ = std::thread([this] { StreamingLoop(); });
    return S_OK;
  }

  void StopStreaming() override {
    {
      std::lock_guard<std::mutex> lock(deliveryMutex_);
      if (!streaming_) return;
      streaming_ = false;
      stopRequested_ = true;
    }
    if (thread_.joinable()) thread_.join();
    script_->streamStops.fetch_add(1);
  }

  bool Push(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(deliveryMutex_);
    if (!streaming_) return false;
    // One spare byte: even an empty sample has a valid data pointer.
    std::vector<std::uint8_t> copy(bytes.size() + 1);
    std::copy(bytes.begin(), bytes.end(), copy.begin());
    ScriptedSample sample(copy.data(), static_cast<long>(bytes.size()), pointerResult_);
    script_->samplesDelivered.fetch_add(1);
    sink_->Deliver(sample);
    return true;
  }

 private:
  void StreamingLoop() {
    for (std::uint64_t index = 0;; ++index) {
      {
        std::lock_guard<std::mutex> lock(deliveryMutex_);
        if (stopRequested_) return;
        const long length = lengths_[index % lengths_.size()];
        const long used = std::max(0L, length);
        if (content_)
          content_(buffer_.data(), used, index);
        else
          std::memset(buffer_.data(), static_cast<int>(index & 0xFF), static_cast<std::size_t>(used));
        ScriptedSample sample(buffer_.data(), length, pointerResult_);
        script_->samplesDelivered.fetch_add(1);
        sink_->Deliver(sample);
      }
      if (interval_.count() > 0)
        std::this_thread::sleep_for(interval_);
      else
        std::this_thread::yield();
    }
  }

  std::shared_ptr<FakeCameraSystem> system_;
  std::shared_ptr<CameraScript> script_;
  ScriptedStreamConfig capture_;
  ScriptedStreamConfig preview_;
  ScriptedCrossbar crossbar_;

  std::mutex deliveryMutex_;  // held for every delivery; guards the fields below
  bool streaming_ = false;
  bool stopRequested_ = false;
  FrameSink* sink_ = nullptr;
  long frameLength_ = 0;
  std::vector<long> lengths_;
  std::vector<std::uint8_t> buffer_;
  std::function<void(std::uint8_t*, long, std::uint64_t)> content_;
  std::chrono::microseconds interval_{0};
  HRESULT pointerResult_ = S_OK;
  std::thread thread_;
};

namespace {

class ScriptedSourceFilter final : public DeviceSourceFilter {
 public:
  ScriptedSourceFilter(std::unique_ptr<SourceDevice> device, std::shared_ptr<CameraScript> script)
      : DeviceSourceFilter(std::move(device)), script_(std::move(script)) {}

  HRESULT EnumPins(std::unique_ptr<PinEnumerator>* pins) override {
    if (armed_ && FAILED(script_->enumPinsResult)) return script_->enumPinsResult;
    const HRESULT hr = DeviceSourceFilter::EnumPins(pins);
    if (armed_ && hr == S_OK && script_->peerPinInfoResult != S_OK)
      *pins = std::make_unique<WrappingPinEnumerator>(std::move(*pins), script_->peerPinInfoResult);
    return hr;
  }

 protected:
  HRESULT OnPause() override {
    armed_ = true;
    return DeviceSourceFilter::OnPause();
  }
  HRESULT OnStop() override {
    armed_ = true;
    return DeviceSourceFilter::OnStop();
  }

 private:
  std::shared_ptr<CameraScript> script_;
  bool armed_ = false;
};

class ScriptedDeviceEntry final : public DeviceEntry {
 public:
  ScriptedDeviceEntry(std::shared_ptr<FakeCameraSystem> system, std::shared_ptr<CameraScript> script)
      : system_(std::move(system)), script_(std::move(script)) {}
  HRESULT Probe() override { return script_->probeResult; }
  HRESULT ReadFriendlyName(std::u16string* name) override {
    if (!name) return E_POINTER;
    if (FAILED(script_->readNameResult)) return script_->readNameResult;
    *name = script_->name;
    return script_->readNameResult;
  }
  HRESULT BindSourceFilter(std::shared_ptr<BaseFilter>* filter) override {
    if (!filter) return E_POINTER;
    if (FAILED(script_->bindResult)) return script_->bindResult;
    *filter = std::make_shared<ScriptedSourceFilter>(std::make_unique<ScriptedSourceDevice>(system_, script_), script_);
    return script_->bindResult;
  }

 private:
  std::shared_ptr<FakeCameraSystem> system_;
  std::shared_ptr<CameraScript> script_;
};

class ScriptedDeviceList final : public DeviceList {
 public:
  ScriptedDeviceList(std::shared_ptr<FakeCameraSystem> system, std::vector<std::shared_ptr<CameraScript>> cameras)
      : system_(std::move(system)), cameras_(std::move(cameras)) {}
  HRESULT Next(std::unique_ptr<DeviceEntry>* device) override {
    if (!device) return E_POINTER;
    if (next_ >= cameras_.size()) return S_FALSE;
    *device = std::make_unique<ScriptedDeviceEntry>(system_, cameras_[next_++]);
    return S_OK;
  }

 private:
  std::shared_ptr<FakeCameraSystem> system_;
  std::vector<std::shared_ptr<CameraScript>> cameras_;
  std::size_t next_ = 0;
};

class ScriptedFilterGraph final : public StandardFilterGraph {
 public:
  explicit ScriptedFilterGraph(std::shared_ptr<FakeCameraSystem> system) : system_(std::move(system)) {}

  HRESULT AddFilter(const std::shared_ptr<BaseFilter>& filter, const std::u16string& name) override {
    const auto scripted = system_->addFilterResults.find(name);
    if (scripted != system_->addFilterResults.end() && FAILED(scripted->second)) return scripted->second;
    return StandardFilterGraph::AddFilter(filter, name);
  }
  HRESULT RemoveFilter(BaseFilter* filter) override {
    if (FAILED(system_->removeFilterResult)) return system_->removeFilterResult;
    const HRESULT hr = StandardFilterGraph::RemoveFilter(filter);
    return SUCCEEDED(hr) ? system_->removeFilterResult : hr;
  }
  HRESULT EnumFilters(std::unique_ptr<FilterEnumerator>* filters) override {
    if (FAILED(system_->enumFiltersResult)) return system_->enumFiltersResult;
    return StandardFilterGraph::EnumFilters(filters);
  }
  HRESULT QueryMediaControl(std::shared_ptr<MediaControl>* control) override {
    if (FAILED(system_->queryMediaControlResult)) return system_->queryMediaControlResult;
    return StandardFilterGraph::QueryMediaControl(control);
  }
  HRESULT Run() override {
    system_->Log("graph Run");
    if (FAILED(system_->runResult)) return system_->runResult;
    const HRESULT hr = StandardFilterGraph::Run();
    return SUCCEEDED(hr) ? system_->runResult : hr;
  }
  HRESULT Pause() override {
    system_->Log("graph Pause");
    if (FAILED(system_->pauseResult)) return system_->pauseResult;
    return StandardFilterGraph::Pause();
  }
  HRESULT Stop() override {
    system_->Log("graph Stop");
    if (FAILED(system_->stopResult)) return system_->stopResult;
    return StandardFilterGraph::Stop();
  }

 private:
  std::shared_ptr<FakeCameraSystem> system_;
};

class ScriptedCaptureGraphBuilder final : public StandardCaptureGraphBuilder {
 public:
  explicit ScriptedCaptureGraphBuilder(std::shared_ptr<FakeCameraSystem> system) : system_(std::move(system)) {}

  HRESULT SetFiltergraph(const std::shared_ptr<FilterGraph>& graph) override {
    if (FAILED(system_->setFiltergraphResult)) return system_->setFiltergraphResult;
    return StandardCaptureGraphBuilder::SetFiltergraph(graph);
  }
  HRESULT FindStreamConfig(const GUID* category, const GUID* mediaType, BaseFilter* filter,
                           std::shared_ptr<StreamConfig>* config) override {
    const bool preview = category && *category == PIN_CATEGORY_PREVIEW;
    const HRESULT scripted = preview ? system_->findPreviewConfigResult : system_->findConfigResult;
    if (FAILED(scripted)) return scripted;
    if (!preview && system_->findConfigGivesNothing) {
      config->reset();
      return S_OK;
    }
    return StandardCaptureGraphBuilder::FindStreamConfig(category, mediaType, filter, config);
  }
  HRESULT RenderStream(const GUID* category, const GUID* mediaType, BaseFilter* source, BaseFilter* intermediate,
                       BaseFilter* sink) override {
    if (FAILED(system_->renderStreamResult)) return system_->renderStreamResult;
    return StandardCaptureGraphBuilder::RenderStream(category, mediaType, source, intermediate, sink);
  }

 private:
  std::shared_ptr<FakeCameraSystem> system_;
};

class ScriptedSampleGrabber final : public SampleGrabberFilter {
 public:
  explicit ScriptedSampleGrabber(std::shared_ptr<FakeCameraSystem> system) : system_(std::move(system)) {}

  HRESULT QuerySampleGrabber(std::shared_ptr<SampleGrabber>* grabber) override {
    if (FAILED(system_->querySampleGrabberResult)) return system_->querySampleGrabberResult;
    return SampleGrabberFilter::QuerySampleGrabber(grabber);
  }
  HRESULT SetCallback(SampleGrabberCB* callback, int whichMethod) override {
    system_->Log(callback ? "grabber SetCallback" : "grabber SetCallback(null)");
    const HRESULT scripted = callback ? system_->setCallbackResult : system_->detachCallbackResult;
    if (FAILED(scripted)) return scripted;
    return SampleGrabberFilter::SetCallback(callback, whichMethod);
  }

 private:
  std::shared_ptr<FakeCameraSystem> system_;
};

void SetCapability(Capability& capability, const GUID& subtype, int minWidth, int minHeight, int maxWidth,
                   int maxHeight, int stepX, int stepY) {
  capability.type = MakeVideoType(subtype, maxWidth, maxHeight);
  capability.caps.guid = FORMAT_VideoInfo;
  capability.caps.InputSize = {maxWidth, maxHeight};
  capability.caps.MinOutputSize = {minWidth, minHeight};
  capability.caps.MaxOutputSize = {maxWidth, maxHeight};
  capability.caps.OutputGranularityX = stepX;
  capability.caps.OutputGranularityY = stepY;
}

}  // namespace

Capability SizeRange(const GUID& subtype, int minWidth, int minHeight, int maxWidth, int maxHeight, int stepX,
                     int stepY) {
  Capability capability;
  SetCapability(capability, subtype, minWidth, minHeight, maxWidth, maxHeight, stepX, stepY);
  return capability;
}

Capability FixedSize(const GUID& subtype, int width, int height) {
  return SizeRange(subtype, width, height, width, height, 1, 1);
}

CameraScript& FakeCameraSystem::AddCamera(std::u16string name) {
  cameras_.push_back(std::make_shared<CameraScript>());
  cameras_.back()->name = std::move(name);
  return *cameras_.back();
}

void FakeCameraSystem::Unplug(int index) {
  if (index >= 0 && index < CameraCount()) cameras_.erase(cameras_.begin() + index);
}

bool FakeCameraSystem::Push(int index, const std::vector<std::uint8_t>& bytes) {
  if (index < 0 || index >= CameraCount()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = live_.find(cameras_[static_cast<std::size_t>(index)].get());
  return found != live_.end() && found->second->Push(bytes);
}

bool FakeCameraSystem::Push(int index, long length, std::uint8_t fill) {
  return Push(index, std::vector<std::uint8_t>(static_cast<std::size_t>(std::max(0L, length)), fill));
}

void FakeCameraSystem::Log(std::string entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  log.push_back(std::move(entry));
}

std::vector<std::string> FakeCameraSystem::TakeLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> taken;
  taken.swap(log);
  return taken;
}

HRESULT ScriptedCaptureBackend::InitializeThread() {
  ++system_->initializeThreadCalls;
  return system_->initializeThreadResult;
}

void ScriptedCaptureBackend::UninitializeThread() { ++system_->uninitializeThreadCalls; }

HRESULT ScriptedCaptureBackend::OpenDeviceList(std::unique_ptr<DeviceList>* list) {
  if (!list) return E_POINTER;
  ++system_->listOpens;
  if (system_->listResult != S_OK) return system_->listResult;
  if (system_->cameras_.empty()) return S_FALSE;
  *list = std::make_unique<ScriptedDeviceList>(system_, system_->cameras_);
  return S_OK;
}

HRESULT ScriptedCaptureBackend::CreateCaptureGraphBuilder(std::unique_ptr<CaptureGraphBuilder>* builder) {
  if (FAILED(system_->createBuilderResult)) return system_->createBuilderResult;
  *builder = std::make_unique<ScriptedCaptureGraphBuilder>(system_);
  return S_OK;
}

HRESULT ScriptedCaptureBackend::CreateFilterGraph(std::shared_ptr<FilterGraph>* graph) {
  if (FAILED(system_->createGraphResult)) return system_->createGraphResult;
  *graph = std::make_shared<ScriptedFilterGraph>(system_);
  return S_OK;
}

HRESULT ScriptedCaptureBackend::CreateSampleGrabber(std::shared_ptr<BaseFilter>* filter) {
  if (FAILED(system_->createGrabberResult)) return system_->createGrabberResult;
  *filter = std::make_shared<ScriptedSampleGrabber>(system_);
  return S_OK;
}

HRESULT ScriptedCaptureBackend::CreateNullRenderer(std::shared_ptr<BaseFilter>* filter) {
  if (FAILED(system_->createRendererResult)) return system_->createRendererResult;
  return DeviceBackend::CreateNullRenderer(filter);
}

}  // namespace fake
