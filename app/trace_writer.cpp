#include "app/trace_writer.h"

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

namespace app {

namespace {

std::string Latency(const stereo::FrameStepRecord& record, int side) {
  if (!record.newFrame[side] || record.arrival[side] == std::chrono::steady_clock::time_point{}) return "";
  const double ms = std::chrono::duration<double, std::milli>(record.presented - record.arrival[side]).count();
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", ms);
  return text;
}

std::string Number(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Near and far, their parallax, and the follower's target; the first four empty when the depth is
// not known.
std::string ComfortFields(const stereo::FrameStepRecord& r, bool millimetres) {
  const stereo::ComfortRecord& c = r.comfort;
  std::string text;
  for (const auto& [format, value] : {std::pair{"%.2f", c.nearest}, std::pair{"%.2f", c.farthest},
                                      std::pair{"%.3f", c.parallaxNearPct}, std::pair{"%.3f", c.parallaxFarPct}})
    text += "," + (c.known ? Number(format, value) : "");
  text += "," + std::to_string(r.target);
  if (millimetres)
    for (double mm : {c.parallaxNearMm, c.parallaxFarMm}) text += "," + (c.known ? Number("%.1f", mm) : "");
  return text;
}

std::string Skew(const stereo::FrameStepRecord& record) {
  const std::chrono::steady_clock::time_point never{};
  if (record.captured[0] == never || record.captured[1] == never) return "";
  return Number("%.3f", std::chrono::duration<double, std::milli>(record.captured[0] - record.captured[1]).count());
}

}  // namespace

TraceWriter::~TraceWriter() {
  if (file_) std::fclose(file_);
}

bool TraceWriter::Open(const std::string& path, std::string* error, TraceColumns columns) {
  columns_ = columns;
  file_ = std::fopen(path.c_str(), "w");
  if (!file_) {
    *error = "cannot write the trace " + path + ": " + std::error_code(errno, std::generic_category()).message();
    return false;
  }
  // Line-buffered so a reader sees whole lines while the viewer runs.
  std::setvbuf(file_, nullptr, _IOLBF, 0);
  std::fprintf(file_, "%s\n", Header(columns_).c_str());
  return true;
}

void TraceWriter::Write(const stereo::FrameStepRecord& record) {
  if (!file_ || record.passes == lastPass_) return;
  lastPass_ = record.passes;
  std::fprintf(file_, "%s\n", Line(record, columns_).c_str());
}

std::string TraceWriter::Header(TraceColumns columns) {
  std::string header = "pass,new1,new2,dominant,follower,crop1_x,crop2_x,latency1_ms,latency2_ms";
  if (columns.comfort) header += ",near,far,parallax_near_pct,parallax_far_pct,clamped";
  if (columns.comfort && columns.millimetres) header += ",parallax_near_mm,parallax_far_mm";
  if (columns.skew) header += ",skew_ms";
  return header;
}

std::string TraceWriter::Line(const stereo::FrameStepRecord& r, TraceColumns columns) {
  const std::string extra =
      (columns.comfort ? ComfortFields(r, columns.millimetres) : "") + (columns.skew ? "," + Skew(r) : "");
  return std::to_string(r.passes) + "," + (r.newFrame[0] ? "1" : "0") + "," + (r.newFrame[1] ? "1" : "0") + "," +
         std::to_string(r.dominant) + "," + std::to_string(r.follower) + "," + std::to_string(r.cropX[0]) + "," +
         std::to_string(r.cropX[1]) + "," + Latency(r, 0) + "," + Latency(r, 1) + extra;
}

}  // namespace app
