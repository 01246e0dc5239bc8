// Pixel processing: the four flag combinations of ConvertPixels, and sizes without pixels.
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

struct FlagCase {
  bool swap;
  bool flip;
  Bytes expected;  // of a 3 x 2 frame whose bytes count from 1, and one byte past it untouched
};

class ConvertPixelsFlags : public testing::TestWithParam<FlagCase> {};

TEST_P(ConvertPixelsFlags, ReordersRowsAndBytesWithinTheFrame) {
  const Bytes source = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
  EXPECT_EQ(Convert(source, 3, 2, GetParam().swap, GetParam().flip, 19), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    AllCombinations, ConvertPixelsFlags,
    testing::Values(FlagCase{false, false, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 0xEE}},
                    FlagCase{false, true, {10, 11, 12, 13, 14, 15, 16, 17, 18, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE}},
                    FlagCase{true, false, {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13, 18, 17, 16, 0xEE}},
                    FlagCase{true, true, {12, 11, 10, 15, 14, 13, 18, 17, 16, 3, 2, 1, 6, 5, 4, 9, 8, 7, 0xEE}}));

TEST(ConvertPixelsTest, SizesWithoutPixelsWriteNothing) {
  const Bytes source(64, 1);
  for (bool swap : {false, true})
    for (bool flip : {false, true})
      for (auto [width, height] : {std::pair{0, 4}, {4, 0}, {-4, 4}, {4, -4}})
        EXPECT_EQ(Convert(source, width, height, swap, flip, 64), Bytes(64, 0xEE)) << width << " x " << height;
}

}  // namespace
