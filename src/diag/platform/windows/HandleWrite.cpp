#include "HandleWrite.h"

namespace qrt::diag::platform {

bool WriteAll(HANDLE h, const uint8_t* p, size_t n) {
  while (n > 0) {
    const DWORD nChunk = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
    DWORD nWritten = 0;
    if (!::WriteFile(h, p, nChunk, &nWritten, nullptr) || nWritten == 0) return false;
    p += nWritten;
    n -= nWritten;
  }
  return true;
}

}  // namespace qrt::diag::platform
