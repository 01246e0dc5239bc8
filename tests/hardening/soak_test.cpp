// Soak: the whole viewer without a window on the synthetic cameras (30 frames per second each), for
// many frame steps, while a second thread keeps asking for camera 1 to be closed and reopened.
//
// The capture manager is single-threaded by design (only the streaming threads' SampleCB calls come
// from elsewhere), so the second thread does not touch it: it posts a reopen request, and the main
// thread carries it out between two passes, in the pass observer of app::WinMain, as a window
// message would be handled. What the test checks: every pass runs, every reopen succeeds and camera 1
// delivers again after each, camera 2 never stops, the run ends cleanly, and resident memory after
// the warm-up stays within 5 % (not under the sanitizers, whose own bookkeeping grows). Leaks and
// races are the sanitizers' part: the same test runs in the ASan and TSan builds.
//
// Length: VIEWER_SOAK_PASSES and VIEWER_SOAK_REOPEN_EVERY (scripts/soak sets 100000 and 300); the
// defaults are a short run for every test run. VIEWER_SOAK_REPORT names a file for the figures.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/error_text.h"
#include "app/headless/headless_window_system.h"
#include "app/stereo_viewer.h"
#include "capture/synthetic/synthetic_scene.h"
#include "capture/synthetic/virtual_camera_backend.h"
#include "display/offscreen/offscreen_display.h"
#include "stereo/convergence_follower.h"
#include "stereo/rectification_maps.h"

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr long kDefaultPasses = 300, kDefaultReopenEvery = 50;
constexpr bool kSanitized = true;
#elif defined(__SANITIZE_ADDRESS__)
constexpr long kDefaultPasses = 600, kDefaultReopenEvery = 100;
constexpr bool kSanitized = true;
#else
constexpr long kDefaultPasses = 1500, kDefaultReopenEvery = 150;
constexpr bool kSanitized = false;
#endif

long FromEnvironment(const char* name, long fallback) {
  const char* text = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): read before any thread starts
  if (!text || !*text) return fallback;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return *end == '\0' && value > 0 ? value : fallback;
}

long ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The second thread: asks for a reopen each time the main thread has run `every` more passes, and
// waits for it to be carried out before asking again.
class ReopenRequester {
 public:
  explicit ReopenRequester(long every) : every_(every), thread_([this] { Run(); }) {}
  ~ReopenRequester() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  // Main thread, after every pass: notes the pass and says whether a reopen is due now.
  bool PassDone() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++passes_;
    changed_.notify_all();
    if (!requested_) return false;
    requested_ = false;
    return true;
  }
  long requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (long next = every_;; next += every_) {
      changed_.wait(lock, [&] { return stopping_ || passes_ >= next; });
      if (stopping_) return;
      requested_ = true;
      ++requests_;
      changed_.wait(lock, [&] { return stopping_ || !requested_; });
    }
  }

  const long every_;
  std::mutex mutex_;  // guards everything below
  std::condition_variable changed_;
  long passes_ = 0;
  bool requested_ = false;
  long requests_ = 0;
  bool stopping_ = false;
  std::thread thread_;  // last: starts once the fields above exist
};

TEST(Soak, TheViewerRunsSteadyWhileCamera1IsClosedAndReopened) {
  const long passes = FromEnvironment("VIEWER_SOAK_PASSES", kDefaultPasses);
  const long every = FromEnvironment("VIEWER_SOAK_REOPEN_EVERY", kDefaultReopenEvery);
  const long warmUp = std::max(passes / 10, 2 * every);
  app::ResetShellState();
  stereo::ResetConvergenceFollower();

  app::Platform platform;
  platform.windows = std::make_unique<app::HeadlessWindowSystem>();
  platform.displays = display::MakeOffscreenDisplayDriver();
  platform.cameras = capture::MakeSyntheticBackend(std::make_shared<capture::SyntheticScene>());
  app::ViewerConfig config;
  config.identityMaps = true;
  config.maxPasses = passes;

  long done = 0, reopens = 0, failedReopens = 0, cyclesWithoutCamera1 = 0;
  long frames[2] = {0, 0};
  long camera1SinceReopen = 0;
  long rssWarm = 0, rssPeak = 0;
  const auto start = std::chrono::steady_clock::now();
  int exitCode = -1;
  {
    ReopenRequester requester(every);
    exitCode = app::WinMain(std::move(platform), config, [&](app::StereoViewer& viewer) {
      ++done;
      for (int side = 0; side < 2; ++side) frames[side] += viewer.lastStep.newFrame[side] ? 1 : 0;
      camera1SinceReopen += viewer.lastStep.newFrame[0] ? 1 : 0;
      if (done >= warmUp) rssPeak = std::max(rssPeak, ResidentKb());
      if (done == warmUp) rssWarm = ResidentKb();
      if (requester.PassDone()) {
        if (camera1SinceReopen == 0) ++cyclesWithoutCamera1;
        viewer.capture.CloseDevice(viewer.cameraId1);
        if (!viewer.capture.OpenDevice(viewer.cameraId1, stereo::kFrameWidth, stereo::kFrameHeight)) ++failedReopens;
        ++reopens;
        camera1SinceReopen = 0;
      }
    });
    // The request made after the last pass finds no pass left to carry it out.
    EXPECT_GE(requester.requests(), reopens);
    EXPECT_LE(requester.requests(), reopens + 1);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long rssEnd = ResidentKb();
  const double growth = rssWarm > 0 ? 100.0 * static_cast<double>(rssPeak - rssWarm) / static_cast<double>(rssWarm) : 0;

  char line[512];
  std::snprintf(line, sizeof line,
                "soak: %ld passes in %.1f s (%.0f passes/s), camera 1 reopened %ld times (%ld failed), new frames "
                "side 1 %ld, side 2 %ld; RSS after %ld warm-up passes %ld kB, peak after it %ld kB (%+.2f %%), at "
                "end %ld kB%s\n",
                done, seconds, static_cast<double>(done) / seconds, reopens, failedReopens, frames[0], frames[1],
                warmUp, rssWarm, rssPeak, growth, rssEnd, kSanitized ? " (sanitizer build: memory not judged)" : "");
  std::fputs(line, stdout);
  if (const char* report = std::getenv("VIEWER_SOAK_REPORT")) std::ofstream(report, std::ios::app) << line;

  EXPECT_EQ(exitCode, 0);
  EXPECT_TRUE(app::ErrorTextIsOk()) << app::ErrorText;
  EXPECT_EQ(done, passes);
  EXPECT_EQ(reopens, passes / every - (passes % every == 0 ? 1 : 0)) << "a reopen was requested at every " << every;
  EXPECT_EQ(failedReopens, 0);
  EXPECT_EQ(cyclesWithoutCamera1, 0) << "camera 1 must deliver again after every reopen";
  // At 30 frames per second each camera delivers in many passes; camera 2 is never interrupted.
  const double expectedFrames = 30.0 * seconds;
  EXPECT_GT(static_cast<double>(frames[1]), 0.5 * std::min(expectedFrames, static_cast<double>(passes)));
  EXPECT_GT(frames[0], 0);
  if (!kSanitized) {
    EXPECT_LE(growth, 5.0) << "resident memory grew after the warm-up";
  }
  stereo::ResetConvergenceFollower();
  app::ResetShellState();
}

}  // namespace
