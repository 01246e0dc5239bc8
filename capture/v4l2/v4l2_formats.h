// Pixel formats of V4L2 devices: the media subtype each stands for, which ones we turn into BGR24,
// and where the bytes of one frame lie.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/media_types.h"

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

// We can convert frames of this format and size into BGR24.
bool CanConvertToBgr(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height);
// Conversion cost order among formats offered at equal frame rates: lower is cheaper.
int ConversionRank(std::uint32_t pixelFormat);

// The V4L2 formats that deliver `subtype` unchanged, best first; empty when there is none.
std::vector<std::uint32_t> PixelFormatsForSubtype(const GUID& subtype);
// The subtype a V4L2 format stands for: one of the capture layer's subtypes when it has one,
// otherwise the FourCC subtype of the format itself.
GUID SubtypeForPixelFormat(std::uint32_t pixelFormat);
// The subtype is an RGB one (bitmap rows, bottom row first).
bool IsRgbSubtype(const GUID& subtype);

// "YUYV", "MJPG": the four letters, with unprintable bytes as '?'.
std::string FourccName(std::uint32_t pixelFormat);

}  // namespace capture
