#include "testing/viewer_harness.h"

#include <cstdlib>
#include <filesystem>

#include "app/error_text.h"

namespace testkit {

ViewerHarness::ViewerHarness() { app::ResetShellState(); }

ViewerHarness::~ViewerHarness() { app::ResetShellState(); }

app::Platform ViewerHarness::MakePlatform(std::unique_ptr<capture::DeviceBackend> cameras) {
  display::OffscreenFaultPlan plan = faults;
  plan.journal = [log = window](const std::string& event) { log->log.push_back("display: " + event); };
  app::Platform platform;
  platform.windows = std::make_unique<FakeWindowSystem>(window);
  platform.displays = display::MakeOffscreenDisplayDriver(screens, std::move(plan));
  platform.cameras = std::move(cameras);
  return platform;
}

std::unique_ptr<app::StereoViewer> ViewerHarness::MakeViewer(app::ViewerConfig config) {
  return std::make_unique<app::StereoViewer>(MakePlatform(), std::move(config));
}

app::ViewerConfig ViewerHarness::IdentityConfig() {
  app::ViewerConfig config;
  config.identityMaps = true;
  return config;
}

std::vector<std::string> ViewerHarness::Calls(const std::string& prefix) const {
  std::vector<std::string> calls;
  for (const std::string& entry : window->log)
    if (entry.rfind(prefix, 0) == 0) calls.push_back(entry.substr(prefix.size()));
  return calls;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "viewer-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  path_ = made ? made : "";
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

}  // namespace testkit
