// Turns fuzzer bytes into choices. Past the end every read gives zero, so any input decodes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace fuzz {

// clang-format off
inline constexpr std::int32_t kDimensionTable[] = {
    0, 1, 2, 3, 7, 8, 16, 33, 64, 160, 320, 352, 480, 600, 640, 720, 768, 800, 1023, 1024, 1280, 1920, 4096,
    16384, 16385, -1, -768, -1024, std::numeric_limits<std::int32_t>::max(),
    std::numeric_limits<std::int32_t>::min(), 715827882, 46341};
// clang-format on
inline constexpr std::uint8_t kDimensionTableSize = sizeof(kDimensionTable) / sizeof(kDimensionTable[0]);
// Dimension() bytes from the table's end up to here are small sizes 1, 2, ...; from here on a raw value.
inline constexpr std::uint8_t kRawDimension = 250;

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t U8() { return position_ < size_ ? data_[position_++] : 0; }
  std::uint16_t U16() {
    const std::uint16_t low = U8();
    return static_cast<std::uint16_t>(low | (U8() << 8));
  }
  std::uint32_t U32() {
    const std::uint32_t low = U16();
    return low | (static_cast<std::uint32_t>(U16()) << 16);
  }
  bool Bool() { return (U8() & 1) != 0; }
  // One of `count` choices (count 1..256).
  std::size_t Pick(std::size_t count) { return U8() % count; }
  template <typename T, std::size_t N>
  T PickFrom(const T (&table)[N]) {
    return table[Pick(N)];
  }
  // A width or height: the sizes cameras and lying devices report, small ones, or any 32-bit value.
  std::int32_t Dimension() {
    const std::uint8_t choice = U8();
    if (choice < kDimensionTableSize) return kDimensionTable[choice];
    if (choice < kRawDimension) return choice - kDimensionTableSize + 1;
    return static_cast<std::int32_t>(U32());
  }
  // Up to `count` bytes (fewer when the input ends).
  std::vector<std::uint8_t> Take(std::size_t count) {
    const std::size_t n = std::min(count, size_ - position_);
    std::vector<std::uint8_t> bytes(data_ + position_, data_ + position_ + n);
    position_ += n;
    return bytes;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

}  // namespace fuzz
