#pragma once
// A manual-reset event on the OS's own waitable object, so that a platform
// without a kernel event source of its own (the simulated chip) can still
// hand out a NATIVE_EVENT that the window and the CLI wait on.
#include <cstdint>

#include "NativeEvent.h"

namespace USB42XX_MGR {

// True when hEvent is (or becomes) signalled within dwTimeOutMs; false on
// time-out, failure or kNoNativeEvent. Does not reset it.
bool WaitNativeEvent(NATIVE_EVENT hEvent, uint32_t dwTimeOutMs);

class CEventObject {
 public:
  CEventObject();
  ~CEventObject();
  CEventObject(const CEventObject&) = delete;
  CEventObject& operator=(const CEventObject&) = delete;

  // kNoNativeEvent when the OS refused to create the object; Signal, Reset
  // and Wait then do nothing (Wait returns false).
  NATIVE_EVENT Native() const { return m_hEvent; }

  // Leaves the object signalled until Reset; signalling twice is one signal.
  void Signal();
  void Reset();
  bool Wait(uint32_t dwTimeOutMs) { return WaitNativeEvent(m_hEvent, dwTimeOutMs); }

 private:
  NATIVE_EVENT m_hEvent = kNoNativeEvent;
};

}  // namespace USB42XX_MGR
