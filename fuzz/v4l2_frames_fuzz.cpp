#include "fuzz/drivers/fuzz_target.h"
#include "fuzz/drivers/v4l2_frames_driver.h"

FUZZ_TARGET_CHECKING(fuzz::CheckV4l2Frames)
