// libFuzzer target: see fuzz/drivers/v4l2_frames_driver.h for what is checked.
#include "fuzz/drivers/fuzz_target.h"
#include "fuzz/drivers/v4l2_frames_driver.h"

namespace {
std::string Check(const std::uint8_t* data, std::size_t size) { return fuzz::CheckV4l2Frames(data, size); }
}  // namespace

FUZZ_TARGET_CHECKING(Check)
