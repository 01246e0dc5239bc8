// libFuzzer target: see fuzz/drivers/convert_pixels_driver.h for what is checked.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/drivers/convert_pixels_driver.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The capture layer's messages go to standard output; the fuzzer's own go to standard error.
  static_cast<void>(std::freopen("/dev/null", "w", stdout));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = fuzz::CheckConvertPixels(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "property violated: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
