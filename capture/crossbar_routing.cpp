// Crossbar routing: connects the input of the wanted connector type to the decoder of an analogue card.
#include "capture/capture_log.h"
#include "capture/capture_manager.h"

namespace capture {

HRESULT CaptureManager::RouteCrossbar(CaptureGraphBuilder* captureBuilder, BaseFilter* sourceFilter, int connectionType,
                                      GUID category) {
  if (!captureBuilder || !sourceFilter) return E_POINTER;
  {
    std::shared_ptr<Crossbar> probe;
    const HRESULT hr = captureBuilder->FindCrossbar(&LOOK_UPSTREAM_ONLY, nullptr, sourceFilter, &probe);
    if (FAILED(hr)) {
      VerbosePrintf("SETUP: You are a webcam or snazzy firewire cam! No Crossbar needed\n");
      return hr;
    }
    VerbosePrintf("SETUP: You are not a webcam! Setting Crossbar\n");
  }

  std::shared_ptr<Crossbar> crossbar;
  HRESULT hr = captureBuilder->FindCrossbar(&category, &MEDIATYPE_Interleaved, sourceFilter, &crossbar);
  if (hr != S_OK) {
    hr = captureBuilder->FindCrossbar(&category, &MEDIATYPE_Video, sourceFilter, &crossbar);
    if (hr != S_OK) return hr;
  }
  if (!crossbar) return E_POINTER;

  long outputs = 0;
  long inputs = 0;
  crossbar->GetPinCounts(&outputs, &inputs);
  long matching = -1;
  long physicalType = 0;
  for (long input = 0; input < inputs; ++input) {
    long related = 0;
    long type = 0;
    // An input whose description cannot be read is not a match.
    if (FAILED(crossbar->GetCrossbarPinInfo(true, input, &related, &type))) continue;
    if (type == connectionType) {
      matching = input;
      physicalType = type;
      break;
    }
  }
  if (inputs <= 0 || matching < 0) {
    VerbosePrintf("SETUP: Didn't find specified Physical Connection type. Using Defualt. \n");
    return VFW_E_NOT_FOUND;
  }

  VerbosePrintf("SETUP: Found Physical Interface");
  switch (physicalType) {
    case PhysConn_Video_Tuner: VerbosePrintf(" - Tuner\n"); break;
    case PhysConn_Video_Composite: VerbosePrintf(" - Composite\n"); break;
    case PhysConn_Video_SVideo: VerbosePrintf(" - S-Video\n"); break;
    case PhysConn_Video_1394: VerbosePrintf(" - Firewire\n"); break;
    case PhysConn_Video_USB: VerbosePrintf(" - USB\n"); break;
    default: break;
  }
  return crossbar->Route(0, matching);
}

}  // namespace capture
