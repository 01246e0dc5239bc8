#include "capture/device_backend.h"

#include "capture/capture_graph_builder.h"
#include "capture/filter_graph.h"
#include "capture/null_renderer.h"
#include "capture/sample_grabber.h"

namespace capture {

HRESULT DeviceBackend::CreateCaptureGraphBuilder(std::unique_ptr<CaptureGraphBuilder>* builder) {
  if (!builder) return E_POINTER;
  *builder = std::make_unique<StandardCaptureGraphBuilder>();
  return S_OK;
}

HRESULT DeviceBackend::CreateFilterGraph(std::shared_ptr<FilterGraph>* graph) {
  if (!graph) return E_POINTER;
  *graph = std::make_shared<StandardFilterGraph>();
  return S_OK;
}

HRESULT DeviceBackend::CreateSampleGrabber(std::shared_ptr<BaseFilter>* filter) {
  if (!filter) return E_POINTER;
  *filter = std::make_shared<SampleGrabberFilter>();
  return S_OK;
}

HRESULT DeviceBackend::CreateNullRenderer(std::shared_ptr<BaseFilter>* filter) {
  if (!filter) return E_POINTER;
  *filter = std::make_shared<NullRendererFilter>();
  return S_OK;
}

}  // namespace capture
