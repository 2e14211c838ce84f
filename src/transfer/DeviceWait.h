#pragma once
// Waiting for boards: a program without an event loop of its own (the CLI's
// monitor, the production station) waits here for the platform's hot-plug
// events, and a Ctrl+C ends the wait, never a transfer.
namespace USB42XX_MGR {
class IHidPlatform;
}

namespace qrt::transfer {

// While one lives, SIGINT and SIGTERM (Windows: Ctrl+C and Ctrl+Break) do
// not end the process: they are held back except inside WaitForDeviceChange,
// which then returns kInterrupted, so an interrupt during a transfer takes
// effect at the next wait, never in the middle of a write. The previous
// handlers and mask come back at its end.
class CInterruptGuard {
 public:
  CInterruptGuard();
  ~CInterruptGuard();
  CInterruptGuard(const CInterruptGuard&) = delete;
  CInterruptGuard& operator=(const CInterruptGuard&) = delete;
  // An interrupt arrived since the guard began.
  static bool Interrupted();
};

// True when the platform delivers hot-plug events; without them a waiter
// compares the device list after each wait instead.
bool HasDeviceEvents(const USB42XX_MGR::IHidPlatform& platform);

enum class EDeviceWait {
  kChanged,      // events are pending: call the platform's DispatchEvents()
  kTimeout,      // nothing within the time (always so without events)
  kInterrupted,  // an interrupt (under a CInterruptGuard)
  kError         // the wait itself failed; errno says why
};

// Waits at most nTimeoutMs for a hot-plug event of the platform.
EDeviceWait WaitForDeviceChange(USB42XX_MGR::IHidPlatform& platform, int nTimeoutMs);

}  // namespace qrt::transfer
