// The wait for boards on Linux: ppoll on the platform's descriptor with SIGINT and
// SIGTERM let through only there.
#include <poll.h>
#include <signal.h>

#include <cerrno>

#include "DeviceWait.h"
#include "platform/HidPlatform.h"

namespace qrt::transfer {
namespace {

volatile sig_atomic_t g_bInterrupted = 0;
// The mask to wait with while a guard lives (SIGINT and SIGTERM let through).
sigset_t g_WaitMask;
bool g_bGuarded = false;

void OnInterrupt(int) {
  g_bInterrupted = 1;
}

struct CSavedSignals {
  struct sigaction Int {};
  struct sigaction Term {};
  sigset_t Mask{};
} g_Saved;

}  // namespace

CInterruptGuard::CInterruptGuard() {
  g_bInterrupted = 0;
  struct sigaction action {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &g_Saved.Int);
  sigaction(SIGTERM, &action, &g_Saved.Term);
  sigset_t block;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  sigaddset(&block, SIGTERM);
  sigprocmask(SIG_BLOCK, &block, &g_Saved.Mask);
  g_WaitMask = g_Saved.Mask;
  g_bGuarded = true;
}

CInterruptGuard::~CInterruptGuard() {
  g_bGuarded = false;
  sigprocmask(SIG_SETMASK, &g_Saved.Mask, nullptr);
  sigaction(SIGINT, &g_Saved.Int, nullptr);
  sigaction(SIGTERM, &g_Saved.Term, nullptr);
}

bool CInterruptGuard::Interrupted() {
  return g_bInterrupted != 0;
}

bool HasDeviceEvents(const USB42XX_MGR::IHidPlatform& platform) {
  return platform.GetEventHandle() != USB42XX_MGR::kNoNativeEvent;
}

EDeviceWait WaitForDeviceChange(USB42XX_MGR::IHidPlatform& platform, int nTimeoutMs) {
  const int fd = platform.GetEventHandle();
  pollfd pfd{fd, POLLIN, 0};
  const timespec timeout{nTimeoutMs / 1000, (nTimeoutMs % 1000) * 1000000L};
  const int nReady = ppoll(&pfd, fd < 0 ? 0 : 1, &timeout, g_bGuarded ? &g_WaitMask : nullptr);
  if (nReady < 0) return errno == EINTR && g_bInterrupted ? EDeviceWait::kInterrupted
                                                          : errno == EINTR ? EDeviceWait::kTimeout
                                                                           : EDeviceWait::kError;
  return nReady > 0 ? EDeviceWait::kChanged : EDeviceWait::kTimeout;
}

}  // namespace qrt::transfer
