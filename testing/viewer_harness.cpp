#include "testing/viewer_harness.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

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

cv::Mat TellingFrame(int side) {
  cv::Mat frame(768, 1024, CV_8UC3);
  for (int r = 0; r < frame.rows; ++r)
    for (int c = 0; c < frame.cols; ++c)
      frame.at<cv::Vec3b>(r, c) = cv::Vec3b(c & 0xFF, (c >> 8) | (side << 4), (r * 7) & 0xFF);
  return frame;
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

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

ProgramRun RunProgram(const std::string& commandLine) {
  const TempDir streams;
  const std::string command = commandLine + " >" + streams.File("out") + " 2>" + streams.File("err") + " </dev/null";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(streams.File("out")), Slurp(streams.File("err"))};
}

}  // namespace testkit
