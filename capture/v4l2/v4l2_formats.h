// Pixel formats of V4L2 devices: the media subtype each stands for, which ones we offer as RGB24 and
// turn into BGR24, and where the bytes of one frame lie.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "capture/media_subtypes.h"

namespace capture {

// Largest width or height we accept from a device: keeps every frame size well inside 32 bits.
inline constexpr std::uint32_t kMaxFrameDimension = 16384;

// One plane of a frame in a device buffer.
struct FramePlane {
  std::size_t offset = 0;    // from the start of the buffer
  std::size_t rowBytes = 0;  // bytes of image data in one row
  std::size_t rows = 0;
  std::size_t stride = 0;  // from one row to the next, >= rowBytes
};

struct FrameLayout {
  std::vector<FramePlane> planes;  // empty for compressed formats
  bool compressed = false;
  // Bytes a frame must have for every row of every plane to be inside it (1 for compressed formats).
  std::size_t minimumBytes = 0;
  // Bytes of the planes packed without padding.
  std::size_t packedBytes = 0;
};

// The layout of a `width` x `height` frame whose (first plane's) rows lie `bytesPerLine` apart as the
// device says. A stride below the row size cannot be true, so the row size is used instead: frames
// are then checked against a length that really holds every row. False for unknown formats, sizes
// out of 1..kMaxFrameDimension, or sizes the format's subsampling cannot take.
bool FrameLayoutOf(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height, std::uint32_t bytesPerLine,
                   FrameLayout* layout);

// The format, at this size, is offered as RGB24 as well as under its own subtype.
bool OffersRgb24(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height);
// We can turn frames of this format and size into BGR24.
bool CanConvertToBgr(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height);
// Conversion cost order among formats offered at equal frame rates: lower is cheaper.
int ConversionRank(std::uint32_t pixelFormat);
// How OpenCV turns the format into BGR: a cvtColor code, kPlainCopy, or kNoConversion.
inline constexpr int kPlainCopy = -1;
inline constexpr int kNoConversion = -2;
int BgrConversionOf(std::uint32_t pixelFormat);

// The V4L2 formats that deliver `subtype` unchanged, best first; empty when there is none.
std::vector<std::uint32_t> PixelFormatsForSubtype(const GUID& subtype);
// The subtype a V4L2 format stands for: one of the capture layer's subtypes when it has one,
// otherwise the FourCC subtype of the format itself.
GUID SubtypeForPixelFormat(std::uint32_t pixelFormat);

}  // namespace capture
