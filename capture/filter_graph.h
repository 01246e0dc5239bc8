// The shared filter graph: holds filters under names, connects their pins, and runs, pauses and
// stops them together.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/capture_graph.h"

namespace capture {

inline constexpr HRESULT VFW_S_DUPLICATE_NAME = 0x0004022D;

class StandardFilterGraph : public FilterGraph,
                            public MediaControl,
                            public std::enable_shared_from_this<StandardFilterGraph> {
 public:
  StandardFilterGraph() = default;
  // Stops, disconnects and lets go of the filters still held.
  ~StandardFilterGraph() override;

  HRESULT AddFilter(const std::shared_ptr<BaseFilter>& filter, const std::u16string& name) override;
  HRESULT RemoveFilter(BaseFilter* filter) override;
  HRESULT EnumFilters(std::unique_ptr<FilterEnumerator>* filters) override;
  HRESULT ConnectDirect(const std::shared_ptr<Pin>& output, const std::shared_ptr<Pin>& input,
                        const MediaType* type) override;
  HRESULT Disconnect(Pin* pin) override;
  HRESULT QueryMediaControl(std::shared_ptr<MediaControl>* control) override;

  HRESULT Run() override;
  HRESULT Pause() override;
  HRESULT Stop() override;

  FilterState State() const { return state_; }
  std::size_t FilterCount() const { return filters_.size(); }

 private:
  struct Entry {
    std::shared_ptr<BaseFilter> filter;
    std::u16string name;
  };
  bool Contains(const BaseFilter* filter) const;
  bool NameTaken(const std::u16string& name) const;
  void DisconnectPins(BaseFilter& filter);

  std::vector<Entry> filters_;  // most recently added first
  FilterState state_ = State_Stopped;
};

}  // namespace capture
