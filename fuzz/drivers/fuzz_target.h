// The two entry points of a libFuzzer target whose driver returns what went wrong (empty when every
// property held). The capture layer's messages go to standard output, the fuzzer's own to standard
// error, so standard output is silenced.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_TARGET_CHECKING(check)                                                         \
  extern "C" int LLVMFuzzerInitialize(int*, char***) {                                      \
    static_cast<void>(std::freopen("/dev/null", "w", stdout));                              \
    return 0;                                                                               \
  }                                                                                         \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {       \
    const std::string failure = check(data, size);                                          \
    if (!failure.empty()) std::fprintf(stderr, "property violated: %s\n", failure.c_str()); \
    if (!failure.empty()) std::abort();                                                     \
    return 0;                                                                               \
  }
