#include "capture/v4l2/v4l2_backend.h"

#include <fcntl.h>
#include <linux/videodev2.h>

#include <cstring>

#include "capture/v4l2/v4l2_source_device.h"

namespace capture {
namespace {

// The node's card name when it captures video (metadata and output nodes do not).
bool QueryCaptureNode(V4l2System& system, const std::string& path, std::string* card) {
  const int fd = system.Open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  v4l2_capability capability{};
  const bool queried = Xioctl(system, fd, VIDIOC_QUERYCAP, &capability) == 0;
  system.Close(fd);
  if (!queried) return false;
  const std::uint32_t caps =
      (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps : capability.capabilities;
  if (!(caps & V4L2_CAP_VIDEO_CAPTURE)) return false;
  const char* text = reinterpret_cast<const char*>(capability.card);
  *card = std::string(text, strnlen(text, sizeof(capability.card)));
  if (card->empty()) *card = path;
  return true;
}

}  // namespace

std::vector<DeviceEntry> V4l2Backend::ListDevices() {
  std::vector<DeviceEntry> devices;
  const std::vector<std::pair<std::string, std::string>> links = system_->ListStableLinks();
  for (const std::string& path : system_->ListVideoNodes()) {
    std::string card;
    if (!QueryCaptureNode(*system_, path, &card)) continue;
    DeviceEntry entry{Utf8ToUtf16(card),
                      [system = system_, path](std::unique_ptr<SourceDevice>* device) {
                        std::unique_ptr<V4l2SourceDevice> opened;
                        const HRESULT hr = V4l2SourceDevice::Open(system, path, &opened);
                        *device = std::move(opened);
                        return hr;
                      },
                      path,
                      {}};
    for (const auto& [link, node] : links)
      if (node == path) entry.stablePaths.push_back(link);
    devices.push_back(std::move(entry));
  }
  return devices;
}

std::unique_ptr<DeviceBackend> MakeV4l2Backend() { return std::make_unique<V4l2Backend>(MakeKernelV4l2System()); }

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string result;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80             ? 1
                               : (lead & 0xE0) == 0xC0 ? 2
                               : (lead & 0xF0) == 0xE0 ? 3
                               : (lead & 0xF8) == 0xF0 ? 4
                                                       : 0;
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are malformed too.
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!valid || code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      result.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      result.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      result.push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  return result;
}

}  // namespace capture
