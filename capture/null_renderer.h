// The shared null renderer: takes any sample and drops it.
#pragma once

#include <atomic>
#include <memory>

#include "capture/filter_base.h"

namespace capture {

class NullRendererFilter : public FilterBase {
 public:
  NullRendererFilter();
  ~NullRendererFilter() override;

  int PinCount() const override { return 1; }
  PinBase* PinAt(int index) override;
  // Samples received so far.
  long SamplesRendered() const { return rendered_.load(); }

 private:
  class InputPin;
  std::unique_ptr<InputPin> input_;
  std::atomic<long> rendered_{0};
};

}  // namespace capture
