// Fuzz driver for ConvertPixels: random sizes and flags, always within the buffers given (which are
// exactly as large as the frame, so a byte past either end is caught). The result must equal a plain
// pixel-by-pixel copy with the same flags; sizes without pixels must write nothing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_manager.h"
#include "fuzz/drivers/byte_reader.h"

namespace fuzz {

inline std::string CheckConvertPixels(const std::uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  const std::int32_t width = in.Dimension();
  const std::int32_t height = in.Dimension();
  const bool swapRedBlue = in.Bool();
  const bool flipVertical = in.Bool();
  const std::vector<std::uint8_t> rest = in.Rest();

  if (width < 1 || height < 1) {
    // Nothing may be written, whatever the buffers.
    std::vector<std::uint8_t> source(64, 0x11), destination(64, 0xA5);
    capture::CaptureManager::ConvertPixels(source.data(), destination.data(), width, height, swapRedBlue, flipVertical);
    if (std::any_of(destination.begin(), destination.end(), [](std::uint8_t b) { return b != 0xA5; }))
      return "a size without pixels wrote into the destination";
    return {};
  }
  const std::uint64_t bytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 3;
  if (bytes > rest.size()) return {};  // the frame must lie within the input

  // Heap blocks of exactly the frame's size: the sanitizers see any byte beyond.
  const std::size_t n = static_cast<std::size_t>(bytes);
  std::unique_ptr<std::uint8_t[]> source(new std::uint8_t[n]);
  std::unique_ptr<std::uint8_t[]> destination(new std::uint8_t[n]);
  std::copy(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(n), source.get());
  capture::CaptureManager::ConvertPixels(source.get(), destination.get(), width, height, swapRedBlue, flipVertical);
  capture::CaptureManager::ConvertPixels(nullptr, destination.get(), width, height, swapRedBlue, flipVertical);
  capture::CaptureManager::ConvertPixels(source.get(), nullptr, width, height, swapRedBlue, flipVertical);

  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  for (std::size_t row = 0; row < static_cast<std::size_t>(height); ++row) {
    const std::size_t from = flipVertical ? static_cast<std::size_t>(height) - 1 - row : row;
    for (std::size_t x = 0; x < rowBytes; x += 3) {
      const std::uint8_t* in3 = source.get() + from * rowBytes + x;
      const std::uint8_t* out3 = destination.get() + row * rowBytes + x;
      const bool same = swapRedBlue ? (out3[0] == in3[2] && out3[1] == in3[1] && out3[2] == in3[0])
                                    : (out3[0] == in3[0] && out3[1] == in3[1] && out3[2] == in3[2]);
      if (!same) return "pixel differs from the plain copy";
    }
  }
  return {};
}

}  // namespace fuzz
