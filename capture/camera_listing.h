// The cameras as users see them: the text of the viewer's --list-cameras option (every video input
// device under the number the viewer opens it by, its paths, the sizes it offers per format and its
// controls), and the camera a word of --cameras names.
#pragma once

#include <string>
#include <vector>

#include "capture/device_backend.h"

namespace capture {

// Lines "0: <name>", each followed by its node and stable paths, one a line ("   /dev/video0"), then
// "   YUYV 1024x768, 640x480; MJPG 1280x720" (ranges as "160x120-1280x960 step 8x8"), then, when it
// has any, its controls ("   exposure 3-2047: 250 (auto), gain 0-255: 32"); "no cameras found" when
// there are none. Each line ends with '\n'. Opens each device briefly to read its formats.
std::string ListCameras(DeviceBackend& backend);

// The listed camera `word` names: a device number, its node, one of its stable paths, or a part of
// its name (any case) that no other camera's name has. -1 with a one-line `error` that names the
// candidates when no camera or more than one fits.
int ChooseCamera(const std::vector<DeviceEntry>& devices, const std::string& word, std::string* error);

// "0 \"<name>\" (<path>)": the number, the name and the path that tells it from any other camera.
std::string DescribeCamera(const std::vector<DeviceEntry>& devices, int number);

// UTF-16 units as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

}  // namespace capture
