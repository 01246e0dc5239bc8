// The --trace file: one CSV line per frame step that reached the matching.
#pragma once

#include <cstdio>
#include <string>

#include "stereo/frame_pipeline.h"

namespace app {

class TraceWriter {
 public:
  TraceWriter() = default;
  ~TraceWriter();
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  // Creates the file and writes the header line; false with `error` when it cannot. `skew` adds the
  // skew_ms column.
  bool Open(const std::string& path, std::string* error, bool skew = false);
  // Writes the line of a pass if the record is of a pass not written yet.
  void Write(const stereo::FrameStepRecord& record);

  static std::string Header(bool skew = false);
  // skew_ms: how much later side 1's frame was taken than side 2's; empty until both have shown one.
  static std::string Line(const stereo::FrameStepRecord& record, bool skew = false);

 private:
  std::FILE* file_ = nullptr;
  bool skew_ = false;
  long lastPass_ = 0;
};

}  // namespace app
