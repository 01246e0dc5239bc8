#include "tests/support/viewer_harness.h"

#include <cstdlib>
#include <filesystem>

#include "app/error_text.h"

namespace testing_support {

ViewerHarness::ViewerHarness() {
  app::ResetShellState();
  window->log = &log;
  display->log = &log;
}

ViewerHarness::~ViewerHarness() { app::ResetShellState(); }

app::Platform ViewerHarness::MakePlatform(std::unique_ptr<capture::DeviceBackend> cameras) {
  app::Platform platform;
  platform.windows = std::make_unique<fake::FakeWindowSystem>(window);
  platform.displays = std::make_unique<fake::FakeDisplayDriver>(display);
  platform.cameras = std::move(cameras);
  return platform;
}

std::unique_ptr<app::StereoViewer> ViewerHarness::MakeViewer(app::ViewerConfig config) {
  return std::make_unique<app::StereoViewer>(MakePlatform(), std::move(config));
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

std::string DataDir() { return VIEWER_TEST_DATA_DIR; }

}  // namespace testing_support
