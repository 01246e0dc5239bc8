// Pixel processing: the four flag combinations of ConvertPixels.
#include <numeric>
#include <vector>

#include <gtest/gtest.h>

#include "capture/capture_manager.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Convert(const Bytes& source, int width, int height, bool swap, bool flip, std::size_t destinationSize) {
  Bytes destination(destinationSize, 0xEE);
  capture::CaptureManager::ConvertPixels(source.data(), destination.data(), width, height, swap, flip);
  return destination;
}

// r0 = a0 a1 a2 b0 b1 b2, r1 = c0 c1 c2 d0 d1 d2, with a0 = 1, a1 = 2, ... d2 = 12.
const Bytes kTwoByTwo = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

struct FlagCase {
  bool swap;
  bool flip;
  Bytes expected;
};

class ConvertPixelsFlags : public testing::TestWithParam<FlagCase> {};

TEST_P(ConvertPixelsFlags, TwoByTwoFrame) {
  const FlagCase& c = GetParam();
  Bytes expected = c.expected;
  expected.push_back(0xEE);  // nothing is written past the frame
  EXPECT_EQ(Convert(kTwoByTwo, 2, 2, c.swap, c.flip, 13), expected);
}

INSTANTIATE_TEST_SUITE_P(AllCombinations, ConvertPixelsFlags,
                         testing::Values(FlagCase{false, false, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
                                         FlagCase{false, true, {7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6}},
                                         FlagCase{true, false, {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}},
                                         FlagCase{true, true, {9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}}));

TEST(ConvertPixelsTest, OneRowIsTheSameWithAndWithoutFlip) {
  Bytes row(5 * 3);
  std::iota(row.begin(), row.end(), 1);
  EXPECT_EQ(Convert(row, 5, 1, false, true, row.size()), Convert(row, 5, 1, false, false, row.size()));
  EXPECT_EQ(Convert(row, 5, 1, true, true, row.size()), Convert(row, 5, 1, true, false, row.size()));
  EXPECT_EQ(Convert(row, 5, 1, false, false, row.size()), row);
}

TEST(ConvertPixelsTest, SizesWithoutPixelsWriteNothing) {
  const Bytes source(64, 1);
  for (bool swap : {false, true})
    for (bool flip : {false, true})
      for (auto [width, height] : {std::pair{0, 4}, {4, 0}, {0, 0}, {-4, 4}, {4, -4}, {-2, -2}})
        EXPECT_EQ(Convert(source, width, height, swap, flip, 64), Bytes(64, 0xEE))
            << width << " x " << height << " swap " << swap << " flip " << flip;
}

// Odd widths keep rows packed: 3 x 3 pixels are 27 bytes, rows of 9.
TEST(ConvertPixelsTest, OddWidthRowsStayPacked) {
  Bytes source(27);
  std::iota(source.begin(), source.end(), 0);
  const Bytes flipped = Convert(source, 3, 3, false, true, 28);
  const Bytes both = Convert(source, 3, 3, true, true, 28);
  for (int row = 0; row < 3; ++row)
    for (int column = 0; column < 3; ++column)
      for (int byte = 0; byte < 3; ++byte) {
        const int sourceIndex = (2 - row) * 9 + column * 3 + byte;
        const int destinationIndex = row * 9 + column * 3 + byte;
        EXPECT_EQ(flipped[destinationIndex], source[sourceIndex]);
        EXPECT_EQ(both[destinationIndex], source[(2 - row) * 9 + column * 3 + (2 - byte)]);
      }
  EXPECT_EQ(flipped[27], 0xEE);
  EXPECT_EQ(both[27], 0xEE);
}

TEST(ConvertPixelsTest, ViewerFrameFlipReversesRowsOfAFullSizeFrame) {
  constexpr int width = 1024, height = 768;
  Bytes source(static_cast<std::size_t>(width) * height * 3);
  for (int row = 0; row < height; ++row)
    std::fill_n(source.begin() + static_cast<std::ptrdiff_t>(row) * width * 3, width * 3,
                static_cast<unsigned char>(row));
  const Bytes result = Convert(source, width, height, false, true, source.size());
  for (int row = 0; row < height; ++row) {
    EXPECT_EQ(result[static_cast<std::size_t>(row) * width * 3], static_cast<unsigned char>(height - 1 - row));
    EXPECT_EQ(result[static_cast<std::size_t>(row + 1) * width * 3 - 1], static_cast<unsigned char>(height - 1 - row));
  }
}

}  // namespace
