#include "InterruptibleWait.h"

#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <cstring>

namespace qrt::cli {
namespace {

volatile sig_atomic_t g_bInterrupted = 0;

void OnInterrupt(int) {
  g_bInterrupted = 1;
}

}  // namespace

// SIGINT and SIGTERM are blocked except inside ppoll, so an interrupt cannot
// slip in between the check of the flag and the wait.
struct CInterruptibleWait::SState {
  struct sigaction OldInt {};
  struct sigaction OldTerm {};
  sigset_t OldMask{};
};

CInterruptibleWait::CInterruptibleWait() : m_pState(std::make_unique<SState>()) {
  g_bInterrupted = 0;
  struct sigaction action {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &m_pState->OldInt);
  sigaction(SIGTERM, &action, &m_pState->OldTerm);
  sigset_t block;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  sigaddset(&block, SIGTERM);
  sigprocmask(SIG_BLOCK, &block, &m_pState->OldMask);
}

CInterruptibleWait::~CInterruptibleWait() {
  sigprocmask(SIG_SETMASK, &m_pState->OldMask, nullptr);
  sigaction(SIGINT, &m_pState->OldInt, nullptr);
  sigaction(SIGTERM, &m_pState->OldTerm, nullptr);
}

bool CInterruptibleWait::Interrupted() const {
  return g_bInterrupted != 0;
}

EWaitResult CInterruptibleWait::Wait(USB42XX_MGR::NATIVE_EVENT hEvent, int nTimeOutMs,
                                     std::string& szError) {
  if (g_bInterrupted) return EWaitResult::Interrupted;
  const bool bEvent = hEvent != USB42XX_MGR::kNoNativeEvent;
  pollfd pfd{hEvent, POLLIN, 0};
  if (nTimeOutMs < 0) nTimeOutMs = 0;
  const timespec timeout{nTimeOutMs / 1000, (nTimeOutMs % 1000) * 1000000L};
  const int nReady = ppoll(&pfd, bEvent ? 1 : 0, &timeout, &m_pState->OldMask);
  if (nReady < 0) {
    if (errno == EINTR) return g_bInterrupted ? EWaitResult::Interrupted : EWaitResult::TimedOut;
    szError = std::strerror(errno);
    return EWaitResult::Failed;
  }
  return nReady > 0 ? EWaitResult::Signalled : EWaitResult::TimedOut;
}

}  // namespace qrt::cli
