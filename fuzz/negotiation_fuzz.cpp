// libFuzzer target: see fuzz/drivers/negotiation_driver.h for what is checked.
#include "fuzz/drivers/fuzz_target.h"
#include "fuzz/drivers/negotiation_driver.h"

namespace {
std::string Check(const std::uint8_t* data, std::size_t size) { return fuzz::CheckOpenDevice(data, size); }
}  // namespace

FUZZ_TARGET_CHECKING(Check)
