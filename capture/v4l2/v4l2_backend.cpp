#include "capture/v4l2/v4l2_backend.h"

#include <fcntl.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "capture/device_source_filter.h"
#include "capture/v4l2/v4l2_source_device.h"

namespace capture {
namespace {

struct NodeInfo {
  std::string path;
  std::string card;
};

class V4l2DeviceEntry final : public DeviceEntry {
 public:
  V4l2DeviceEntry(std::shared_ptr<V4l2System> system, NodeInfo node)
      : system_(std::move(system)), node_(std::move(node)) {}

  HRESULT Probe() override { return S_OK; }  // the node answered as a capture device when listed
  HRESULT ReadFriendlyName(std::u16string* name) override {
    if (!name) return E_POINTER;
    *name = Utf8ToUtf16(node_.card);
    return S_OK;
  }
  HRESULT BindSourceFilter(std::shared_ptr<BaseFilter>* filter) override {
    if (!filter) return E_POINTER;
    std::unique_ptr<V4l2SourceDevice> device;
    const HRESULT hr = V4l2SourceDevice::Open(system_, node_.path, &device);
    if (FAILED(hr)) return hr;
    std::shared_ptr<DeviceSourceFilter> source = DeviceSourceFilter::Create(std::move(device));
    if (!source) return E_OUTOFMEMORY;
    *filter = std::move(source);
    return S_OK;
  }

 private:
  std::shared_ptr<V4l2System> system_;
  NodeInfo node_;
};

class V4l2DeviceList final : public DeviceList {
 public:
  V4l2DeviceList(std::shared_ptr<V4l2System> system, std::vector<NodeInfo> nodes)
      : system_(std::move(system)), nodes_(std::move(nodes)) {}

  HRESULT Next(std::unique_ptr<DeviceEntry>* device) override {
    if (!device) return E_POINTER;
    if (next_ >= nodes_.size()) return S_FALSE;
    *device = std::make_unique<V4l2DeviceEntry>(system_, nodes_[next_++]);
    return S_OK;
  }

 private:
  std::shared_ptr<V4l2System> system_;
  std::vector<NodeInfo> nodes_;
  std::size_t next_ = 0;
};

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

HRESULT V4l2Backend::OpenDeviceList(std::unique_ptr<DeviceList>* list) {
  if (!list) return E_POINTER;
  if (!system_) return E_UNEXPECTED;
  std::vector<NodeInfo> nodes;
  for (const std::string& path : system_->ListVideoNodes()) {
    NodeInfo node{path, {}};
    if (QueryCaptureNode(*system_, path, &node.card)) nodes.push_back(std::move(node));
  }
  const bool empty = nodes.empty();
  *list = std::make_unique<V4l2DeviceList>(system_, std::move(nodes));
  return empty ? S_FALSE : S_OK;
}

std::unique_ptr<DeviceBackend> MakeV4l2Backend() { return std::make_unique<V4l2Backend>(MakeKernelV4l2System()); }

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string result;
  std::size_t i = 0;
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  while (i < text.size()) {
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t code = 0;
    if (lead < 0x80) {
      length = 1;
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      code = lead & 0x07;
    }
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80)
        valid = false;
      else
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are malformed too.
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (valid && (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))) valid = false;
    if (!valid) {
      result.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      result.push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  return result;
}

}  // namespace capture
