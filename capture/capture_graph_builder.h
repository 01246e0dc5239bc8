// The shared capture graph builder.
#pragma once

#include <memory>

#include "capture/capture_graph.h"

namespace capture {

class StandardCaptureGraphBuilder : public CaptureGraphBuilder {
 public:
  HRESULT SetFiltergraph(const std::shared_ptr<FilterGraph>& graph) override;
  HRESULT FindStreamConfig(const GUID* category, const GUID* mediaType, BaseFilter* filter,
                           std::shared_ptr<StreamConfig>* config) override;
  HRESULT FindCrossbar(const GUID* category, const GUID* mediaType, BaseFilter* filter,
                       std::shared_ptr<Crossbar>* crossbar) override;
  HRESULT RenderStream(const GUID* category, const GUID* mediaType, BaseFilter* source, BaseFilter* intermediate,
                       BaseFilter* sink) override;

 private:
  // Connects `output` to the first free input pin of `filter`, directly or through a colour converter.
  HRESULT ConnectToFilter(const std::shared_ptr<Pin>& output, BaseFilter& filter);
  bool InGraph(BaseFilter& filter) const;

  std::shared_ptr<FilterGraph> graph_;
};

// The output pin of `filter` of `category` (null: any) and media major type (null: any); with
// `freeOnly`, only an unconnected one. Null when there is none.
std::shared_ptr<Pin> FindOutputPin(BaseFilter& filter, const GUID* category, const GUID* mediaType, bool freeOnly);

}  // namespace capture
