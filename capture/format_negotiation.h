// Format negotiation: the requested size, or the closest one the device offers, in the first subtype
// of the fixed order that the stream takes.
#pragma once

#include <functional>

#include "capture/device_backend.h"

namespace capture {

// Sets the stream of `source`, whose format was just read as `current`, and fixes the frame size with
// `setFrameSize`: the size the stream took, or `current`'s own when it refused every offer (the
// stream is then put back).
void NegotiateFormat(SourceDevice& source, const StreamFormat& current, int requestedWidth, int requestedHeight,
                     const std::function<void(int width, int height)>& setFrameSize);

}  // namespace capture
