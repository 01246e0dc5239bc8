#include "capture/capture_graph.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>

#include "capture/capture_log.h"
#include "capture/format_negotiation.h"

namespace capture {
namespace {

constexpr std::size_t kDeviceNameLength = 255;  // a zero ends the name within it
constexpr std::size_t kFilterNameLength = 127;

// The low byte of each unit, no code-page conversion.
std::string LowBytes(const std::u16string& text) {
  std::string bytes;
  for (const char16_t unit : text) bytes.push_back(static_cast<char>(unit & 0xFF));
  return bytes;
}

}  // namespace

void CaptureGraph::Grabber::Deliver(const std::uint8_t* data, std::size_t length,
                                    std::chrono::steady_clock::time_point captured) {
  MutexLock lock(mutex_);
  if (mailbox_) mailbox_->Store(data, length, captured);
}

void CaptureGraph::Grabber::SetCallback(FrameMailbox* mailbox) {
  MutexLock lock(mutex_);
  mailbox_ = mailbox;
}

CaptureGraph::CaptureGraph(int deviceNumber, int requestedWidth, int requestedHeight)
    : deviceNumber_(deviceNumber), requestedWidth_(requestedWidth), requestedHeight_(requestedHeight) {}

bool CaptureGraph::Fail(const char* message) {
  VerbosePrintf("%s", message);
  return false;
}

void CaptureGraph::AddFilter(const std::u16string& name) {
  std::u16string unique = name.substr(0, kFilterNameLength);
  for (int number = 1; std::find(filters_.begin(), filters_.end(), unique) != filters_.end(); ++number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, " %04d", number);
    unique = name.substr(0, kFilterNameLength - 5);
    for (const char* digit = digits; *digit; ++digit) unique.push_back(static_cast<char16_t>(*digit));
  }
  filters_.push_back(unique);
}

void CaptureGraph::SetFrameSize(int width, int height) {
  // A size without pixels, or too large to count in an int, leaves the device without frames.
  const std::int64_t pixels = static_cast<std::int64_t>(width) * height;
  if (width < 1 || height < 1 || pixels > INT_MAX / 3) {
    VerbosePrintf("ERROR: %i by %i is not a usable frame size\n", width, height);
    return;
  }
  frameWidth_ = width;
  frameHeight_ = height;
  frameBytes_ = static_cast<int>(pixels * 3);
  if (!mailbox_.Allocate(static_cast<std::size_t>(frameBytes_)))
    VerbosePrintf("ERROR: could not allocate a frame of %i bytes\n", frameBytes_);
}

bool CaptureGraph::Build(DeviceBackend& backend, int listed) {
  VerbosePrintf("SETUP: Setting up device %i\n", deviceNumber_);
  std::vector<DeviceEntry> devices = backend.ListDevices();
  HRESULT hr = VFW_E_NOT_FOUND;
  std::u16string name;
  const auto index = static_cast<std::size_t>(listed < 0 ? deviceNumber_ : listed);
  if (index < devices.size()) {
    entry_ = devices[index];
    name = entry_.name.substr(0, std::min(entry_.name.find(u'\0'), kDeviceNameLength - 1));
    hr = entry_.open(&source_);
  }
  if (FAILED(hr) || !source_) return Fail("ERROR - Could not find specified video device\n");
  VerbosePrintf("SETUP: %s\n", LowBytes(name).c_str());
  AddFilter(name);
  stage_ = Stage::kSource;

  const bool tee = !source_->HasPreviewPin();
  if (tee) VerbosePrintf("SETUP: Couldn't find preview pin using SmartTee\n");
  StreamFormat current;
  hr = source_->GetFormat(&current);
  if (FAILED(hr)) return Fail("ERROR: Couldn't getFormat for pAmMediaType!\n");
  stage_ = Stage::kFormat;
  if (hr == S_OK)
    NegotiateFormat(*source_, current, requestedWidth_, requestedHeight_,
                    [this](int width, int height) { SetFrameSize(width, height); });
  else
    VerbosePrintf("ERROR: Problem setting video size\n");

  AddFilter(u"Sample Grabber");
  grabber_.SetCallback(&mailbox_);
  VerbosePrintf("SETUP: Capture callback set\n");
  stage_ = Stage::kGrabber;
  AddFilter(u"NullRenderer");
  stage_ = Stage::kRenderer;

  // The grabber takes RGB24 only: a stream in another subtype is connected through the converter.
  if (!source_->DeliversRgb24()) return Fail("ERROR: Could not connect pins - RenderStream()\n");
  StreamFormat delivered;
  source_->GetFormat(&delivered);
  if (tee) AddFilter(u"Smart Tee");
  if (delivered.subtype != MEDIASUBTYPE_RGB24) AddFilter(u"Color Space Converter");
  stage_ = Stage::kConnected;

  if (FAILED(source_->StartStreaming(grabber_))) return Fail("ERROR: Could not start graph\n");
  VerbosePrintf("SETUP: Device is setup and ready to capture.\n\n");
  stage_ = Stage::kRunning;
  return true;
}

CaptureGraph::~CaptureGraph() {
  VerbosePrintf("\nSETUP: Disconnecting device %i\n", deviceNumber_);
  if (stage_ >= Stage::kGrabber) {
    grabber_.SetCallback(nullptr);
    VerbosePrintf("SETUP: freeing Grabber Callback\n");
  }
  if (source_) source_->StopStreaming();

  // A graph that never ran still holds the filters it was being built from.
  const bool partial = stage_ != Stage::kRunning;
  if (partial && stage_ >= Stage::kRenderer) VerbosePrintf("SETUP: freeing Renderer \n");
  if (partial && stage_ >= Stage::kSource) VerbosePrintf("SETUP: freeing Capture Source \n");
  if (partial && stage_ >= Stage::kGrabber) VerbosePrintf("SETUP: freeing Grabber Filter  \n");
  if (stage_ >= Stage::kGrabber) VerbosePrintf("SETUP: freeing Grabber  \n");
  VerbosePrintf("SETUP: freeing Control   \n");
  if (stage_ == Stage::kSource) VerbosePrintf("SETUP: freeing Stream  \n");
  if (stage_ >= Stage::kFormat) VerbosePrintf("SETUP: freeing Media Type  \n");

  // A connected graph that did not run is first taken apart downstream of the source, silently; the
  // filters left are removed newest first.
  if (stage_ == Stage::kConnected) filters_.resize(1);
  for (auto filter = filters_.rbegin(); filter != filters_.rend(); ++filter) {
    const std::string name = LowBytes(*filter);
    VerbosePrintf("SETUP: removing filter %s...\n", name.c_str());
    VerbosePrintf("SETUP: filter removed %s  \n", name.c_str());
  }
  VerbosePrintf("SETUP: freeing Capture Graph \n");
  VerbosePrintf("SETUP: freeing Main Graph \n");
  VerbosePrintf("SETUP: Device %i disconnected and freed\n\n", deviceNumber_);
}

}  // namespace capture
