// Graph construction of one device: source, sample grabber with the device's callback, null renderer.
#include <string>

#include "capture/capture_log.h"
#include "capture/capture_manager.h"

namespace capture {

namespace {

// Success with nothing to show for it counts as a failure of that step.
HRESULT Checked(HRESULT hr, bool present) { return SUCCEEDED(hr) && !present ? E_POINTER : hr; }

std::u16string NameOf(const char16_t (&name)[kDeviceNameLength]) {
  std::u16string result;
  for (char16_t unit : name) {
    if (unit == 0) break;
    result.push_back(unit);
  }
  return result;
}

}  // namespace

HRESULT CaptureManager::FindDevice(std::shared_ptr<BaseFilter>* sourceFilter, int deviceNumber,
                                   char16_t (&wideName)[kDeviceNameLength], char (&narrowName)[kDeviceNameLength]) {
  std::unique_ptr<DeviceList> list;
  const HRESULT listed = backend_->OpenDeviceList(&list);
  if (FAILED(listed)) return listed;
  if (listed != S_OK || !list) return VFW_E_NOT_FOUND;

  bool found = false;
  HRESULT result = VFW_E_NOT_FOUND;
  int position = 0;
  std::unique_ptr<DeviceEntry> entry;
  while (!found && list->Next(&entry) == S_OK) {
    if (position == deviceNumber && entry && SUCCEEDED(entry->Probe())) {
      std::u16string name;
      if (SUCCEEDED(entry->ReadFriendlyName(&name))) {
        // Names that do not fit are cut so that a zero still ends both buffers.
        std::size_t length = 0;
        while (length < name.size() && length < kDeviceNameLength - 1 && name[length] != 0) {
          wideName[length] = name[length];
          narrowName[length] = static_cast<char>(name[length] & 0xFF);
          ++length;
        }
        wideName[length] = 0;
        narrowName[length] = 0;
        result = entry->BindSourceFilter(sourceFilter);
        result = Checked(result, *sourceFilter != nullptr);
        found = true;
      }
    }
    ++position;
    entry.reset();
  }
  return found ? result : VFW_E_NOT_FOUND;
}

int CaptureManager::BuildGraph(int deviceNumber, CaptureDevice& device) {
  // Prints the step's message, closes the device (the record is gone afterwards) and gives the result.
  auto fail = [this, deviceNumber](const char* message, HRESULT hr) {
    VerbosePrintf("%s", message);
    CloseDevice(deviceNumber);
    return hr;
  };

  device.deviceIndex = deviceNumber;
  device.setupBegun = true;
  pinCategory_ = PIN_CATEGORY_CAPTURE;
  VerbosePrintf("SETUP: Setting up device %i\n", deviceNumber);

  HRESULT hr = backend_->CreateCaptureGraphBuilder(&device.pCaptureBuilder);
  hr = Checked(hr, device.pCaptureBuilder != nullptr);
  if (FAILED(hr)) {
    VerbosePrintf("ERROR - Could not create the Filter Graph Manager\n");
    device.pCaptureBuilder.reset();
    return hr;
  }
  hr = backend_->CreateFilterGraph(&device.pGraph);
  hr = Checked(hr, device.pGraph != nullptr);
  if (FAILED(hr)) return fail("ERROR - Could not add the graph builder!\n", hr);
  hr = device.pCaptureBuilder->SetFiltergraph(device.pGraph);
  if (FAILED(hr)) return fail("ERROR - Could not set filtergraph\n", hr);
  hr = device.pGraph->QueryMediaControl(&device.pControl);
  hr = Checked(hr, device.pControl != nullptr);
  if (FAILED(hr)) return fail("ERROR - Could not create the Media Control object\n", hr);

  hr = FindDevice(&device.pSourceFilter, deviceNumber, device.deviceNameW, device.deviceName);
  if (FAILED(hr)) return fail("ERROR - Could not find specified video device\n", hr);
  VerbosePrintf("SETUP: %s\n", device.deviceName);
  device.pGraph->AddFilter(device.pSourceFilter, NameOf(device.deviceNameW));

  {
    std::shared_ptr<StreamConfig> preview;
    if (SUCCEEDED(device.pCaptureBuilder->FindStreamConfig(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video,
                                                           device.pSourceFilter.get(), &preview)))
      pinCategory_ = PIN_CATEGORY_PREVIEW;
    else
      VerbosePrintf("SETUP: Couldn't find preview pin using SmartTee\n");
  }

  if (device.useCrossbar) {
    VerbosePrintf("SETUP: Checking crossbar\n");
    RouteCrossbar(device.pCaptureBuilder.get(), device.pSourceFilter.get(), device.connectionType, pinCategory_);
  }

  hr = device.pCaptureBuilder->FindStreamConfig(&pinCategory_, &MEDIATYPE_Video, device.pSourceFilter.get(),
                                                &device.pStreamConfig);
  if (FAILED(hr)) return fail("ERROR: Couldn't config the stream!\n", hr);
  if (device.pStreamConfig) {
    hr = device.pStreamConfig->GetFormat(&device.pAmMediaType);
    if (FAILED(hr)) return fail("ERROR: Couldn't getFormat for pAmMediaType!\n", hr);
    // A format without a video header cannot be negotiated; construction goes on unsized.
    if (hr == S_OK && device.pAmMediaType && device.pAmMediaType->VideoInfo())
      NegotiateFormat(device);
    else
      VerbosePrintf("ERROR: Problem setting video size\n");
  }

  hr = backend_->CreateSampleGrabber(&device.pGrabberFilter);
  hr = Checked(hr, device.pGrabberFilter != nullptr);
  if (FAILED(hr)) return fail("Could not Create Sample Grabber - CoCreateInstance()\n", hr);
  hr = device.pGraph->AddFilter(device.pGrabberFilter, u"Sample Grabber");
  if (FAILED(hr)) return fail("Could not add Sample Grabber - AddFilter()\n", hr);
  hr = device.pGrabberFilter->QuerySampleGrabber(&device.pGrabber);
  hr = Checked(hr, device.pGrabber != nullptr);
  if (FAILED(hr)) return fail("ERROR: Could not query SampleGrabber\n", hr);

  device.pGrabber->SetOneShot(false);
  device.pGrabber->SetBufferSamples(false);
  hr = device.pGrabber->SetCallback(device.pCallback.get(), 0);
  if (FAILED(hr)) return fail("ERROR: problem setting callback\n", hr);
  VerbosePrintf("SETUP: Capture callback set\n");

  MediaType grabberType;
  grabberType.majortype = MEDIATYPE_Video;
  grabberType.subtype = MEDIASUBTYPE_RGB24;
  grabberType.formattype = FORMAT_VideoInfo;
  device.pGrabber->SetMediaType(grabberType);

  if (!device.pStreamConfig) {
    VerbosePrintf("ERROR: connecting device - prehaps it is already being used?\n");
    CloseDevice(deviceNumber);
    return 1;
  }
  device.pStreamConfig.reset();

  hr = backend_->CreateNullRenderer(&device.pRendererFilter);
  hr = Checked(hr, device.pRendererFilter != nullptr);
  if (FAILED(hr)) return fail("ERROR: Could not create filter - NullRenderer\n", hr);
  hr = device.pGraph->AddFilter(device.pRendererFilter, u"NullRenderer");
  if (FAILED(hr)) return fail("ERROR: Could not add filter - NullRenderer\n", hr);
  hr = device.pCaptureBuilder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, device.pSourceFilter.get(),
                                            device.pGrabberFilter.get(), device.pRendererFilter.get());
  if (FAILED(hr)) return fail("ERROR: Could not connect pins - RenderStream()\n", hr);
  hr = device.pControl->Run();
  if (FAILED(hr)) return fail("ERROR: Could not start graph\n", hr);

  VerbosePrintf("SETUP: Device is setup and ready to capture.\n\n");
  device.captureReady = true;
  device.pSourceFilter.reset();
  device.pGrabberFilter.reset();
  device.pRendererFilter.reset();
  return 0;
}

}  // namespace capture
