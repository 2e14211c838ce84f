#include "InterruptibleWait.h"

#include <windows.h>

#include <atomic>

#include "WideText.h"

namespace qrt::cli {
namespace {

std::atomic<bool> g_bInterrupted{false};
HANDLE g_hInterrupt = nullptr;

// Runs on a thread of its own that the console starts; TRUE keeps the
// process alive so the monitor can end its loop and restore the console.
BOOL WINAPI OnConsoleControl(DWORD dwType) {
  switch (dwType) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      g_bInterrupted = true;
      if (g_hInterrupt) SetEvent(g_hInterrupt);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

struct CInterruptibleWait::SState {};

CInterruptibleWait::CInterruptibleWait() : m_pState(std::make_unique<SState>()) {
  g_bInterrupted = false;
  g_hInterrupt = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

CInterruptibleWait::~CInterruptibleWait() {
  SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
  if (g_hInterrupt) CloseHandle(g_hInterrupt);
  g_hInterrupt = nullptr;
}

bool CInterruptibleWait::Interrupted() const {
  return g_bInterrupted;
}

EWaitResult CInterruptibleWait::Wait(USB42XX_MGR::NATIVE_EVENT hEvent, int nTimeOutMs,
                                     std::string& szError) {
  if (g_bInterrupted) return EWaitResult::Interrupted;
  HANDLE ahWait[2];
  DWORD nWait = 0;
  if (hEvent != USB42XX_MGR::kNoNativeEvent) ahWait[nWait++] = hEvent;
  if (g_hInterrupt) ahWait[nWait++] = g_hInterrupt;
  const DWORD dwTimeOut = nTimeOutMs < 0 ? 0 : static_cast<DWORD>(nTimeOutMs);
  if (nWait == 0) {
    ::Sleep(dwTimeOut);
    return g_bInterrupted ? EWaitResult::Interrupted : EWaitResult::TimedOut;
  }
  const DWORD dwResult = WaitForMultipleObjects(nWait, ahWait, FALSE, dwTimeOut);
  if (dwResult == WAIT_FAILED) {
    szError = USB42XX_MGR::Win32ErrorText(GetLastError());
    return EWaitResult::Failed;
  }
  if (g_bInterrupted) return EWaitResult::Interrupted;
  if (dwResult == WAIT_TIMEOUT) return EWaitResult::TimedOut;
  return EWaitResult::Signalled;
}

}  // namespace qrt::cli
