#include "capture/camera_listing.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace capture {

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

namespace {

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

std::string ControlsLine(const std::vector<Control>& controls) {
  std::string line;
  for (const Control& c : controls) {
    char text[128];
    const int n = std::snprintf(text, sizeof text, "%s %s %d-%d", line.empty() ? "  " : ",", ControlName(c.kind),
                                c.minimum, c.maximum);
    if (c.step > 1) std::snprintf(text + n, sizeof text - n, " step %d", c.step);
    line += text + (": " + std::to_string(c.value));
    if (c.hasAutomatic) line += c.automatic ? " (auto)" : " (manual)";
  }
  return line.empty() ? "" : line + "\n";
}

std::string FormatsLine(const DeviceEntry& entry) {
  std::unique_ptr<SourceDevice> device;
  const HRESULT opened = entry.open(&device);
  if (FAILED(opened) || !device) {
    char text[64];
    std::snprintf(text, sizeof text, "   (cannot be opened: error 0x%08X)\n", static_cast<unsigned>(opened));
    return text;
  }
  const std::string controls = ControlsLine(device->Controls());
  std::vector<std::pair<std::string, std::vector<std::string>>> formats;  // in order of appearance
  for (const Capability& caps : device->Capabilities()) {
    const std::string name = SubtypeName(caps.subtype);
    auto format = std::find_if(formats.begin(), formats.end(), [&](const auto& f) { return f.first == name; });
    if (format == formats.end()) format = formats.insert(formats.end(), {name, {}});
    const std::string size = SizeText(caps);
    if (std::find(format->second.begin(), format->second.end(), size) == format->second.end())
      format->second.push_back(size);
  }
  if (formats.empty()) return "   (no formats offered)\n" + controls;
  std::string line = "  ";
  for (std::size_t f = 0; f < formats.size(); ++f) {
    line += (f == 0 ? " " : "; ") + formats[f].first;
    for (std::size_t s = 0; s < formats[f].second.size(); ++s) line += (s == 0 ? " " : ", ") + formats[f].second[s];
  }
  return line + "\n" + controls;
}

std::string PathLines(const DeviceEntry& entry) {
  std::string lines = entry.path.empty() ? "" : "   " + entry.path + "\n";
  for (const std::string& path : entry.stablePaths) lines += "   " + path + "\n";
  return lines;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
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
    text += std::to_string(number) + ": " + Utf16ToUtf8(devices[number].name) + "\n" + PathLines(devices[number]) +
            FormatsLine(devices[number]);
  return text;
}

std::string DescribeCamera(const std::vector<DeviceEntry>& devices, int number) {
  const DeviceEntry& entry = devices[static_cast<std::size_t>(number)];
  std::string text = std::to_string(number) + " \"" + Utf16ToUtf8(entry.name) + "\"";
  // The by-path link is last and differs for every port, also between cameras of one make.
  const std::string& path = entry.stablePaths.empty() ? entry.path : entry.stablePaths.back();
  return path.empty() ? text : text + " (" + path + ")";
}

int ChooseCamera(const std::vector<DeviceEntry>& devices, const std::string& word, std::string* error) {
  const int count = static_cast<int>(devices.size());
  const bool number = !word.empty() && word.size() <= 9 && word.find_first_not_of("0123456789") == std::string::npos;
  const bool path = !word.empty() && word.front() == '/';
  std::vector<int> fits;
  for (int i = 0; i < count; ++i) {
    const DeviceEntry& entry = devices[static_cast<std::size_t>(i)];
    const auto& links = entry.stablePaths;
    if (number ? std::stoi(word) == i
        : path ? word == entry.path || std::find(links.begin(), links.end(), word) != links.end()
               : !word.empty() && Lower(Utf16ToUtf8(entry.name)).find(Lower(word)) != std::string::npos)
      fits.push_back(i);
  }
  if (fits.size() == 1) return fits.front();
  const bool ambiguous = !fits.empty();
  if (!ambiguous)
    for (int i = 0; i < count; ++i) fits.push_back(i);
  std::string candidates;
  for (std::size_t k = 0; k < fits.size(); ++k)
    candidates += (k == 0 ? "" : ambiguous && k + 1 == fits.size() ? " or " : ", ") + DescribeCamera(devices, fits[k]);
  if (ambiguous)
    *error = "--cameras: '" + word + "' could be " + candidates + "; name one by its number or path";
  else
    *error =
        "--cameras: no camera '" + word + "'; " + (count ? "the cameras are " + candidates : "there are no cameras");
  return -1;
}

}  // namespace capture
