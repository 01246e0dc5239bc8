// Result codes of the capture graph: HRESULT-style ints, 0 success, negative failure.
#pragma once

#include <cstdint>

namespace capture {

using HRESULT = std::int32_t;

constexpr HRESULT MakeHresult(std::uint32_t value) { return static_cast<HRESULT>(value); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;

inline constexpr HRESULT E_NOTIMPL = MakeHresult(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = MakeHresult(0x80004002u);
inline constexpr HRESULT E_POINTER = MakeHresult(0x80004003u);
inline constexpr HRESULT E_FAIL = MakeHresult(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = MakeHresult(0x8000FFFFu);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHresult(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = MakeHresult(0x80070057u);
inline constexpr HRESULT E_ACCESSDENIED = MakeHresult(0x80070005u);

// The calling thread already belongs to a single-threaded apartment.
inline constexpr HRESULT RPC_E_CHANGED_MODE = MakeHresult(0x80010106u);

inline constexpr HRESULT VFW_E_INVALIDMEDIATYPE = MakeHresult(0x80040200u);
inline constexpr HRESULT VFW_E_ALREADY_CONNECTED = MakeHresult(0x80040204u);
inline constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = MakeHresult(0x80040207u);
inline constexpr HRESULT VFW_E_NOT_CONNECTED = MakeHresult(0x80040209u);
inline constexpr HRESULT VFW_E_NOT_FOUND = MakeHresult(0x80040216u);
inline constexpr HRESULT VFW_E_CANNOT_CONNECT = MakeHresult(0x80040217u);
inline constexpr HRESULT VFW_E_NOT_STOPPED = MakeHresult(0x80040224u);
inline constexpr HRESULT VFW_E_WRONG_STATE = MakeHresult(0x80040227u);
inline constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MakeHresult(0x8004022Au);
inline constexpr HRESULT VFW_E_NOT_IN_GRAPH = MakeHresult(0x8004025Fu);

// Run returns this while the graph is still changing state; it is a success.
inline constexpr HRESULT VFW_S_STATE_INTERMEDIATE = 0x00040237;

// A failed system call as a result code (facility 7, like Win32 errors), so backends can pass errno on.
constexpr HRESULT HresultFromErrno(int error) {
  return error <= 0 ? E_FAIL : MakeHresult(0x80070000u | (static_cast<std::uint32_t>(error) & 0xFFFFu));
}

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

}  // namespace capture
