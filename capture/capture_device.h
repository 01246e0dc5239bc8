// One device slot's record: the objects of its capture graph, its frame size and its mailbox. Its
// destruction is the device's teardown.
#pragma once

#include <memory>

#include "capture/capture_graph.h"
#include "capture/sample_grabber_callback.h"

namespace capture {

inline constexpr int kDeviceNameLength = 255;

class CaptureDevice {
 public:
  CaptureDevice();
  // The teardown: short form for a record whose graph construction never began, full form otherwise.
  ~CaptureDevice();
  CaptureDevice(const CaptureDevice&) = delete;
  CaptureDevice& operator=(const CaptureDevice&) = delete;

  // Fixes the frame size and sizes the callback's buffer; only the first call counts.
  void SetFrameSize(int width, int height);
  // Disconnects and removes from the graph every filter downstream of `filter`, deepest first.
  void DismantleDownstream(BaseFilter* filter);
  // Removes every filter from the graph, printing each name.
  void RemoveAllFilters();

  int frameBytes = 0;
  int frameWidth = 0;
  int frameHeight = 0;
  int requestedWidth = 0;
  int requestedHeight = 0;

  std::unique_ptr<CaptureGraphBuilder> pCaptureBuilder;
  std::shared_ptr<FilterGraph> pGraph;
  std::shared_ptr<MediaControl> pControl;
  std::shared_ptr<BaseFilter> pSourceFilter;    // held only while the graph is built
  std::shared_ptr<BaseFilter> pGrabberFilter;   // held only while the graph is built
  std::shared_ptr<BaseFilter> pRendererFilter;  // held only while the graph is built
  std::shared_ptr<StreamConfig> pStreamConfig;  // held until the null renderer is created
  std::shared_ptr<SampleGrabber> pGrabber;
  std::unique_ptr<MediaType> pAmMediaType;
  std::unique_ptr<SampleGrabberCallback> pCallback;

  bool useCrossbar = false;
  bool captureReady = false;
  bool sizeFixed = false;
  bool setupBegun = false;
  int connectionType = 2;  // composite video
  int deviceIndex = -1;
  char deviceName[kDeviceNameLength] = {};
  char16_t deviceNameW[kDeviceNameLength] = {};
};

// Frees a media type handed out by a stream configuration; null is allowed.
void ClearMediaType(MediaType* type);
void DestroyMediaType(std::unique_ptr<MediaType>& type);

}  // namespace capture
