// The shared colour converter that the builder inserts when a stream's subtype is not what the next
// filter takes: turns packed YUV 4:2:2, planar YUV 4:2:0, grey and the other RGB layouts into RGB24,
// packed rows, bottom row first.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/filter_base.h"

namespace capture {

class ColorConverterFilter : public FilterBase {
 public:
  ColorConverterFilter();
  ~ColorConverterFilter() override;

  // The input types it converts: video with a VIDEOINFOHEADER of a supported subtype and a usable size.
  static bool CanConvert(const MediaType& type);
  // The RGB24 type it produces from an input type.
  static MediaType OutputTypeFor(const MediaType& input);

  int PinCount() const override { return 2; }
  PinBase* PinAt(int index) override;

 private:
  class InputPin;
  class OutputPin;

  HRESULT PrepareFor(const MediaType& input);
  // Streaming thread. Samples shorter than a whole input frame are dropped, never half converted.
  HRESULT Receive(MediaSample& sample);

  std::unique_ptr<InputPin> input_;
  std::unique_ptr<OutputPin> output_;

  std::mutex conversionMutex_;  // guards the fields below
  GUID subtype_{};
  int width_ = 0;
  int height_ = 0;
  bool bottomUp_ = false;  // input rows bottom first
  std::int64_t inputBytes_ = 0;
  std::vector<std::uint8_t> converted_;  // top row first, before the flip
  std::vector<std::uint8_t> output_bytes_;
};

}  // namespace capture
