// The text of the viewer's --list-cameras option: every video input device under the number the
// viewer opens it by, with the sizes it offers per format.
#pragma once

#include <string>

#include "capture/device_backend.h"

namespace capture {

// Lines "0: <name>", each followed by "   YUYV 1024x768, 640x480; MJPG 1280x720" (ranges as
// "160x120-1280x960 step 8x8"); "no cameras found" when there are none. Each line ends with '\n'.
// Opens each device briefly to read its formats.
std::string ListCameras(DeviceBackend& backend);

}  // namespace capture
