// A StereoViewer wired to the fake window and display backends, with a shared call log.
#pragma once

#include <memory>
#include <string>

#include "app/fake/call_log.h"
#include "app/fake/fake_window_system.h"
#include "app/stereo_viewer.h"
#include "display/fake/fake_display.h"

namespace testing_support {

struct ViewerHarness {
  ViewerHarness();
  ~ViewerHarness();

  // The platform for one viewer; the harness keeps the states for inspection.
  app::Platform MakePlatform(std::unique_ptr<capture::DeviceBackend> cameras = nullptr);
  std::unique_ptr<app::StereoViewer> MakeViewer(app::ViewerConfig config = IdentityConfig());

  static app::ViewerConfig IdentityConfig() {
    app::ViewerConfig config;
    config.identityMaps = true;
    return config;
  }

  fake::CallLog log;
  std::shared_ptr<fake::WindowState> window = std::make_shared<fake::WindowState>();
  std::shared_ptr<fake::DisplayState> display = std::make_shared<fake::DisplayState>();
};

// A fresh directory under the system's temporary directory, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string DataDir();

}  // namespace testing_support
