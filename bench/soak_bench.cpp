// Soak: the viewer's pass (pipeline and off-screen displays) on the synthetic cameras, 30 frames per
// second each, for many passes, camera 1 closed and reopened between passes now and then. Every
// reopen must succeed and camera 1 deliver again after each, camera 2 must never stop, and resident
// memory after the warm-up must stay within 5 % (not judged under the sanitizers, whose own
// bookkeeping grows; leaks and races are theirs to find: CI runs a short soak in the ASan and TSan
// builds). Prints its figures; exits 1 when a target is missed.
// Length: VIEWER_SOAK_PASSES and VIEWER_SOAK_REOPEN_EVERY (scripts/soak sets 100000 and 300); the
// defaults are a short run. VIEWER_SOAK_REPORT names a file for the figures.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "capture/synthetic/synthetic_scene.h"
#include "capture/synthetic/virtual_camera_backend.h"
#include "display/display_pair.h"
#include "display/offscreen/offscreen_display.h"
#include "stereo/frame_pipeline.h"
#include "stereo/rectification_maps.h"

namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#if defined(__SANITIZE_THREAD__)
constexpr long kDefaultPasses = 300, kDefaultReopenEvery = 50;
#else
constexpr long kDefaultPasses = kSanitized ? 600 : 1500, kDefaultReopenEvery = kSanitized ? 100 : 150;
#endif

long FromEnvironment(const char* name, long fallback) {
  const char* text = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): read before any thread starts
  char* end = nullptr;
  const long value = text ? std::strtol(text, &end, 10) : 0;
  return text && *text && *end == '\0' && value > 0 ? value : fallback;
}

long ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int Soak() {
  const long passes = FromEnvironment("VIEWER_SOAK_PASSES", kDefaultPasses);
  const long every = FromEnvironment("VIEWER_SOAK_REOPEN_EVERY", kDefaultReopenEvery);
  const long warmUp = std::max(passes / 10, 2 * every);
  capture::CaptureManager capture(capture::MakeSyntheticBackend(std::make_shared<capture::SyntheticScene>()));
  stereo::FramePipeline pipeline;
  display::DisplayPair displays(display::MakeOffscreenDisplayDriver());
  pipeline.UseIdentityMaps();
  for (int side = 0; side < 2; ++side) {
    pipeline.CreateFrame(side);
    displays.CreateStaging(side);
    if (!capture.OpenDevice(side, 1024, 768) || displays.Create(side, nullptr) != display::Status::Ok) {
      std::fprintf(stderr, "soak: side %d cannot start\n", side + 1);
      return 1;
    }
  }
  long frames[2] = {0, 0}, reopens = 0, failedReopens = 0, quietCycles = 0, camera1SinceReopen = 0;
  long rssWarm = 0, rssPeak = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long pass = 1; pass <= passes; ++pass) {
    const bool new1 = pipeline.TakeFrame(0, capture), new2 = pipeline.TakeFrame(1, capture);
    pipeline.Match(new1, new2);
    const auto status = displays.Present(pipeline.View(0), pipeline.View(1));
    if (status[0] != display::Status::Ok || status[1] != display::Status::Ok) {
      std::fprintf(stderr, "soak: pass %ld could not present\n", pass);
      return 1;
    }
    frames[0] += new1;
    frames[1] += new2;
    camera1SinceReopen += new1;
    if (pass == warmUp) rssWarm = ResidentKb();
    if (pass >= warmUp) rssPeak = std::max(rssPeak, ResidentKb());
    if (pass % every == 0 && pass < passes) {
      quietCycles += camera1SinceReopen == 0;
      capture.CloseDevice(0);
      failedReopens += !capture.OpenDevice(0, 1024, 768);
      ++reopens;
      camera1SinceReopen = 0;
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double growth = rssWarm > 0 ? 100.0 * static_cast<double>(rssPeak - rssWarm) / static_cast<double>(rssWarm) : 0;
  char line[400];
  std::snprintf(line, sizeof line,
                "soak: %ld passes in %.1f s, camera 1 reopened %ld times (%ld failed), new frames %ld and %ld; RSS "
                "after %ld warm-up passes %ld kB, peak after it %ld kB (%+.2f %%)%s\n",
                passes, seconds, reopens, failedReopens, frames[0], frames[1], warmUp, rssWarm, rssPeak, growth,
                kSanitized ? " (sanitizer build: memory not judged)" : "");
  std::fputs(line, stdout);
  if (const char* report = std::getenv("VIEWER_SOAK_REPORT")) std::ofstream(report, std::ios::app) << line;

  for (int side = 0; side < 2; ++side) capture.CloseDevice(side);
  int missed = 0;
  const auto check = [&missed](bool met, const char* target) {
    if (met) return;
    std::fprintf(stderr, "soak: missed: %s\n", target);
    ++missed;
  };
  check(failedReopens == 0, "every reopen of camera 1 succeeds");
  check(quietCycles == 0, "camera 1 delivers again after every reopen");
  // At 30 frames per second each camera delivers in many passes; camera 2 is never interrupted.
  check(static_cast<double>(frames[1]) > 0.5 * std::min(30.0 * seconds, static_cast<double>(passes)),
        "camera 2 keeps delivering");
  check(kSanitized || growth <= 5.0, "resident memory within 5 % of what it was after the warm-up");
  return missed == 0 ? 0 : 1;
}

}  // namespace

int main() { return Soak(); }
