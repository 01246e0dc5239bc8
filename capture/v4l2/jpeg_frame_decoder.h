// Decodes (Motion-)JPEG camera frames straight into BGR24 rows, refusing damaged frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace capture {

class JpegFrameDecoder {
 public:
  JpegFrameDecoder();
  ~JpegFrameDecoder();
  JpegFrameDecoder(const JpegFrameDecoder&) = delete;
  JpegFrameDecoder& operator=(const JpegFrameDecoder&) = delete;

  // Decodes one frame of exactly `width` x `height` into `destination` (rows `stride` bytes apart,
  // bottom row first when `bottomUp`). False for a frame that is not a JPEG of that size, or whose
  // data is damaged or cut short: the destination may then hold a partial image and must not be used.
  // Motion-JPEG frames without Huffman tables get the standard ones.
  bool Decode(const std::uint8_t* data, std::size_t size, int width, int height, std::uint8_t* destination,
              std::size_t stride, bool bottomUp);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace capture
