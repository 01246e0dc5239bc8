#include "capture/filter_base.h"

#include <algorithm>
#include <utility>

namespace capture {

namespace {

class SnapshotPinEnumerator final : public PinEnumerator {
 public:
  explicit SnapshotPinEnumerator(std::vector<std::shared_ptr<Pin>> pins) : pins_(std::move(pins)) {}
  HRESULT Reset() override {
    next_ = 0;
    return S_OK;
  }
  HRESULT Next(std::shared_ptr<Pin>* pin) override {
    if (!pin) return E_POINTER;
    if (next_ >= pins_.size()) {
      pin->reset();
      return S_FALSE;
    }
    *pin = pins_[next_++];
    return S_OK;
  }

 private:
  std::vector<std::shared_ptr<Pin>> pins_;
  std::size_t next_ = 0;
};

}  // namespace

bool MatchesPattern(const MediaType& pattern, const MediaType& type) {
  if (pattern.majortype != GUID_NULL && pattern.majortype != type.majortype) return false;
  if (pattern.subtype != GUID_NULL && pattern.subtype != type.subtype) return false;
  if (pattern.formattype != GUID_NULL && pattern.formattype != type.formattype) return false;
  return true;
}

PinBase::PinBase(FilterBase& owner, std::u16string name, PinDirection direction)
    : owner_(owner), name_(std::move(name)), direction_(direction) {}

std::shared_ptr<Pin> PinBase::Self() { return std::shared_ptr<Pin>(owner_.shared_from_this(), this); }

HRESULT PinBase::ConnectedTo(std::shared_ptr<Pin>* peer) {
  if (!peer) return E_POINTER;
  std::lock_guard<std::mutex> lock(connectionMutex_);
  *peer = direction_ == PINDIR_OUTPUT ? downstream_ : upstream_.lock();
  return *peer ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT PinBase::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = owner_.shared_from_this();
  info->dir = direction_;
  info->achName = name_;
  return S_OK;
}

HRESULT PinBase::QueryDirection(PinDirection* direction) {
  if (!direction) return E_POINTER;
  *direction = direction_;
  return S_OK;
}

HRESULT PinBase::ConnectionMediaType(MediaType* type) {
  if (!type) return E_POINTER;
  std::lock_guard<std::mutex> lock(connectionMutex_);
  if (!connected_) return VFW_E_NOT_CONNECTED;
  *type = connectionType_;
  return S_OK;
}

HRESULT PinBase::Disconnect() {
  bool wasConnected;
  std::shared_ptr<Pin> released;  // dropped outside the lock: it may end the peer filter's life
  {
    std::lock_guard<std::mutex> lock(connectionMutex_);
    wasConnected = connected_;
    released = std::move(downstream_);
    upstream_.reset();
    connectionType_ = MediaType{};
    connected_ = false;
  }
  if (!wasConnected) return S_FALSE;
  OnDisconnected();
  return S_OK;
}

bool PinBase::IsConnected() const {
  std::lock_guard<std::mutex> lock(connectionMutex_);
  return connected_;
}

void PinBase::SetPeer(const std::shared_ptr<Pin>& peer, const MediaType& type) {
  std::lock_guard<std::mutex> lock(connectionMutex_);
  if (direction_ == PINDIR_OUTPUT)
    downstream_ = peer;
  else
    upstream_ = peer;
  connectionType_ = type;
  connected_ = true;
}

std::shared_ptr<Pin> PinBase::DownstreamPeer() const {
  std::lock_guard<std::mutex> lock(connectionMutex_);
  return downstream_;
}

HRESULT InputPinBase::ReceiveConnection(const std::shared_ptr<Pin>& connector, const MediaType& type) {
  if (!connector) return E_POINTER;
  if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
  if (QueryAccept(type) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
  SetPeer(connector, type);
  const HRESULT hr = OnConnected(type);
  if (FAILED(hr)) PinBase::Disconnect();
  return hr;
}

HRESULT OutputPinBase::Connect(const std::shared_ptr<Pin>& receivePin, const MediaType* type) {
  if (!receivePin) return E_POINTER;
  if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
  HRESULT result = VFW_E_NO_ACCEPTABLE_TYPES;
  MediaType offered;
  for (int index = 0; GetMediaType(index, &offered) == S_OK; ++index) {
    if (type && !MatchesPattern(*type, offered)) continue;
    HRESULT hr = receivePin->ReceiveConnection(Self(), offered);
    if (FAILED(hr)) {
      result = hr;
      continue;
    }
    SetPeer(receivePin, offered);
    hr = OnConnected(offered);
    if (SUCCEEDED(hr)) return S_OK;
    receivePin->Disconnect();
    PinBase::Disconnect();
    result = hr;
  }
  return result;
}

HRESULT OutputPinBase::QueryAccept(const MediaType& type) {
  MediaType offered;
  for (int index = 0; GetMediaType(index, &offered) == S_OK; ++index)
    if (offered == type) return S_OK;
  return S_FALSE;
}

HRESULT OutputPinBase::Deliver(MediaSample& sample) {
  const std::shared_ptr<Pin> peer = DownstreamPeer();
  if (!peer) return S_FALSE;
  return peer->Receive(sample);
}

HRESULT FilterBase::EnumPins(std::unique_ptr<PinEnumerator>* pins) {
  if (!pins) return E_POINTER;
  std::vector<std::shared_ptr<Pin>> all;
  const std::shared_ptr<BaseFilter> self = shared_from_this();
  all.reserve(static_cast<std::size_t>(std::max(PinCount(), 0)));
  for (int index = 0; index < PinCount(); ++index) all.emplace_back(self, PinAt(index));
  *pins = std::make_unique<SnapshotPinEnumerator>(std::move(all));
  return S_OK;
}

HRESULT FilterBase::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  info->achName = name_;
  info->pGraph = graph_;
  return S_OK;
}

HRESULT FilterBase::JoinFilterGraph(FilterGraph* graph, const std::u16string& name) {
  graph_ = graph;
  name_ = graph ? name.substr(0, 127) : std::u16string();
  return S_OK;
}

HRESULT FilterBase::Run() {
  const HRESULT hr = OnRun();
  if (FAILED(hr)) return hr;
  std::lock_guard<std::mutex> lock(stateMutex_);
  if (state_ != State_Running) runStart_ = std::chrono::steady_clock::now();
  state_ = State_Running;
  return hr;
}

HRESULT FilterBase::Pause() {
  const HRESULT hr = OnPause();
  if (FAILED(hr)) return hr;
  std::lock_guard<std::mutex> lock(stateMutex_);
  state_ = State_Paused;
  return hr;
}

HRESULT FilterBase::Stop() {
  const HRESULT hr = OnStop();
  if (FAILED(hr)) return hr;
  std::lock_guard<std::mutex> lock(stateMutex_);
  state_ = State_Stopped;
  return hr;
}

FilterState FilterBase::State() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return state_;
}

double FilterBase::StreamTime() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  if (state_ != State_Running) return 0.0;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - runStart_).count();
}

}  // namespace capture
