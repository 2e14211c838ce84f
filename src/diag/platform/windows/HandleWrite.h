#pragma once
// Writing a whole buffer through a Windows file handle: WriteFile takes at
// most a DWORD of bytes per call and may write fewer than asked.
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace qrt::diag::platform {

// Writes all n bytes of p to h. False when a write fails or writes nothing
// (GetLastError() then tells why); part of the data may be written by then.
bool WriteAll(HANDLE h, const uint8_t* p, size_t n);

}  // namespace qrt::diag::platform
