#include "app/trace_writer.h"

#include <cerrno>
#include <cstring>
#include <system_error>

namespace app {

namespace {

std::string Latency(const stereo::FrameStepRecord& record, int side) {
  if (!record.newFrame[side] || record.arrival[side] == std::chrono::steady_clock::time_point{}) return "";
  const double ms = std::chrono::duration<double, std::milli>(record.presented - record.arrival[side]).count();
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", ms);
  return text;
}

std::string Skew(const stereo::FrameStepRecord& record) {
  const std::chrono::steady_clock::time_point never{};
  if (record.captured[0] == never || record.captured[1] == never) return "";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f",
                std::chrono::duration<double, std::milli>(record.captured[0] - record.captured[1]).count());
  return text;
}

}  // namespace

TraceWriter::~TraceWriter() {
  if (file_) std::fclose(file_);
}

bool TraceWriter::Open(const std::string& path, std::string* error, bool skew) {
  skew_ = skew;
  file_ = std::fopen(path.c_str(), "w");
  if (!file_) {
    *error = "cannot write the trace " + path + ": " + std::error_code(errno, std::generic_category()).message();
    return false;
  }
  // Line-buffered so a reader sees whole lines while the viewer runs.
  std::setvbuf(file_, nullptr, _IOLBF, 0);
  std::fprintf(file_, "%s\n", Header(skew_).c_str());
  return true;
}

void TraceWriter::Write(const stereo::FrameStepRecord& record) {
  if (!file_ || record.passes == lastPass_) return;
  lastPass_ = record.passes;
  std::fprintf(file_, "%s\n", Line(record, skew_).c_str());
}

std::string TraceWriter::Header(bool skew) {
  return std::string("pass,new1,new2,dominant,follower,crop1_x,crop2_x,latency1_ms,latency2_ms") +
         (skew ? ",skew_ms" : "");
}

std::string TraceWriter::Line(const stereo::FrameStepRecord& r, bool skew) {
  return std::to_string(r.passes) + "," + (r.newFrame[0] ? "1" : "0") + "," + (r.newFrame[1] ? "1" : "0") + "," +
         std::to_string(r.dominant) + "," + std::to_string(r.follower) + "," + std::to_string(r.cropX[0]) + "," +
         std::to_string(r.cropX[1]) + "," + Latency(r, 0) + "," + Latency(r, 1) + (skew ? "," + Skew(r) : "");
}

}  // namespace app
