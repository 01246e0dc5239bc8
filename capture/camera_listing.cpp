#include "capture/camera_listing.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace capture {
namespace {

struct NamedSubtype {
  GUID subtype;
  const char* name;
};

constexpr NamedSubtype kNames[] = {
    {MEDIASUBTYPE_RGB24, "RGB24"},   {MEDIASUBTYPE_RGB32, "RGB32"}, {MEDIASUBTYPE_RGB555, "RGB555"},
    {MEDIASUBTYPE_RGB565, "RGB565"}, {MEDIASUBTYPE_YUY2, "YUY2"},   {MEDIASUBTYPE_YVYU, "YVYU"},
    {MEDIASUBTYPE_YUYV, "YUYV"},     {MEDIASUBTYPE_IYUV, "IYUV"},   {MEDIASUBTYPE_UYVY, "UYVY"},
    {MEDIASUBTYPE_YV12, "YV12"},     {MEDIASUBTYPE_YVU9, "YVU9"},   {MEDIASUBTYPE_Y411, "Y411"},
    {MEDIASUBTYPE_Y41P, "Y41P"},     {MEDIASUBTYPE_Y211, "Y211"},   {MEDIASUBTYPE_AYUV, "AYUV"},
    {MEDIASUBTYPE_Y800, "Y800"},     {MEDIASUBTYPE_Y8, "Y8"},       {MEDIASUBTYPE_GREY, "GREY"},
};

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

std::string SizeText(const VIDEO_STREAM_CONFIG_CAPS& caps) {
  char text[96];
  if (caps.MinOutputSize == caps.MaxOutputSize) {
    std::snprintf(text, sizeof(text), "%dx%d", caps.MaxOutputSize.cx, caps.MaxOutputSize.cy);
  } else if (caps.OutputGranularityX == 1 && caps.OutputGranularityY == 1) {
    std::snprintf(text, sizeof(text), "%dx%d-%dx%d", caps.MinOutputSize.cx, caps.MinOutputSize.cy,
                  caps.MaxOutputSize.cx, caps.MaxOutputSize.cy);
  } else {
    std::snprintf(text, sizeof(text), "%dx%d-%dx%d step %dx%d", caps.MinOutputSize.cx, caps.MinOutputSize.cy,
                  caps.MaxOutputSize.cx, caps.MaxOutputSize.cy, caps.OutputGranularityX, caps.OutputGranularityY);
  }
  return text;
}

// The stream configuration of the filter's capture pin, or of its first pin that has one.
std::shared_ptr<StreamConfig> StreamOf(BaseFilter& filter) {
  std::unique_ptr<PinEnumerator> pins;
  if (FAILED(filter.EnumPins(&pins)) || !pins) return nullptr;
  std::shared_ptr<StreamConfig> first;
  std::shared_ptr<Pin> pin;
  while (pins->Next(&pin) == S_OK) {
    std::shared_ptr<StreamConfig> config;
    if (!pin || FAILED(pin->QueryStreamConfig(&config)) || !config) continue;
    GUID category;
    if (SUCCEEDED(pin->QueryCategory(&category)) && category == PIN_CATEGORY_CAPTURE) return config;
    if (!first) first = config;
  }
  return first;
}

std::string FormatsLine(DeviceEntry& entry) {
  std::shared_ptr<BaseFilter> filter;
  const HRESULT bound = entry.BindSourceFilter(&filter);
  char text[64];
  if (FAILED(bound) || !filter) {
    std::snprintf(text, sizeof(text), "   (cannot be opened: error 0x%08X)\n", static_cast<unsigned>(bound));
    return text;
  }
  std::shared_ptr<StreamConfig> stream = StreamOf(*filter);
  int count = 0, size = 0;
  if (!stream || FAILED(stream->GetNumberOfCapabilities(&count, &size)) ||
      size != static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)) || count <= 0)
    return "   (no formats offered)\n";

  std::vector<std::pair<std::string, std::vector<std::string>>> formats;  // in order of appearance
  for (int index = 0; index < count; ++index) {
    std::unique_ptr<MediaType> type;
    VIDEO_STREAM_CONFIG_CAPS caps;
    if (FAILED(stream->GetStreamCaps(index, &type, &caps)) || !type) continue;
    const std::string name = SubtypeName(type->subtype);
    auto format = std::find_if(formats.begin(), formats.end(), [&](const auto& f) { return f.first == name; });
    if (format == formats.end()) format = formats.insert(formats.end(), {name, {}});
    const std::string sizeText = SizeText(caps);
    if (std::find(format->second.begin(), format->second.end(), sizeText) == format->second.end())
      format->second.push_back(sizeText);
  }
  if (formats.empty()) return "   (no formats offered)\n";
  std::string line = "  ";
  for (std::size_t f = 0; f < formats.size(); ++f) {
    line += f == 0 ? " " : "; ";
    line += formats[f].first;
    for (std::size_t s = 0; s < formats[f].second.size(); ++s) line += (s == 0 ? " " : ", ") + formats[f].second[s];
  }
  return line + "\n";
}

}  // namespace

std::string SubtypeName(const GUID& subtype) {
  for (const NamedSubtype& named : kNames)
    if (named.subtype == subtype) return named.name;
  const GUID fourccPattern = FourccGuid(subtype.Data1);
  if (subtype == fourccPattern) {
    std::string name;
    for (int i = 0; i < 4; ++i) {
      const char c = static_cast<char>((subtype.Data1 >> (8 * i)) & 0xFF);
      if (c < 0x20 || c >= 0x7F) return "OTHER";
      name += c;
    }
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
  }
  return "OTHER";
}

std::string ListCameras(DeviceBackend& backend) {
  std::unique_ptr<DeviceList> list;
  std::string text;
  int number = 0;
  if (SUCCEEDED(backend.OpenDeviceList(&list)) && list) {
    std::unique_ptr<DeviceEntry> entry;
    // Numbered like the viewer finds them: every device the list returns takes a number.
    while (list->Next(&entry) == S_OK) {
      text += std::to_string(number++) + ": ";
      std::u16string name;
      if (!entry || FAILED(entry->Probe()) || FAILED(entry->ReadFriendlyName(&name))) {
        text += "(no name)\n";
        continue;
      }
      text += Utf16ToUtf8(name) + "\n";
      text += FormatsLine(*entry);
    }
  }
  if (number == 0) return "no cameras found\n";
  return text;
}

}  // namespace capture
