// The shared tee that gives a capture-only source a preview stream: one input, a capture and a
// preview output, each carrying every sample.
#pragma once

#include <memory>

#include "capture/filter_base.h"

namespace capture {

class SmartTeeFilter : public FilterBase {
 public:
  SmartTeeFilter();
  ~SmartTeeFilter() override;

  int PinCount() const override { return 3; }
  PinBase* PinAt(int index) override;
  PinBase& CaptureOutput();
  PinBase& PreviewOutput();
  PinBase& Input();

 private:
  class InputPin;
  class OutputPin;
  std::unique_ptr<InputPin> input_;
  std::unique_ptr<OutputPin> capture_;
  std::unique_ptr<OutputPin> preview_;
};

}  // namespace capture
