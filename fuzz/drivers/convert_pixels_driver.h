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
  const std::int32_t width = in.Dimension(), height = in.Dimension();
  const bool swapRedBlue = in.Bool(), flipVertical = in.Bool();
  const std::vector<std::uint8_t> rest = in.Rest();
  if (width < 1 || height < 1) {
    std::vector<std::uint8_t> source(64, 0x11), destination(64, 0xA5);
    capture::CaptureManager::ConvertPixels(source.data(), destination.data(), width, height, swapRedBlue, flipVertical);
    return std::all_of(destination.begin(), destination.end(), [](std::uint8_t b) { return b == 0xA5; })
               ? ""
               : "a size without pixels wrote into the destination";
  }
  const std::uint64_t bytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 3;
  if (bytes > rest.size()) return {};  // the frame must lie within the input

  // Heap blocks of exactly the frame's size: the sanitizers see any byte beyond.
  const auto n = static_cast<std::size_t>(bytes);
  std::unique_ptr<std::uint8_t[]> source(new std::uint8_t[n]), destination(new std::uint8_t[n]);
  std::copy_n(rest.begin(), n, source.get());
  capture::CaptureManager::ConvertPixels(source.get(), destination.get(), width, height, swapRedBlue, flipVertical);
  capture::CaptureManager::ConvertPixels(nullptr, destination.get(), width, height, swapRedBlue, flipVertical);
  capture::CaptureManager::ConvertPixels(source.get(), nullptr, width, height, swapRedBlue, flipVertical);
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3, rows = static_cast<std::size_t>(height);
  for (std::size_t at = 0; at < n; ++at) {
    const std::size_t row = at / rowBytes, byte = at % rowBytes;
    const std::size_t from =
        (flipVertical ? rows - 1 - row : row) * rowBytes + (swapRedBlue ? byte / 3 * 3 + 2 - byte % 3 : byte);
    if (destination[at] != source[from]) return "pixel differs from the plain copy";
  }
  return {};
}

}  // namespace fuzz
