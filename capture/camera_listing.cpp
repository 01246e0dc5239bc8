#include "capture/camera_listing.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace capture {
namespace {

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
    else if (code >= 0xD800 && code <= 0xDFFF)
      code = 0xFFFD;
    const int extra = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    static constexpr unsigned char kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(kLead[extra] | (code >> (6 * extra)));
    for (int k = extra - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((code >> (6 * k)) & 0x3F));
  }
  return out;
}

std::string SizeText(const Capability& caps) {
  char text[96];
  if (caps.minWidth == caps.maxWidth && caps.minHeight == caps.maxHeight)
    std::snprintf(text, sizeof text, "%dx%d", caps.maxWidth, caps.maxHeight);
  else if (caps.stepX == 1 && caps.stepY == 1)
    std::snprintf(text, sizeof text, "%dx%d-%dx%d", caps.minWidth, caps.minHeight, caps.maxWidth, caps.maxHeight);
  else
    std::snprintf(text, sizeof text, "%dx%d-%dx%d step %dx%d", caps.minWidth, caps.minHeight, caps.maxWidth,
                  caps.maxHeight, caps.stepX, caps.stepY);
  return text;
}

std::string FormatsLine(const DeviceEntry& entry) {
  std::unique_ptr<SourceDevice> device;
  const HRESULT opened = entry.open(&device);
  if (FAILED(opened) || !device) {
    char text[64];
    std::snprintf(text, sizeof text, "   (cannot be opened: error 0x%08X)\n", static_cast<unsigned>(opened));
    return text;
  }
  std::vector<std::pair<std::string, std::vector<std::string>>> formats;  // in order of appearance
  for (const Capability& caps : device->Capabilities()) {
    const std::string name = SubtypeName(caps.subtype);
    auto format = std::find_if(formats.begin(), formats.end(), [&](const auto& f) { return f.first == name; });
    if (format == formats.end()) format = formats.insert(formats.end(), {name, {}});
    const std::string size = SizeText(caps);
    if (std::find(format->second.begin(), format->second.end(), size) == format->second.end())
      format->second.push_back(size);
  }
  if (formats.empty()) return "   (no formats offered)\n";
  std::string line = "  ";
  for (std::size_t f = 0; f < formats.size(); ++f) {
    line += (f == 0 ? " " : "; ") + formats[f].first;
    for (std::size_t s = 0; s < formats[f].second.size(); ++s) line += (s == 0 ? " " : ", ") + formats[f].second[s];
  }
  return line + "\n";
}

}  // namespace

std::string SubtypeName(const GUID& subtype) {
  for (const NamedSubtype& named : kCaptureSubtypes)
    if (named.subtype == subtype) return named.name;
  if (subtype != FourccGuid(subtype.Data1)) return "OTHER";
  std::string name;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((subtype.Data1 >> (8 * i)) & 0xFF);
    if (c < 0x20 || c >= 0x7F) return "OTHER";
    name += c;
  }
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

std::string ListCameras(DeviceBackend& backend) {
  const std::vector<DeviceEntry> devices = backend.ListDevices();
  if (devices.empty()) return "no cameras found\n";
  std::string text;
  // Numbered like the viewer finds them.
  for (std::size_t number = 0; number < devices.size(); ++number)
    text += std::to_string(number) + ": " + Utf16ToUtf8(devices[number].name) + "\n" + FormatsLine(devices[number]);
  return text;
}

}  // namespace capture
