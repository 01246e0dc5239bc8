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

  // Creates the file and writes the header line; false with `error` when it cannot.
  bool Open(const std::string& path, std::string* error);
  // Writes the line of a pass if the record is of a pass not written yet.
  void Write(const stereo::FrameStepRecord& record);

  static std::string Header();
  static std::string Line(const stereo::FrameStepRecord& record);

 private:
  std::FILE* file_ = nullptr;
  long lastPass_ = 0;
};

}  // namespace app
