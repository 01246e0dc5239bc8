// Turns one frame of a device buffer into what the capture graph takes: BGR24, rows packed, bottom
// row first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <opencv2/core.hpp>

#include "capture/v4l2/jpeg_frame_decoder.h"
#include "capture/v4l2/v4l2_formats.h"

namespace capture {

class V4l2FrameConverter {
 public:
  V4l2FrameConverter() = default;
  V4l2FrameConverter(const V4l2FrameConverter&) = delete;
  V4l2FrameConverter& operator=(const V4l2FrameConverter&) = delete;

  // Prepares for frames of this format as the device reported it; false when we cannot convert it.
  bool Configure(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height, std::uint32_t bytesPerLine);
  // Bytes Convert writes.
  std::size_t OutputBytes() const { return outputBytes_; }
  // The first `bytesUsed` bytes of `data` hold the frame. False when the frame is too short for its
  // format, empty, or (compressed) damaged; `destination` is then unusable and must not be delivered.
  bool Convert(const std::uint8_t* data, std::size_t bytesUsed, std::uint8_t* destination);

 private:
  std::uint32_t pixelFormat_ = 0;
  int width_ = 0;
  int height_ = 0;
  FrameLayout layout_;
  std::size_t outputBytes_ = 0;
  int conversion_ = kNoConversion;
  cv::Mat topDown_;  // BGR24 top row first, before the flip
  cv::Mat packed_;   // planar frames with their padding removed
  std::unique_ptr<JpegFrameDecoder> jpeg_;
};

}  // namespace capture
