#include "platform/EventObject.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace USB42XX_MGR {

CEventObject::CEventObject() : m_hEvent(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CEventObject::~CEventObject() {
  if (m_hEvent >= 0) close(m_hEvent);
}

void CEventObject::Signal() {
  if (m_hEvent < 0) return;
  uint64_t qwOne = 1;
  ssize_t n = write(m_hEvent, &qwOne, sizeof(qwOne));
  (void)n;  // a full counter still leaves the descriptor readable
}

void CEventObject::Reset() {
  if (m_hEvent < 0) return;
  uint64_t qwCount = 0;
  ssize_t n = read(m_hEvent, &qwCount, sizeof(qwCount));
  (void)n;  // EAGAIN when it was not signalled
}

bool WaitNativeEvent(NATIVE_EVENT hEvent, uint32_t dwTimeOutMs) {
  if (hEvent < 0) return false;
  pollfd pfd{hEvent, POLLIN, 0};
  const int nTimeOut = dwTimeOutMs > 0x7FFFFFFF ? -1 : static_cast<int>(dwTimeOutMs);
  int nReady = 0;
  do {
    nReady = poll(&pfd, 1, nTimeOut);
  } while (nReady < 0 && errno == EINTR);
  return nReady > 0;
}

}  // namespace USB42XX_MGR
