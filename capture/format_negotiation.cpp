#include "capture/format_negotiation.h"

#include <cstdint>
#include <cstdlib>

#include "capture/capture_log.h"

namespace capture {
namespace {

constexpr std::int64_t kNoBestCandidate = 999999;
constexpr std::int64_t kNoClosestSize = 9999999;

struct AxisChoice {
  std::int64_t best = kNoBestCandidate;
  bool exact = false;
};

// The result of walking the candidates minimum, minimum + step, ... up to maximum in rising order,
// keeping an equal one, or else one strictly closer than the best so far (which starts at 999999);
// computed directly so that wide ranges cost nothing and nothing overflows.
AxisChoice ChooseOnAxis(std::int64_t minimum, std::int64_t maximum, std::int64_t step, std::int64_t asked) {
  AxisChoice choice;
  if (minimum > maximum) return choice;
  const std::int64_t last = (maximum - minimum) / step;
  std::int64_t index = asked <= minimum ? 0 : (asked - minimum) / step;
  if (index > last) index = last;
  std::int64_t nearest = minimum + index * step;
  if (nearest == asked) return AxisChoice{asked, true};
  if (index < last && std::llabs(nearest + step - asked) < std::llabs(nearest - asked)) nearest += step;
  if (std::llabs(nearest - asked) < std::llabs(kNoBestCandidate - asked)) choice.best = nearest;
  return choice;
}

std::int64_t Distance(std::int64_t a, std::int64_t b) { return std::llabs(a - b); }

}  // namespace

void NegotiateFormat(SourceDevice& source, const StreamFormat& current, int requestedWidth, int requestedHeight,
                     const std::function<void(int width, int height)>& setFrameSize) {
  int askedWidth = requestedWidth;
  int askedHeight = requestedHeight;
  std::int64_t closestWidth = kNoClosestSize;
  std::int64_t closestHeight = kNoClosestSize;
  bool exact = false;
  for (const Capability& caps : source.Capabilities()) {
    if (caps.stepX < 1 || caps.stepY < 1) continue;
    const AxisChoice width = ChooseOnAxis(caps.minWidth, caps.maxWidth, caps.stepX, askedWidth);
    const AxisChoice height = ChooseOnAxis(caps.minHeight, caps.maxHeight, caps.stepY, askedHeight);
    if (width.exact && height.exact) {
      exact = true;
      break;
    }
    if (Distance(askedWidth, width.best) + Distance(askedHeight, height.best) <
        Distance(askedWidth, closestWidth) + Distance(askedHeight, closestHeight)) {
      closestWidth = width.best;
      closestHeight = height.best;
    }
  }
  if (!exact) {
    VerbosePrintf("SETUP: %i by %i not supported closest supported size is %i %i\n", askedWidth, askedHeight,
                  static_cast<int>(closestWidth), static_cast<int>(closestHeight));
    askedWidth = static_cast<int>(closestWidth);
    askedHeight = static_cast<int>(closestHeight);
  }

  for (const NamedSubtype& offer : kCaptureSubtypes) {
    if (!source.SetFormat(StreamFormat{offer.subtype, askedWidth, askedHeight})) continue;
    VerbosePrintf("SETUP: Setting capture size to %i by %i \n", askedWidth, askedHeight);
    if (offer.subtype == MEDIASUBTYPE_RGB24)
      VerbosePrintf("SETUP: Media Type is RGB24 no conversion needed\n");
    else
      VerbosePrintf("SETUP: Media Type is %s converted to RGB24\n", offer.name);
    setFrameSize(askedWidth, askedHeight);
    return;
  }
  source.SetFormat(current);
  setFrameSize(current.width, current.height);
  VerbosePrintf("SETUP: Capture Device doesn't support %i by %i.  Reverting to %i by %i\n", askedWidth, askedHeight,
                current.width, current.height);
}

}  // namespace capture
