#include "fuzz/drivers/fuzz_target.h"
#include "fuzz/drivers/negotiation_driver.h"

FUZZ_TARGET_CHECKING(fuzz::CheckOpenDevice)
