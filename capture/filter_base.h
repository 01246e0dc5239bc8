// Building blocks for filters of the capture graph: a filter with a fixed set of pins, and input and
// output pins that implement the connection protocol and pass samples downstream.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/capture_graph.h"

namespace capture {

class FilterBase;

// What both kinds of pin share: owner, name, direction and the current connection.
class PinBase : public Pin {
 public:
  PinBase(FilterBase& owner, std::u16string name, PinDirection direction);

  HRESULT ConnectedTo(std::shared_ptr<Pin>* peer) override;
  HRESULT QueryPinInfo(PIN_INFO* info) override;
  HRESULT QueryDirection(PinDirection* direction) override;
  HRESULT QueryCategory(GUID* category) override { return E_NOTIMPL; }
  HRESULT ConnectionMediaType(MediaType* type) override;
  HRESULT Disconnect() override;

  bool IsConnected() const;
  FilterBase& Owner() const { return owner_; }
  // This pin as a shared reference that keeps its filter alive.
  std::shared_ptr<Pin> Self();

 protected:
  // Called with the agreed type once a connection is made; a failure undoes it.
  virtual HRESULT OnConnected(const MediaType& type) { return S_OK; }
  virtual void OnDisconnected() {}
  // Records the connection; output pins hold their peer strongly (samples flow to it), input pins
  // weakly (no ownership cycle).
  void SetPeer(const std::shared_ptr<Pin>& peer, const MediaType& type);
  // The connected input pin of an output pin, or null.
  std::shared_ptr<Pin> DownstreamPeer() const;

 private:
  FilterBase& owner_;
  const std::u16string name_;
  const PinDirection direction_;
  mutable std::mutex connectionMutex_;  // guards the three fields below
  std::shared_ptr<Pin> downstream_;
  std::weak_ptr<Pin> upstream_;
  MediaType connectionType_;
  bool connected_ = false;
};

class InputPinBase : public PinBase {
 public:
  InputPinBase(FilterBase& owner, std::u16string name) : PinBase(owner, std::move(name), PINDIR_INPUT) {}

  HRESULT Connect(const std::shared_ptr<Pin>& receivePin, const MediaType* type) override { return E_UNEXPECTED; }
  HRESULT ReceiveConnection(const std::shared_ptr<Pin>& connector, const MediaType& type) override;
  // Input pins state no preference.
  HRESULT GetMediaType(int index, MediaType* type) override { return S_FALSE; }
};

class OutputPinBase : public PinBase {
 public:
  OutputPinBase(FilterBase& owner, std::u16string name) : PinBase(owner, std::move(name), PINDIR_OUTPUT) {}

  HRESULT Connect(const std::shared_ptr<Pin>& receivePin, const MediaType* type) override;
  HRESULT ReceiveConnection(const std::shared_ptr<Pin>& connector, const MediaType& type) override {
    return E_UNEXPECTED;
  }
  // Accepts the types the pin offers.
  HRESULT QueryAccept(const MediaType& type) override;

  // Passes a sample to the connected input pin; S_FALSE when unconnected. Runs on the streaming thread;
  // the downstream filter stays alive for the call even if it is disconnected meanwhile.
  HRESULT Deliver(MediaSample& sample);
};

// A filter whose pins exist for its whole life.
class FilterBase : public BaseFilter {
 public:
  HRESULT EnumPins(std::unique_ptr<PinEnumerator>* pins) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT JoinFilterGraph(FilterGraph* graph, const std::u16string& name) override;
  HRESULT Run() override;
  HRESULT Pause() override;
  HRESULT Stop() override;

  FilterState State() const;
  FilterGraph* Graph() const { return graph_; }
  // Seconds since the filter last started running (the stream time of samples).
  double StreamTime() const;

  virtual int PinCount() const = 0;
  virtual PinBase* PinAt(int index) = 0;

 protected:
  // State hooks, called before the state is recorded; a failure keeps the old state.
  virtual HRESULT OnRun() { return S_OK; }
  virtual HRESULT OnPause() { return S_OK; }
  virtual HRESULT OnStop() { return S_OK; }

 private:
  FilterGraph* graph_ = nullptr;
  std::u16string name_;
  mutable std::mutex stateMutex_;  // guards state_ and runStart_ (read on streaming threads)
  FilterState state_ = State_Stopped;
  std::chrono::steady_clock::time_point runStart_{};
};

// True when `type` matches `pattern`; GUID_NULL fields of the pattern match anything.
bool MatchesPattern(const MediaType& pattern, const MediaType& type);

}  // namespace capture
