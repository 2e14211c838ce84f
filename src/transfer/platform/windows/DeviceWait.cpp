// The wait for boards on Windows: WaitForMultipleObjects on the platform's event
// and an interrupt event that the console's Ctrl+C handler sets.
#include <windows.h>

#include <atomic>
#include <cerrno>

#include "DeviceWait.h"
#include "platform/HidPlatform.h"

namespace qrt::transfer {
namespace {

std::atomic<bool> g_bInterrupted{false};
HANDLE g_hInterrupt = nullptr;

// Runs on a thread the console starts; TRUE keeps the process alive so the
// loop ends at its next wait, never in the middle of a write.
BOOL WINAPI OnConsoleControl(DWORD dwType) {
  switch (dwType) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      g_bInterrupted = true;
      if (g_hInterrupt) SetEvent(g_hInterrupt);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

CInterruptGuard::CInterruptGuard() {
  g_bInterrupted = false;
  g_hInterrupt = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

CInterruptGuard::~CInterruptGuard() {
  SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
  if (g_hInterrupt) CloseHandle(g_hInterrupt);
  g_hInterrupt = nullptr;
}

bool CInterruptGuard::Interrupted() {
  return g_bInterrupted;
}

bool HasDeviceEvents(const USB42XX_MGR::IHidPlatform& platform) {
  return platform.GetEventHandle() != USB42XX_MGR::kNoNativeEvent;
}

EDeviceWait WaitForDeviceChange(USB42XX_MGR::IHidPlatform& platform, int nTimeoutMs) {
  HANDLE ahWait[2];
  DWORD nWait = 0;
  const USB42XX_MGR::NATIVE_EVENT hEvent = platform.GetEventHandle();
  if (hEvent != USB42XX_MGR::kNoNativeEvent) ahWait[nWait++] = hEvent;
  if (g_hInterrupt) ahWait[nWait++] = g_hInterrupt;
  const DWORD dwTimeOut = nTimeoutMs < 0 ? 0 : static_cast<DWORD>(nTimeoutMs);
  if (nWait == 0) {
    Sleep(dwTimeOut);
    return EDeviceWait::kTimeout;
  }
  const DWORD dwResult = WaitForMultipleObjects(nWait, ahWait, FALSE, dwTimeOut);
  if (dwResult == WAIT_FAILED) {
    errno = EIO;  // the callers report errno
    return EDeviceWait::kError;
  }
  if (g_bInterrupted) return EDeviceWait::kInterrupted;
  if (dwResult == WAIT_TIMEOUT) return EDeviceWait::kTimeout;
  return EDeviceWait::kChanged;
}

}  // namespace qrt::transfer
