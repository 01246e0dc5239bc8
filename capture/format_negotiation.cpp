// Format negotiation: the requested size or the closest one offered, with the first subtype the
// stream accepts in the fixed order.
#include <cstdint>
#include <cstdlib>

#include "capture/capture_log.h"
#include "capture/capture_manager.h"

namespace capture {

namespace {

constexpr std::int64_t kNoBestCandidate = 999999;
constexpr std::int32_t kNoClosestSize = 9999999;

struct AxisChoice {
  std::int64_t best = kNoBestCandidate;
  bool exact = false;
};

// The result of walking the candidates minimum, minimum + step, ... up to maximum in rising order,
// keeping an equal one, or else one strictly closer than the best so far (which starts at 999999);
// computed directly so that wide ranges cost nothing and nothing overflows.
AxisChoice ChooseOnAxis(std::int64_t minimum, std::int64_t maximum, std::int64_t step, std::int64_t asked) {
  AxisChoice choice;
  if (step < 1 || minimum > maximum) return choice;
  const std::int64_t last = (maximum - minimum) / step;
  std::int64_t index = asked <= minimum ? 0 : (asked - minimum) / step;
  if (index > last) index = last;
  std::int64_t nearest = minimum + index * step;
  if (nearest == asked) {
    choice.best = asked;
    choice.exact = true;
    return choice;
  }
  if (index < last) {
    const std::int64_t above = nearest + step;
    if (std::llabs(above - asked) < std::llabs(nearest - asked)) nearest = above;
  }
  if (std::llabs(nearest - asked) < std::llabs(kNoBestCandidate - asked)) choice.best = nearest;
  return choice;
}

std::int64_t Distance(std::int64_t a, std::int64_t b) { return std::llabs(a - b); }

const char* const kSubtypeNames[kCaptureSubtypeCount] = {"RGB24 no conversion needed\n",
                                                         "RGB32",
                                                         "RGB555",
                                                         "RGB565",
                                                         "YUY2",
                                                         "YVYU",
                                                         "YUYV",
                                                         "IYUV",
                                                         "UYVY",
                                                         "YV12",
                                                         "YVU9",
                                                         "Y411",
                                                         "Y41P",
                                                         "Y211",
                                                         "AYUV",
                                                         "Y800",
                                                         "Y8",
                                                         "GREY"};

}  // namespace

void CaptureManager::NegotiateFormat(CaptureDevice& device) {
  StreamConfig& stream = *device.pStreamConfig;
  const VIDEOINFOHEADER* read = device.pAmMediaType->VideoInfo();
  const int defaultWidth = read->bmiHeader.biWidth;
  const int defaultHeight = read->bmiHeader.biHeight;

  std::unique_ptr<MediaType> saved;
  stream.GetFormat(&saved);

  int askedWidth = device.requestedWidth;
  int askedHeight = device.requestedHeight;
  std::int64_t closestWidth = kNoClosestSize;
  std::int64_t closestHeight = kNoClosestSize;
  bool exact = false;
  int count = 0;
  int size = 0;
  stream.GetNumberOfCapabilities(&count, &size);
  if (size == static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)) && count > 0) {
    for (int index = 0; index < count; ++index) {
      std::unique_ptr<MediaType> capabilityType;
      VIDEO_STREAM_CONFIG_CAPS caps{};
      if (FAILED(stream.GetStreamCaps(index, &capabilityType, &caps))) continue;
      if (caps.OutputGranularityX < 1 || caps.OutputGranularityY < 1) {
        DestroyMediaType(capabilityType);
        continue;
      }
      const AxisChoice width =
          ChooseOnAxis(caps.MinOutputSize.cx, caps.MaxOutputSize.cx, caps.OutputGranularityX, askedWidth);
      const AxisChoice height =
          ChooseOnAxis(caps.MinOutputSize.cy, caps.MaxOutputSize.cy, caps.OutputGranularityY, askedHeight);
      if (width.exact && height.exact) {
        exact = true;
        DestroyMediaType(capabilityType);
        break;
      }
      if (Distance(askedWidth, width.best) + Distance(askedHeight, height.best) <
          Distance(askedWidth, closestWidth) + Distance(askedHeight, closestHeight)) {
        closestWidth = width.best;
        closestHeight = height.best;
      }
      DestroyMediaType(capabilityType);
    }
  }
  if (!exact) {
    VerbosePrintf("SETUP: %i by %i not supported closest supported size is %i %i\n", askedWidth, askedHeight,
                  static_cast<int>(closestWidth), static_cast<int>(closestHeight));
    askedWidth = static_cast<int>(closestWidth);
    askedHeight = static_cast<int>(closestHeight);
  }

  MediaType& offer = *device.pAmMediaType;
  bool accepted = false;
  for (const GUID& subtype : captureSubtypes_) {
    offer.majortype = MEDIATYPE_Video;
    offer.subtype = subtype;
    offer.formattype = FORMAT_VideoInfo;
    offer.format->bmiHeader.biWidth = askedWidth;
    offer.format->bmiHeader.biHeight = askedHeight;
    if (stream.SetFormat(offer) == S_OK) {
      accepted = true;
      break;
    }
  }

  if (accepted) {
    const int frameWidth = offer.format->bmiHeader.biWidth;
    const int frameHeight = offer.format->bmiHeader.biHeight;
    VerbosePrintf("SETUP: Setting capture size to %i by %i \n", askedWidth, askedHeight);
    const char* name = "OTHER";
    for (int index = 0; index < kCaptureSubtypeCount; ++index) {
      if (captureSubtypes_[index] == offer.subtype) {
        name = kSubtypeNames[index];
        break;
      }
    }
    VerbosePrintf("SETUP: Media Type is %s", name);
    if (offer.subtype != MEDIASUBTYPE_RGB24) VerbosePrintf(" converted to RGB24\n");
    device.SetFrameSize(frameWidth, frameHeight);
  } else {
    if (saved) stream.SetFormat(*saved);
    DestroyMediaType(device.pAmMediaType);
    stream.GetFormat(&device.pAmMediaType);
    device.SetFrameSize(defaultWidth, defaultHeight);
    VerbosePrintf("SETUP: Capture Device doesn't support %i by %i.  Reverting to %i by %i\n", askedWidth, askedHeight,
                  defaultWidth, defaultHeight);
  }
  DestroyMediaType(saved);
}

}  // namespace capture
