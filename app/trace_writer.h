// The --trace file: one CSV line per frame step that reached the matching.
#pragma once

#include <cstdio>
#include <string>

#include "stereo/frame_pipeline.h"

namespace app {

// Columns beyond the usual ones, each set only when its option is on.
struct TraceColumns {
  bool comfort = false;      // near,far,parallax_near_pct,parallax_far_pct,clamped
  bool millimetres = false;  // then parallax_near_mm,parallax_far_mm
  bool skew = false;         // skew_ms (with --pairing)
};

class TraceWriter {
 public:
  TraceWriter() = default;
  ~TraceWriter();
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  // Creates the file and writes the header line; false with `error` when it cannot.
  bool Open(const std::string& path, std::string* error, TraceColumns columns = {});
  // Writes the line of a pass if the record is of a pass not written yet.
  void Write(const stereo::FrameStepRecord& record);

  static std::string Header(TraceColumns columns = {});
  // skew_ms: how much later side 1's frame was taken than side 2's; empty until both have shown one.
  static std::string Line(const stereo::FrameStepRecord& record, TraceColumns columns = {});

 private:
  TraceColumns columns_;
  std::FILE* file_ = nullptr;
  long lastPass_ = 0;
};

}  // namespace app
