#include "fuzz/drivers/fuzz_target.h"
#include "fuzz/drivers/map_loader_driver.h"

FUZZ_TARGET_CHECKING(fuzz::CheckMapFile)
