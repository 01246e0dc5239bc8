// The shared graph objects: filter graph, builder, sample grabber, colour converter, device source.
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <thread>

#include <gtest/gtest.h>

#include "capture/capture_graph_builder.h"
#include "capture/color_converter.h"
#include "capture/device_source_filter.h"
#include "capture/filter_graph.h"
#include "capture/null_renderer.h"
#include "capture/sample_grabber.h"

namespace {

using namespace capture;

// A stream with one fixed format that takes any offer.
class FixedStream final : public StreamConfig {
 public:
  explicit FixedStream(MediaType format) : format_(std::move(format)) {}
  HRESULT GetFormat(std::unique_ptr<MediaType>* format) override {
    *format = std::make_unique<MediaType>(format_);
    return S_OK;
  }
  HRESULT SetFormat(const MediaType& format) override {
    format_ = format;
    return S_OK;
  }
  HRESULT GetNumberOfCapabilities(int* count, int* size) override {
    *count = 0;
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
  }
  HRESULT GetStreamCaps(int, std::unique_ptr<MediaType>*, VIDEO_STREAM_CONFIG_CAPS*) override { return E_INVALIDARG; }

 private:
  MediaType format_;
};

// A device whose frames the test hands in on its own thread.
class HandFedDevice final : public SourceDevice {
 public:
  HandFedDevice(MediaType format, bool preview) : capture_(format), preview_(format), hasPreview_(preview) {}
  StreamConfig& CaptureStream() override { return capture_; }
  StreamConfig* PreviewStream() override { return hasPreview_ ? &preview_ : nullptr; }
  HRESULT StartStreaming(FrameSink& sink) override {
    std::lock_guard<std::mutex> lock(mutex_);
    sink_ = &sink;
    ++starts;
    return S_OK;
  }
  void StopStreaming() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sink_) ++stops;
    sink_ = nullptr;
  }
  bool Feed(std::vector<std::uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!sink_) return false;
    BufferSample sample(bytes.data(), static_cast<long>(bytes.size()));
    sink_->Deliver(sample);
    return true;
  }
  int starts = 0, stops = 0;

 private:
  FixedStream capture_, preview_;
  bool hasPreview_;
  std::mutex mutex_;
  FrameSink* sink_ = nullptr;
};

// Records the samples it is given; can be made to block inside SampleCB.
class RecordingCallback final : public SampleGrabberCB {
 public:
  HRESULT SampleCB(double, MediaSample* sample) override {
    std::uint8_t* data = nullptr;
    sample->GetPointer(&data);
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ++calls;
      inside = true;
      changed_.notify_all();
      changed_.wait(lock, [this] { return !hold; });
      inside = false;
      last.assign(data, data + sample->GetActualDataLength());
    }
    return S_OK;
  }
  HRESULT BufferCB(double, std::uint8_t* buffer, long length) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++bufferCalls;
    last.assign(buffer, buffer + length);
    return S_OK;
  }
  void Hold(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    hold = on;
    changed_.notify_all();
  }
  void WaitInside() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return inside; });
  }
  int Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls;
  }

  int calls = 0, bufferCalls = 0;
  bool inside = false, hold = false;
  std::vector<std::uint8_t> last;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

struct Chain {
  std::shared_ptr<StandardFilterGraph> graph = std::make_shared<StandardFilterGraph>();
  HandFedDevice* device = nullptr;
  std::shared_ptr<DeviceSourceFilter> source;
  std::shared_ptr<SampleGrabberFilter> grabber = std::make_shared<SampleGrabberFilter>();
  std::shared_ptr<NullRendererFilter> renderer = std::make_shared<NullRendererFilter>();
  StandardCaptureGraphBuilder builder;

  Chain(const MediaType& format, bool preview) {
    auto owned = std::make_unique<HandFedDevice>(format, preview);
    device = owned.get();
    source = DeviceSourceFilter::Create(std::move(owned));
    graph->AddFilter(source, u"Source");
    graph->AddFilter(grabber, u"Sample Grabber");
    graph->AddFilter(renderer, u"NullRenderer");
    builder.SetFiltergraph(graph);
    MediaType rgb;
    rgb.majortype = MEDIATYPE_Video;
    rgb.subtype = MEDIASUBTYPE_RGB24;
    grabber->SetMediaType(rgb);
  }
  HRESULT Render() {
    return builder.RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, source.get(), grabber.get(), renderer.get());
  }
};

std::vector<std::string> Names(FilterGraph& graph) {
  std::vector<std::string> names;
  std::unique_ptr<FilterEnumerator> filters;
  graph.EnumFilters(&filters);
  std::shared_ptr<BaseFilter> filter;
  while (filters->Next(&filter) == S_OK) {
    FILTER_INFO info;
    filter->QueryFilterInfo(&info);
    names.emplace_back(info.achName.begin(), info.achName.end());
  }
  return names;
}

TEST(SampleGrabberTest, DetachingWaitsForARunningCallbackAndNoCallFollows) {
  Chain chain(MakeVideoType(MEDIASUBTYPE_RGB24, 4, 2), true);
  ASSERT_EQ(chain.Render(), S_OK);
  RecordingCallback callback;
  ASSERT_EQ(chain.grabber->SetCallback(&callback, 0), S_OK);
  ASSERT_EQ(chain.graph->Run(), S_OK);

  callback.Hold(true);
  std::thread streaming([&] { chain.device->Feed(std::vector<std::uint8_t>(24, 1)); });
  callback.WaitInside();
  std::atomic<bool> detached{false};
  std::thread closing([&] {
    chain.grabber->SetCallback(nullptr, 1);
    detached = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(detached.load());  // still inside SampleCB
  callback.Hold(false);
  closing.join();
  streaming.join();
  EXPECT_TRUE(detached.load());

  ASSERT_TRUE(chain.device->Feed(std::vector<std::uint8_t>(24, 2)));
  EXPECT_EQ(callback.Calls(), 1);
  EXPECT_EQ(chain.renderer->SamplesRendered(), 2);  // samples go on through the grabber
  chain.graph->Stop();
}

TEST(SampleGrabberTest, BufferCallbackOneShotAndKeptCopy) {
  Chain chain(MakeVideoType(MEDIASUBTYPE_RGB24, 4, 2), true);
  ASSERT_EQ(chain.Render(), S_OK);
  RecordingCallback callback;
  chain.grabber->SetCallback(&callback, 1);
  chain.grabber->SetBufferSamples(true);
  chain.grabber->SetOneShot(true);
  chain.graph->Run();
  long size = 0;
  EXPECT_EQ(chain.grabber->GetCurrentBuffer(&size, nullptr), VFW_E_WRONG_STATE);
  chain.device->Feed(std::vector<std::uint8_t>(24, 7));
  chain.device->Feed(std::vector<std::uint8_t>(24, 8));  // after the one shot: not passed on
  EXPECT_EQ(callback.bufferCalls, 1);
  EXPECT_EQ(callback.last, std::vector<std::uint8_t>(24, 7));
  EXPECT_EQ(chain.renderer->SamplesRendered(), 1);
  ASSERT_EQ(chain.grabber->GetCurrentBuffer(&size, nullptr), S_OK);
  EXPECT_EQ(size, 24);
  std::vector<std::uint8_t> copy(24);
  ASSERT_EQ(chain.grabber->GetCurrentBuffer(&size, copy.data()), S_OK);
  EXPECT_EQ(copy, std::vector<std::uint8_t>(24, 7));
  size = 10;
  EXPECT_EQ(chain.grabber->GetCurrentBuffer(&size, copy.data()), E_OUTOFMEMORY);
  EXPECT_EQ(chain.grabber->SetCallback(&callback, 2), E_INVALIDARG);
}

TEST(DeviceSourceFilterTest, DeliversOnlyWhileRunningAndStopsStreamingOnStop) {
  Chain chain(MakeVideoType(MEDIASUBTYPE_RGB24, 4, 2), true);
  ASSERT_EQ(chain.Render(), S_OK);
  EXPECT_FALSE(chain.device->Feed({}));  // not streaming before Run
  chain.graph->Run();
  EXPECT_EQ(chain.device->starts, 1);
  chain.device->Feed(std::vector<std::uint8_t>(24));
  chain.graph->Pause();
  chain.device->Feed(std::vector<std::uint8_t>(24));
  EXPECT_EQ(chain.renderer->SamplesRendered(), 1);
  chain.graph->Run();
  EXPECT_EQ(chain.device->starts, 1);  // still streaming: not started twice
  chain.graph->Stop();
  EXPECT_EQ(chain.device->stops, 1);
  EXPECT_FALSE(chain.device->Feed(std::vector<std::uint8_t>(24)));
}

TEST(CaptureGraphBuilderTest, PreviewPinConnectsDirectlyAndCapturePinGetsATee) {
  Chain withPreview(MakeVideoType(MEDIASUBTYPE_RGB24, 4, 2), true);
  ASSERT_EQ(withPreview.Render(), S_OK);
  EXPECT_EQ(Names(*withPreview.graph), (std::vector<std::string>{"NullRenderer", "Sample Grabber", "Source"}));

  Chain captureOnly(MakeVideoType(MEDIASUBTYPE_RGB24, 4, 2), false);
  ASSERT_EQ(captureOnly.Render(), S_OK);
  EXPECT_EQ(Names(*captureOnly.graph),
            (std::vector<std::string>{"Smart Tee", "NullRenderer", "Sample Grabber", "Source"}));
  captureOnly.graph->Run();
  captureOnly.device->Feed(std::vector<std::uint8_t>(24, 3));
  EXPECT_EQ(captureOnly.renderer->SamplesRendered(), 1);
}

TEST(CaptureGraphBuilderTest, FindsStreamConfigurationsAndCrossbarsByPin) {
  Chain chain(MakeVideoType(MEDIASUBTYPE_RGB24, 4, 2), false);
  std::shared_ptr<StreamConfig> config;
  EXPECT_EQ(chain.builder.FindStreamConfig(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, chain.source.get(), &config), S_OK);
  EXPECT_NE(config, nullptr);
  EXPECT_EQ(chain.builder.FindStreamConfig(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, chain.source.get(), &config),
            E_FAIL);
  EXPECT_EQ(config, nullptr);
  EXPECT_EQ(chain.builder.FindStreamConfig(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, chain.source.get(), &config),
            E_FAIL);
  std::shared_ptr<Crossbar> crossbar;
  EXPECT_EQ(chain.builder.FindCrossbar(&LOOK_UPSTREAM_ONLY, nullptr, chain.source.get(), &crossbar), E_FAIL);
}

TEST(CaptureGraphBuilderTest, RenderStreamNeedsTheFiltersInItsGraph) {
  Chain chain(MakeVideoType(MEDIASUBTYPE_RGB24, 4, 2), true);
  auto stray = std::make_shared<NullRendererFilter>();
  EXPECT_EQ(
      chain.builder.RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, chain.source.get(), nullptr, stray.get()),
      VFW_E_NOT_IN_GRAPH);
  StandardCaptureGraphBuilder unset;
  EXPECT_EQ(unset.RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, chain.source.get(), nullptr, stray.get()),
            E_UNEXPECTED);
  EXPECT_EQ(chain.builder.SetFiltergraph(chain.graph), E_UNEXPECTED);  // only once
}

TEST(FilterGraphTest, NamesAreUniqueAndEnumerationIsNewestFirst) {
  StandardFilterGraph graph;
  auto a = std::make_shared<NullRendererFilter>();
  auto b = std::make_shared<NullRendererFilter>();
  EXPECT_EQ(graph.AddFilter(a, u"Renderer"), S_OK);
  EXPECT_EQ(graph.AddFilter(b, u"Renderer"), VFW_S_DUPLICATE_NAME);
  EXPECT_EQ(graph.AddFilter(a, u"Again"), E_INVALIDARG);
  EXPECT_EQ(graph.AddFilter(nullptr, u"None"), E_POINTER);
  EXPECT_EQ(Names(graph), (std::vector<std::string>{"Renderer 0001", "Renderer"}));
  EXPECT_EQ(graph.RemoveFilter(a.get()), S_OK);
  EXPECT_EQ(graph.RemoveFilter(a.get()), VFW_E_NOT_FOUND);
  FILTER_INFO info;
  a->QueryFilterInfo(&info);
  EXPECT_EQ(info.pGraph, nullptr);
  EXPECT_TRUE(info.achName.empty());
}

TEST(FilterGraphTest, RemovingAFilterDisconnectsBothSides) {
  Chain chain(MakeVideoType(MEDIASUBTYPE_RGB24, 4, 2), true);
  ASSERT_EQ(chain.Render(), S_OK);
  std::shared_ptr<Pin> grabberInput(chain.grabber, chain.grabber->PinAt(0));
  std::shared_ptr<Pin> peer;
  ASSERT_EQ(grabberInput->ConnectedTo(&peer), S_OK);
  ASSERT_EQ(chain.graph->RemoveFilter(chain.grabber.get()), S_OK);
  EXPECT_EQ(grabberInput->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  std::shared_ptr<Pin> sourcePreview(chain.source, chain.source->PinAt(1));
  EXPECT_EQ(sourcePreview->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  std::shared_ptr<Pin> rendererInput(chain.renderer, chain.renderer->PinAt(0));
  EXPECT_EQ(rendererInput->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
}

// Converter: feeds one frame through a source of `format` and returns what the grabber saw.
std::vector<std::uint8_t> Converted(const MediaType& format, std::vector<std::uint8_t> frame, HRESULT* rendered) {
  Chain chain(format, true);
  *rendered = chain.Render();
  if (FAILED(*rendered)) return {};
  RecordingCallback callback;
  chain.grabber->SetCallback(&callback, 0);
  chain.graph->Run();
  chain.device->Feed(std::move(frame));
  chain.graph->Stop();
  return callback.last;
}

TEST(ColorConverterTest, Rgb32BottomUpLosesItsFourthByteAndKeepsTheRowOrder) {
  // 2 x 2, rows bottom first: (1 2 3 x)(4 5 6 x) / (7 8 9 x)(10 11 12 x).
  HRESULT hr;
  const auto out =
      Converted(MakeVideoType(MEDIASUBTYPE_RGB32, 2, 2), {1, 2, 3, 99, 4, 5, 6, 99, 7, 8, 9, 99, 10, 11, 12, 99}, &hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST(ColorConverterTest, GreyIsTopDownAndComesOutBottomUp) {
  HRESULT hr;
  const auto out = Converted(MakeVideoType(MEDIASUBTYPE_GREY, 2, 2), {10, 20, 30, 40}, &hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{30, 30, 30, 40, 40, 40, 10, 10, 10, 20, 20, 20}));
}

TEST(ColorConverterTest, PlanarAndPackedYuvGiveTheSameGrey) {
  HRESULT hr;
  // Y 126 without colour is a middle grey in every layout.
  const std::vector<std::uint8_t> i420 = {126, 126, 126, 126, 128, 128};
  const std::vector<std::uint8_t> uyvy = {128, 126, 128, 126, 128, 126, 128, 126};
  const auto fromI420 = Converted(MakeVideoType(MEDIASUBTYPE_IYUV, 2, 2), i420, &hr);
  ASSERT_EQ(hr, S_OK);
  const auto fromUyvy = Converted(MakeVideoType(MEDIASUBTYPE_UYVY, 2, 2), uyvy, &hr);
  ASSERT_EQ(hr, S_OK);
  ASSERT_EQ(fromI420.size(), 12u);
  EXPECT_EQ(fromI420, fromUyvy);
  for (std::uint8_t value : fromI420) EXPECT_NEAR(value, 128, 2);
}

TEST(ColorConverterTest, ShortSamplesAreDroppedAndUnconvertibleTypesRefused) {
  HRESULT hr;
  EXPECT_TRUE(Converted(MakeVideoType(MEDIASUBTYPE_YUY2, 4, 2), std::vector<std::uint8_t>(15), &hr).empty());
  EXPECT_EQ(hr, S_OK);
  EXPECT_FALSE(ColorConverterFilter::CanConvert(MakeVideoType(MEDIASUBTYPE_YUY2, 3, 2)));
  EXPECT_FALSE(ColorConverterFilter::CanConvert(MakeVideoType(MEDIASUBTYPE_YV12, 4, 3)));
  EXPECT_FALSE(ColorConverterFilter::CanConvert(MakeVideoType(MEDIASUBTYPE_Y411, 4, 4)));
  EXPECT_FALSE(ColorConverterFilter::CanConvert(MakeVideoType(MEDIASUBTYPE_GREY, 0, 4)));
  EXPECT_FALSE(ColorConverterFilter::CanConvert(MakeVideoType(MEDIASUBTYPE_GREY, 100000, 100000)));
  Converted(MakeVideoType(MEDIASUBTYPE_Y411, 4, 4), std::vector<std::uint8_t>(24), &hr);
  EXPECT_EQ(hr, VFW_E_CANNOT_CONNECT);
}

TEST(MediaTypesTest, FrameBytesOfPackedLayouts) {
  EXPECT_EQ(FrameBytesOf(MEDIASUBTYPE_RGB24, 1024, 768), 2359296);
  EXPECT_EQ(FrameBytesOf(MEDIASUBTYPE_RGB24, 3, -2), 18);
  EXPECT_EQ(FrameBytesOf(MEDIASUBTYPE_YUY2, 640, 480), 614400);
  EXPECT_EQ(FrameBytesOf(MEDIASUBTYPE_IYUV, 640, 480), 460800);
  EXPECT_EQ(FrameBytesOf(MEDIASUBTYPE_GREY, 0, 480), 0);
  EXPECT_EQ(FrameBytesOf(GUID{}, 640, 480), 0);
  EXPECT_EQ(FrameBytesOf(MEDIASUBTYPE_RGB32, INT_MAX, INT_MAX), 0);
  const MediaType type = MakeVideoType(MEDIASUBTYPE_YUY2, 640, 480, 333333);
  ASSERT_NE(type.VideoInfo(), nullptr);
  EXPECT_EQ(type.VideoInfo()->bmiHeader.biCompression, MEDIASUBTYPE_YUY2.Data1);
  EXPECT_EQ(type.VideoInfo()->bmiHeader.biSizeImage, 614400u);
  EXPECT_EQ(type.VideoInfo()->AvgTimePerFrame, 333333);
}

}  // namespace
