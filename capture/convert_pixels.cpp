// Pixel processing: a stored 24-bit frame copied out with optional red-blue exchange and row reversal.
#include <cstddef>
#include <cstring>

#include "capture/capture_manager.h"

namespace capture {

void CaptureManager::ConvertPixels(const unsigned char* source, unsigned char* destination, int width, int height,
                                   bool swapRedBlue, bool flipVertical) {
  // Sizes without pixels write nothing (a negative size must not turn into a huge copy).
  if (width < 1 || height < 1 || !source || !destination) return;
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  const std::size_t rows = static_cast<std::size_t>(height);

  if (!swapRedBlue) {
    if (!flipVertical) {
      std::memcpy(destination, source, rowBytes * rows);
      return;
    }
    const unsigned char* read = source + (rows - 1) * rowBytes;
    for (std::size_t row = 0; row < rows; ++row, read -= rowBytes, destination += rowBytes)
      std::memcpy(destination, read, rowBytes);
    return;
  }

  for (std::size_t row = 0; row < rows; ++row) {
    const unsigned char* read = source + (flipVertical ? rows - 1 - row : row) * rowBytes;
    for (std::size_t pixel = 0; pixel < static_cast<std::size_t>(width); ++pixel, read += 3, destination += 3) {
      destination[0] = read[2];
      destination[1] = read[1];
      destination[2] = read[0];
    }
  }
}

}  // namespace capture
