// libFuzzer target: see fuzz/drivers/convert_pixels_driver.h for what is checked.
#include "fuzz/drivers/convert_pixels_driver.h"
#include "fuzz/drivers/fuzz_target.h"

namespace {
std::string Check(const std::uint8_t* data, std::size_t size) { return fuzz::CheckConvertPixels(data, size); }
}  // namespace

FUZZ_TARGET_CHECKING(Check)
