#include "capture/capture_device.h"

#include <climits>
#include <cstdint>

#include "capture/capture_log.h"

namespace capture {

void ClearMediaType(MediaType* type) {
  if (type && type->format) type->format.reset();
}

void DestroyMediaType(std::unique_ptr<MediaType>& type) {
  if (!type) return;
  ClearMediaType(type.get());
  type.reset();
}

CaptureDevice::CaptureDevice() : pCallback(std::make_unique<SampleGrabberCallback>()) {}

void CaptureDevice::SetFrameSize(int width, int height) {
  if (sizeFixed) {
    VerbosePrintf("SETUP: Error device size should not be set more than once \n");
    return;
  }
  sizeFixed = true;
  // A size without pixels, or too large to count in an int, leaves the device without frames. The
  // pixel count of two ints fits in 64 bits; three bytes of each may not.
  const std::int64_t pixels = static_cast<std::int64_t>(width) * height;
  if (width < 1 || height < 1 || pixels > INT_MAX / 3) {
    VerbosePrintf("ERROR: %i by %i is not a usable frame size\n", width, height);
    return;
  }
  frameWidth = width;
  frameHeight = height;
  frameBytes = static_cast<int>(pixels * 3);
  if (!pCallback->bufferReady && !pCallback->AllocateBuffer(frameBytes))
    VerbosePrintf("ERROR: could not allocate a frame of %i bytes\n", frameBytes);
}

CaptureDevice::~CaptureDevice() {
  if (!setupBegun) {
    pCallback.reset();
    return;
  }
  VerbosePrintf("\nSETUP: Disconnecting device %i\n", deviceIndex);

  // The grabber must not call the callback once it is destroyed. If it could not be detached, it stays
  // alive until the graph has been released (which stops every filter).
  std::unique_ptr<SampleGrabberCallback> stillAttached;
  if (pCallback && pGrabber) {
    if (FAILED(pGrabber->SetCallback(nullptr, 1))) stillAttached = std::move(pCallback);
    VerbosePrintf("SETUP: freeing Grabber Callback\n");
  }
  pCallback.reset();

  if (pControl) {
    if (FAILED(pControl->Pause())) VerbosePrintf("ERROR - Could not pause pControl\n");
    if (FAILED(pControl->Stop())) VerbosePrintf("ERROR - Could not stop pControl\n");
  }
  if (pSourceFilter) DismantleDownstream(pSourceFilter.get());

  if (pRendererFilter) {
    VerbosePrintf("SETUP: freeing Renderer \n");
    pRendererFilter.reset();
  }
  if (pSourceFilter) {
    VerbosePrintf("SETUP: freeing Capture Source \n");
    pSourceFilter.reset();
  }
  if (pGrabberFilter) {
    VerbosePrintf("SETUP: freeing Grabber Filter  \n");
    pGrabberFilter.reset();
  }
  if (pGrabber) {
    VerbosePrintf("SETUP: freeing Grabber  \n");
    pGrabber.reset();
  }
  if (pControl) {
    VerbosePrintf("SETUP: freeing Control   \n");
    pControl.reset();
  }
  if (pStreamConfig) {
    VerbosePrintf("SETUP: freeing Stream  \n");
    pStreamConfig.reset();
  }
  if (pAmMediaType) {
    VerbosePrintf("SETUP: freeing Media Type  \n");
    DestroyMediaType(pAmMediaType);
  }
  if (pGraph) RemoveAllFilters();
  if (pCaptureBuilder) {
    VerbosePrintf("SETUP: freeing Capture Graph \n");
    pCaptureBuilder.reset();
  }
  if (pGraph) {
    VerbosePrintf("SETUP: freeing Main Graph \n");
    pGraph.reset();
  }
  stillAttached.reset();
  VerbosePrintf("SETUP: Device %i disconnected and freed\n\n", deviceIndex);
}

void CaptureDevice::DismantleDownstream(BaseFilter* filter) {
  if (!filter || !pGraph) return;
  std::unique_ptr<PinEnumerator> pins;
  if (filter->EnumPins(&pins) != S_OK || !pins) return;
  pins->Reset();
  for (;;) {
    std::shared_ptr<Pin> pin;
    if (pins->Next(&pin) != S_OK) break;
    if (!pin) continue;
    std::shared_ptr<Pin> peer;
    pin->ConnectedTo(&peer);
    if (!peer) continue;
    PIN_INFO info;
    if (peer->QueryPinInfo(&info) != S_OK) break;
    if (info.dir == PINDIR_INPUT) {
      DismantleDownstream(info.pFilter.get());
      pGraph->Disconnect(peer.get());
      pGraph->Disconnect(pin.get());
      pGraph->RemoveFilter(info.pFilter.get());
    }
  }
}

void CaptureDevice::RemoveAllFilters() {
  for (;;) {
    std::unique_ptr<FilterEnumerator> filters;
    if (FAILED(pGraph->EnumFilters(&filters))) {
      VerbosePrintf("SETUP: pGraph->EnumFilters() failed. \n");
      return;
    }
    std::shared_ptr<BaseFilter> filter;
    if (!filters || filters->Next(&filter) != S_OK || !filter) return;

    FILTER_INFO info;
    filter->QueryFilterInfo(&info);
    // Low bytes of the name, no code-page conversion.
    char name[256] = {};
    for (std::size_t i = 0; i < info.achName.size() && i < sizeof name - 1 && info.achName[i] != 0; ++i)
      name[i] = static_cast<char>(info.achName[i] & 0xFF);
    VerbosePrintf("SETUP: removing filter %s...\n", name);

    const HRESULT hr = pGraph->RemoveFilter(filter.get());
    if (FAILED(hr)) {
      VerbosePrintf("SETUP: pGraph->RemoveFilter() failed. \n");
      return;
    }
    VerbosePrintf("SETUP: filter removed %s  \n", name);
    if (hr != S_OK) return;
  }
}

}  // namespace capture
