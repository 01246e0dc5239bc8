#include "app/live_figures.h"

#include <cstdio>

namespace app {

namespace {

std::string Format(const char* format, double a, double b) {
  char text[96];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

std::string Latency(double ms) {
  if (ms < 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", ms);
  return text;
}

}  // namespace

void LiveFigures::Update(const stereo::FrameStepRecord& record) {
  if (record.passes == lastPass_) return;
  lastPass_ = record.passes;
  const auto now = record.presented;
  if (windowStart_ == std::chrono::steady_clock::time_point{}) windowStart_ = now;
  ++steps_;
  for (int side = 0; side < 2; ++side) {
    if (!record.newFrame[side]) continue;
    ++frames_[side];
    if (record.arrival[side] != std::chrono::steady_clock::time_point{})
      latencyMs_[side] = std::chrono::duration<double, std::milli>(now - record.arrival[side]).count();
  }
  const double seconds = std::chrono::duration<double>(now - windowStart_).count();
  if (seconds < 1.0) return;
  stepsPerSecond_ = static_cast<double>(steps_) / seconds;
  for (int side = 0; side < 2; ++side) framesPerSecond_[side] = static_cast<double>(frames_[side]) / seconds;
  windowStart_ = now;
  steps_ = frames_[0] = frames_[1] = 0;
}

std::vector<std::string> LiveFigures::Lines(const stereo::FrameStepRecord& record, int nudge, bool locked, bool swapped,
                                            const stereo::ParallaxBudget* budget) const {
  char convergence[96];
  std::snprintf(convergence, sizeof convergence, "follower %d px  nudge %+d px%s", record.follower, nudge,
                locked ? "  LOCKED" : "");
  std::vector<std::string> lines = {
      "dominant disparity " + std::to_string(record.dominant) + " px",
      convergence,
      Format("%.1f frame steps/s", stepsPerSecond_, 0.0),
      Format("cameras %.1f / %.1f frames/s (left / right eye)", framesPerSecond_[0], framesPerSecond_[1]),
      "latency " + Latency(latencyMs_[0]) + " / " + Latency(latencyMs_[1]) + " (left / right eye)",
      swapped ? "eyes swapped (left eye: camera 1)" : "left eye: camera 0",
  };
  const std::chrono::steady_clock::time_point never{};
  if (record.captured[0] != never && record.captured[1] != never)
    lines.push_back(Format("frames taken %+.1f ms apart (left - right)",
                           std::chrono::duration<double, std::milli>(record.captured[0] - record.captured[1]).count(),
                           0.0));
  if (budget) {
    const stereo::ComfortRecord& c = record.comfort;
    lines.push_back(c.known ? Format("parallax %+.1f to %+.1f %% of the width", c.parallaxNearPct, c.parallaxFarPct) +
                                  Format(" (budget -%g to +%g %%)", budget->inFrontPct, budget->behindPct)
                            : "parallax unknown: too little matched");
  }
  return lines;
}

}  // namespace app
