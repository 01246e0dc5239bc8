// Result codes of the capture layer: HRESULT-style ints, 0 success, negative failure.
#pragma once

#include <cstdint>

namespace capture {

using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT VFW_E_NOT_FOUND = static_cast<HRESULT>(0x80040216u);

// A failed system call as a result code (facility 7, like Win32 errors), so backends can pass errno on.
constexpr HRESULT HresultFromErrno(int error) {
  return error <= 0 ? E_FAIL : static_cast<HRESULT>(0x80070000u | (static_cast<std::uint32_t>(error) & 0xFFFFu));
}

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

}  // namespace capture
