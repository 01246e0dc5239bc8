// Turns one frame of a device buffer into the bytes a V4L2 source delivers: BGR24 packed rows,
// bottom row first (the emulated RGB24 stream), or the device's own format with the padding removed.
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
  enum class Output {
    kBgrBottomUp,     // BGR24, rows packed, bottom row first
    kPacked,          // the device's format, planes packed, top row first (FourCC subtypes)
    kPackedBottomUp,  // the device's single-plane format, rows packed, bottom row first (RGB subtypes)
  };

  V4l2FrameConverter() = default;
  V4l2FrameConverter(const V4l2FrameConverter&) = delete;
  V4l2FrameConverter& operator=(const V4l2FrameConverter&) = delete;

  // Prepares for frames of this format as the device reported it. False when the format cannot be
  // turned into `output`.
  bool Configure(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height, std::uint32_t bytesPerLine,
                 Output output);
  // Bytes Convert writes.
  std::size_t OutputBytes() const { return outputBytes_; }
  // The first `bytesUsed` bytes of `data` hold the frame. False when the frame is too short for its
  // format, empty, or (compressed) damaged; `destination` is then unusable and must not be delivered.
  bool Convert(const std::uint8_t* data, std::size_t bytesUsed, std::uint8_t* destination);

 private:
  // Copies the planes without padding into `destination`, optionally with the rows in reverse order.
  void PackPlanes(const std::uint8_t* data, std::uint8_t* destination, bool reverseRows) const;

  std::uint32_t pixelFormat_ = 0;
  int width_ = 0;
  int height_ = 0;
  Output output_ = Output::kBgrBottomUp;
  FrameLayout layout_;
  std::size_t outputBytes_ = 0;
  int colorCode_ = -1;  // cv::cvtColor code into BGR, -1 when none is needed
  cv::Mat topDown_;     // BGR24 top row first, before the flip
  cv::Mat packed_;      // planar frames with their padding removed
  std::unique_ptr<JpegFrameDecoder> jpeg_;
};

}  // namespace capture
