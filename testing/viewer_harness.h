// A StereoViewer on the fake window system and the off-screen displays (with a fault plan), sharing
// one call log; frames that show where their pixels went; a temporary directory; files and programs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/stereo_viewer.h"
#include "display/offscreen/offscreen_display.h"
#include "testing/fake_window_system.h"

namespace testkit {

struct ViewerHarness {
  ViewerHarness();
  ~ViewerHarness();

  // The platform for one viewer, with `faults` as they are now; no cameras unless given.
  app::Platform MakePlatform(std::unique_ptr<capture::DeviceBackend> cameras = nullptr);
  std::unique_ptr<app::StereoViewer> MakeViewer(app::ViewerConfig config = IdentityConfig());
  static app::ViewerConfig IdentityConfig();

  // The log entries that start with `prefix` ("display: ", "window: "), without it.
  std::vector<std::string> Calls(const std::string& prefix) const;

  std::shared_ptr<WindowState> window = std::make_shared<WindowState>();
  std::shared_ptr<display::OffscreenScreens> screens = std::make_shared<display::OffscreenScreens>();
  display::OffscreenFaultPlan faults;
};

// A 1024 x 768 frame whose every pixel tells where it came from: blue and green the column, red the
// row, green's top bits the side (1 or 2); a shifted, swapped or reordered view cannot match it.
cv::Mat TellingFrame(int side);

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

// A file's whole content ("" when it cannot be read), its lines, and a directory's entries, sorted.
std::string Slurp(const std::string& path);
std::vector<std::string> Lines(const std::string& path);
std::vector<std::string> Entries(const std::string& dir);

// A built program run through the shell: its exit code (-1 when it did not exit) and both streams.
struct ProgramRun {
  int code = -1;
  std::string out, err;
};
ProgramRun RunProgram(const std::string& commandLine);

}  // namespace testkit
