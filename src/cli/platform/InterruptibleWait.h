#pragma once
// The CLI's one wait: for the device platform's event object, a time-out, or
// the user's interrupt (Ctrl+C; SIGTERM on Linux, the console's close and
// log-off events on Windows).
#include <memory>
#include <string>

#include "NativeEvent.h"

namespace qrt::cli {

enum class EWaitResult { Signalled, TimedOut, Interrupted, Failed };

// While it lives, an interrupt sets a flag instead of ending the process,
// and it cannot slip in between a check of the flag and the wait. One scope
// at a time per process.
class CInterruptibleWait {
 public:
  CInterruptibleWait();
  ~CInterruptibleWait();
  CInterruptibleWait(const CInterruptibleWait&) = delete;
  CInterruptibleWait& operator=(const CInterruptibleWait&) = delete;

  bool Interrupted() const;

  // Waits up to nTimeOutMs for hEvent (kNoNativeEvent: only the time-out and
  // the interrupt). Failed comes with the OS's reason in szError.
  EWaitResult Wait(USB42XX_MGR::NATIVE_EVENT hEvent, int nTimeOutMs, std::string& szError);

 private:
  struct SState;
  std::unique_ptr<SState> m_pState;
};

}  // namespace qrt::cli
