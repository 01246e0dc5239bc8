#include "capture/filter_graph.h"

#include <algorithm>
#include <cstdio>

namespace capture {

namespace {

class SnapshotFilterEnumerator final : public FilterEnumerator {
 public:
  explicit SnapshotFilterEnumerator(std::vector<std::shared_ptr<BaseFilter>> filters) : filters_(std::move(filters)) {}
  HRESULT Reset() override {
    next_ = 0;
    return S_OK;
  }
  HRESULT Next(std::shared_ptr<BaseFilter>* filter) override {
    if (!filter) return E_POINTER;
    if (next_ >= filters_.size()) {
      filter->reset();
      return S_FALSE;
    }
    *filter = filters_[next_++];
    return S_OK;
  }

 private:
  std::vector<std::shared_ptr<BaseFilter>> filters_;
  std::size_t next_ = 0;
};

std::u16string NumberedName(const std::u16string& name, int number) {
  char digits[16];
  std::snprintf(digits, sizeof digits, " %04d", number);
  std::u16string result = name.substr(0, 122);
  for (const char* c = digits; *c; ++c) result.push_back(static_cast<char16_t>(*c));
  return result;
}

}  // namespace

StandardFilterGraph::~StandardFilterGraph() {
  for (Entry& entry : filters_) entry.filter->Stop();
  for (Entry& entry : filters_) {
    DisconnectPins(*entry.filter);
    entry.filter->JoinFilterGraph(nullptr, std::u16string());
  }
}

bool StandardFilterGraph::Contains(const BaseFilter* filter) const {
  return std::any_of(filters_.begin(), filters_.end(),
                     [filter](const Entry& entry) { return entry.filter.get() == filter; });
}

bool StandardFilterGraph::NameTaken(const std::u16string& name) const {
  return std::any_of(filters_.begin(), filters_.end(), [&name](const Entry& entry) { return entry.name == name; });
}

HRESULT StandardFilterGraph::AddFilter(const std::shared_ptr<BaseFilter>& filter, const std::u16string& name) {
  if (!filter) return E_POINTER;
  if (Contains(filter.get())) return E_INVALIDARG;
  FILTER_INFO info;
  if (SUCCEEDED(filter->QueryFilterInfo(&info)) && info.pGraph) return VFW_E_WRONG_STATE;  // in another graph
  std::u16string unique = name.substr(0, 127);
  HRESULT result = S_OK;
  for (int number = 1; NameTaken(unique); ++number) {
    unique = NumberedName(name, number);
    result = VFW_S_DUPLICATE_NAME;
  }
  const HRESULT hr = filter->JoinFilterGraph(this, unique);
  if (FAILED(hr)) return hr;
  filters_.insert(filters_.begin(), Entry{filter, unique});
  return result;
}

void StandardFilterGraph::DisconnectPins(BaseFilter& filter) {
  std::unique_ptr<PinEnumerator> pins;
  if (filter.EnumPins(&pins) != S_OK) return;
  std::shared_ptr<Pin> pin;
  while (pins->Next(&pin) == S_OK) {
    std::shared_ptr<Pin> peer;
    if (pin->ConnectedTo(&peer) == S_OK && peer) peer->Disconnect();
    pin->Disconnect();
  }
}

HRESULT StandardFilterGraph::RemoveFilter(BaseFilter* filter) {
  if (!filter) return E_POINTER;
  const auto found = std::find_if(filters_.begin(), filters_.end(),
                                  [filter](const Entry& entry) { return entry.filter.get() == filter; });
  if (found == filters_.end()) return VFW_E_NOT_FOUND;
  // A filter leaves the graph stopped, so nothing streams into or out of it afterwards.
  filter->Stop();
  DisconnectPins(*filter);
  filter->JoinFilterGraph(nullptr, std::u16string());
  const std::shared_ptr<BaseFilter> keep = std::move(found->filter);
  filters_.erase(found);
  return S_OK;
}

HRESULT StandardFilterGraph::EnumFilters(std::unique_ptr<FilterEnumerator>* filters) {
  if (!filters) return E_POINTER;
  std::vector<std::shared_ptr<BaseFilter>> all;
  for (const Entry& entry : filters_) all.push_back(entry.filter);
  *filters = std::make_unique<SnapshotFilterEnumerator>(std::move(all));
  return S_OK;
}

HRESULT StandardFilterGraph::ConnectDirect(const std::shared_ptr<Pin>& output, const std::shared_ptr<Pin>& input,
                                           const MediaType* type) {
  if (!output || !input) return E_POINTER;
  PIN_INFO outInfo, inInfo;
  if (FAILED(output->QueryPinInfo(&outInfo)) || FAILED(input->QueryPinInfo(&inInfo))) return E_FAIL;
  if (outInfo.dir != PINDIR_OUTPUT || inInfo.dir != PINDIR_INPUT) return E_INVALIDARG;
  if (!Contains(outInfo.pFilter.get()) || !Contains(inInfo.pFilter.get())) return VFW_E_NOT_IN_GRAPH;
  return output->Connect(input, type);
}

HRESULT StandardFilterGraph::Disconnect(Pin* pin) {
  if (!pin) return E_POINTER;
  return pin->Disconnect();
}

HRESULT StandardFilterGraph::QueryMediaControl(std::shared_ptr<MediaControl>* control) {
  if (!control) return E_POINTER;
  *control = std::shared_ptr<MediaControl>(shared_from_this(), static_cast<MediaControl*>(this));
  return S_OK;
}

HRESULT StandardFilterGraph::Run() {
  for (Entry& entry : filters_) {
    const HRESULT hr = entry.filter->Run();
    if (FAILED(hr)) {
      Stop();
      return hr;
    }
  }
  state_ = State_Running;
  return S_OK;
}

HRESULT StandardFilterGraph::Pause() {
  HRESULT result = S_OK;
  for (Entry& entry : filters_) {
    const HRESULT hr = entry.filter->Pause();
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  if (SUCCEEDED(result)) state_ = State_Paused;
  return result;
}

HRESULT StandardFilterGraph::Stop() {
  HRESULT result = S_OK;
  for (Entry& entry : filters_) {
    const HRESULT hr = entry.filter->Stop();
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  state_ = State_Stopped;
  return result;
}

}  // namespace capture
