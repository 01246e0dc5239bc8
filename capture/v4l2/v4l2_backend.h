// The V4L2 backend of the capture graph: the /dev/video* nodes that capture video, in ascending node
// number, named by their card names, each opened as a V4l2SourceDevice.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "capture/device_backend.h"
#include "capture/v4l2/v4l2_system.h"

namespace capture {

class V4l2Backend final : public DeviceBackend {
 public:
  // Takes the system calls it runs on (the kernel, or a fake kernel in tests).
  explicit V4l2Backend(std::shared_ptr<V4l2System> system) : system_(std::move(system)) {}

  std::vector<DeviceEntry> ListDevices() override;

 private:
  std::shared_ptr<V4l2System> system_;
};

// The backend over the real kernel.
std::unique_ptr<DeviceBackend> MakeV4l2Backend();

// UTF-8 as UTF-16 units; a malformed sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace capture
