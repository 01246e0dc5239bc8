// The capture layer's diagnostic lines: printf to standard output while `verbose` is on.
#pragma once

namespace capture {

void VerbosePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace capture
