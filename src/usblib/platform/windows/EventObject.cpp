#include "platform/EventObject.h"

#include <windows.h>

namespace USB42XX_MGR {

// Manual reset: it stays signalled until the events are dispatched, like the
// readable eventfd on Linux.
CEventObject::CEventObject() : m_hEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CEventObject::~CEventObject() {
  if (m_hEvent != kNoNativeEvent) CloseHandle(m_hEvent);
}

void CEventObject::Signal() {
  if (m_hEvent != kNoNativeEvent) SetEvent(m_hEvent);
}

void CEventObject::Reset() {
  if (m_hEvent != kNoNativeEvent) ResetEvent(m_hEvent);
}

bool WaitNativeEvent(NATIVE_EVENT hEvent, uint32_t dwTimeOutMs) {
  if (hEvent == kNoNativeEvent) return false;
  return WaitForSingleObject(hEvent, dwTimeOutMs) == WAIT_OBJECT_0;
}

}  // namespace USB42XX_MGR
