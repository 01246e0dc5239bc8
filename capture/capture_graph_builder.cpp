#include "capture/capture_graph_builder.h"

#include "capture/color_converter.h"
#include "capture/smart_tee.h"

namespace capture {

namespace {

bool PinHasMajorType(Pin& pin, const GUID& majorType) {
  MediaType type;
  if (pin.ConnectionMediaType(&type) == S_OK) return type.majortype == majorType;
  for (int index = 0; pin.GetMediaType(index, &type) == S_OK; ++index)
    if (type.majortype == majorType) return true;
  return false;
}

std::shared_ptr<Pin> FindPin(BaseFilter& filter, PinDirection wanted, bool freeOnly) {
  std::unique_ptr<PinEnumerator> pins;
  if (filter.EnumPins(&pins) != S_OK || !pins) return nullptr;
  std::shared_ptr<Pin> pin;
  while (pins->Next(&pin) == S_OK) {
    if (!pin) continue;
    PinDirection direction;
    if (pin->QueryDirection(&direction) != S_OK || direction != wanted) continue;
    std::shared_ptr<Pin> peer;
    if (freeOnly && pin->ConnectedTo(&peer) == S_OK && peer) continue;
    return pin;
  }
  return nullptr;
}

// The crossbar of `filter` or of a filter upstream of it, nearest first.
HRESULT SearchUpstream(BaseFilter& filter, std::shared_ptr<Crossbar>* crossbar, int depth) {
  if (filter.QueryCrossbar(crossbar) == S_OK && *crossbar) return S_OK;
  if (depth > 32) return E_FAIL;
  std::unique_ptr<PinEnumerator> pins;
  if (filter.EnumPins(&pins) != S_OK || !pins) return E_FAIL;
  std::shared_ptr<Pin> pin;
  while (pins->Next(&pin) == S_OK) {
    PinDirection direction;
    std::shared_ptr<Pin> peer;
    if (!pin || pin->QueryDirection(&direction) != S_OK || direction != PINDIR_INPUT) continue;
    if (pin->ConnectedTo(&peer) != S_OK || !peer) continue;
    PIN_INFO info;
    if (peer->QueryPinInfo(&info) != S_OK || !info.pFilter) continue;
    if (SearchUpstream(*info.pFilter, crossbar, depth + 1) == S_OK) return S_OK;
  }
  return E_FAIL;
}

}  // namespace

std::shared_ptr<Pin> FindOutputPin(BaseFilter& filter, const GUID* category, const GUID* mediaType, bool freeOnly) {
  std::unique_ptr<PinEnumerator> pins;
  if (filter.EnumPins(&pins) != S_OK || !pins) return nullptr;
  std::shared_ptr<Pin> pin;
  while (pins->Next(&pin) == S_OK) {
    if (!pin) continue;
    PinDirection direction;
    if (pin->QueryDirection(&direction) != S_OK || direction != PINDIR_OUTPUT) continue;
    if (category) {
      GUID pinCategory;
      if (pin->QueryCategory(&pinCategory) != S_OK || pinCategory != *category) continue;
    }
    if (mediaType && !PinHasMajorType(*pin, *mediaType)) continue;
    std::shared_ptr<Pin> peer;
    if (freeOnly && pin->ConnectedTo(&peer) == S_OK && peer) continue;
    return pin;
  }
  return nullptr;
}

HRESULT StandardCaptureGraphBuilder::SetFiltergraph(const std::shared_ptr<FilterGraph>& graph) {
  if (!graph) return E_POINTER;
  if (graph_) return E_UNEXPECTED;
  graph_ = graph;
  return S_OK;
}

HRESULT StandardCaptureGraphBuilder::FindStreamConfig(const GUID* category, const GUID* mediaType, BaseFilter* filter,
                                                      std::shared_ptr<StreamConfig>* config) {
  if (!filter || !config) return E_POINTER;
  config->reset();
  const std::shared_ptr<Pin> pin = FindOutputPin(*filter, category, mediaType, false);
  if (!pin) return E_FAIL;
  const HRESULT hr = pin->QueryStreamConfig(config);
  if (FAILED(hr)) config->reset();
  return hr;
}

HRESULT StandardCaptureGraphBuilder::FindCrossbar(const GUID* category, const GUID* mediaType, BaseFilter* filter,
                                                  std::shared_ptr<Crossbar>* crossbar) {
  if (!filter || !crossbar) return E_POINTER;
  crossbar->reset();
  if (category && *category == LOOK_DOWNSTREAM_ONLY) return E_NOTIMPL;
  if (category && *category != LOOK_UPSTREAM_ONLY && !FindOutputPin(*filter, category, mediaType, false)) return E_FAIL;
  const HRESULT hr = SearchUpstream(*filter, crossbar, 0);
  if (FAILED(hr)) crossbar->reset();
  return hr;
}

bool StandardCaptureGraphBuilder::InGraph(BaseFilter& filter) const {
  FILTER_INFO info;
  return filter.QueryFilterInfo(&info) == S_OK && info.pGraph == graph_.get();
}

HRESULT StandardCaptureGraphBuilder::ConnectToFilter(const std::shared_ptr<Pin>& output, BaseFilter& filter) {
  const std::shared_ptr<Pin> input = FindPin(filter, PINDIR_INPUT, true);
  if (!input) return VFW_E_CANNOT_CONNECT;
  if (SUCCEEDED(graph_->ConnectDirect(output, input, nullptr))) return S_OK;

  MediaType offered;
  if (output->GetMediaType(0, &offered) != S_OK || !ColorConverterFilter::CanConvert(offered) ||
      input->QueryAccept(ColorConverterFilter::OutputTypeFor(offered)) != S_OK)
    return VFW_E_CANNOT_CONNECT;
  const auto converter = std::make_shared<ColorConverterFilter>();
  if (FAILED(graph_->AddFilter(converter, u"Color Space Converter"))) return VFW_E_CANNOT_CONNECT;
  if (SUCCEEDED(graph_->ConnectDirect(output, converter->PinAt(0)->Self(), nullptr)) &&
      SUCCEEDED(graph_->ConnectDirect(converter->PinAt(1)->Self(), input, nullptr)))
    return S_OK;
  graph_->RemoveFilter(converter.get());
  return VFW_E_CANNOT_CONNECT;
}

HRESULT StandardCaptureGraphBuilder::RenderStream(const GUID* category, const GUID* mediaType, BaseFilter* source,
                                                  BaseFilter* intermediate, BaseFilter* sink) {
  if (!graph_) return E_UNEXPECTED;
  if (!source || !sink) return E_POINTER;
  if (!InGraph(*source) || !InGraph(*sink) || (intermediate && !InGraph(*intermediate))) return VFW_E_NOT_IN_GRAPH;

  std::shared_ptr<Pin> output = FindOutputPin(*source, category, mediaType, true);
  if (!output && category && *category == PIN_CATEGORY_PREVIEW) {
    // No preview pin: split the capture pin's stream with a tee and use its preview output.
    const std::shared_ptr<Pin> capture = FindOutputPin(*source, &PIN_CATEGORY_CAPTURE, mediaType, true);
    if (!capture) return E_FAIL;
    const auto tee = std::make_shared<SmartTeeFilter>();
    HRESULT hr = graph_->AddFilter(tee, u"Smart Tee");
    if (FAILED(hr)) return hr;
    hr = graph_->ConnectDirect(capture, tee->Input().Self(), nullptr);
    if (FAILED(hr)) {
      graph_->RemoveFilter(tee.get());
      return hr;
    }
    output = tee->PreviewOutput().Self();
  }
  if (!output) return E_FAIL;

  if (!intermediate) return ConnectToFilter(output, *sink);
  HRESULT hr = ConnectToFilter(output, *intermediate);
  if (FAILED(hr)) return hr;
  const std::shared_ptr<Pin> next = FindPin(*intermediate, PINDIR_OUTPUT, true);
  if (!next) return VFW_E_CANNOT_CONNECT;
  return ConnectToFilter(next, *sink);
}

}  // namespace capture
