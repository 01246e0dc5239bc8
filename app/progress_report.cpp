#include "app/progress_report.h"

#include <string>

namespace app {

ProgressReport::ProgressReport(std::function<int()> trueDisparity, std::FILE* out)
    : trueDisparity_(std::move(trueDisparity)), out_(out), lineStart_(std::chrono::steady_clock::now()) {}

void ProgressReport::Update(const stereo::FrameStepRecord& record) {
  ++stepsSinceLine_;
  const auto now = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(now - lineStart_).count();
  if (seconds < 1.0) return;
  std::fprintf(out_, "%s\n", Line(record, static_cast<double>(stepsSinceLine_) / seconds).c_str());
  std::fflush(out_);
  lineStart_ = now;
  stepsSinceLine_ = 0;
}

std::string ProgressReport::Line(const stereo::FrameStepRecord& record, double stepsPerSecond) const {
  char text[160];
  const std::string truth = trueDisparity_ ? std::to_string(trueDisparity_()) : "?";
  std::snprintf(text, sizeof text, "object disparity %4s  dominant %3d  follower %3d  crops at %3d/%3d  %6.1f steps/s",
                truth.c_str(), record.dominant, record.follower, record.cropX[0], record.cropX[1], stepsPerSecond);
  return text;
}

}  // namespace app
