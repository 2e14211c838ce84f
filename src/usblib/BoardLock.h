#pragma once
// Board locks. Each board has its own: two programs never talk to one board
// at once, while work on one board never waits for another. The machine's
// boards lock so that every program sees it (Linux: flock on the board's
// hidraw node; Windows: a named mutex of the board's path); simulated boards
// lock within the process.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace USB42XX_MGR {

// A lock as the transfers take it. Re-entrant for the thread that holds it
// (a device search run from a transfer's progress callback probes the board
// again).
class IBoardLock {
 public:
  virtual ~IBoardLock() = default;
  // Takes the lock, waiting at most dwTimeOutMs (UINT32_MAX: no limit);
  // between attempts fnSleep(ms) on the caller's clock, then fnWaiting(ms
  // waited so far) when given. False when it was not had.
  virtual bool AcquireWithin(uint32_t dwTimeOutMs, const std::function<void(uint32_t)>& fnSleep,
                             const std::function<void(uint32_t)>& fnWaiting = {}) = 0;
  // Gives up one level; false when the calling thread holds none.
  virtual bool Release() = 0;
  // Who holds it, for the user: "process 1234 (qrt4250-cli)", or "another
  // process" when the system does not tell.
  virtual std::string DescribeHolder() const = 0;
  // What is locked, for messages: the lock file, device node or mutex name.
  virtual const std::string& Name() const = 0;
};

// The wait of every lock: fnTry until it answers 1 (taken) or -1 (failed, no
// more tries), or dwTimeOutMs (UINT32_MAX: no limit) has passed; between
// tries fnSleep(ms), then fnWaiting(ms waited so far) when given. Polled
// rather than blocking: the wait must end, and in the simulator time is
// virtual. True when taken.
bool PollForLock(uint32_t dwTimeOutMs, const std::function<void(uint32_t)>& fnSleep,
                 const std::function<void(uint32_t)>& fnWaiting, const std::function<int()>& fnTry);

// Called while a lock is waited for: the milliseconds waited so far and,
// from one second on, who holds it (empty before).
using DEVICE_LOCK_WAIT_CALLBACK =
    std::function<void(uint32_t dwWaitedMs, const std::string& szHolder)>;

// Sleeps for the lock waits in real time: the other programs that hold a
// lock run in real time (also beside the simulated chip's virtual clock).
void DeviceLockSleep(uint32_t dwMilliseconds);

// Takes lock within dwTimeOutMs; from one second on the holder is named in
// the trace and to fnWaiting. True when held; false with *pszHolder (when
// given) naming who held it.
bool AcquireBoardLock(IBoardLock& lock, uint32_t dwTimeOutMs,
                      const std::function<void(uint32_t)>& fnSleep,
                      const DEVICE_LOCK_WAIT_CALLBACK& fnWaiting, std::string* pszHolder);

// "The device is in use: its lock NAME is held by HOLDER; gave up after N s."
std::string LockInUseText(const IBoardLock& lock, const std::string& szHolder,
                          uint32_t dwTimeOutMs);
// "The device lock cannot be had (WHY)."
std::string LockSetUpText(const std::string& szWhy);

// Locks within this process, by key: the simulated boards' (they are not the
// machine's), and the default of a platform. Tables are independent: two
// simulated platforms in one process do not share boards.
class CProcessLockTable {
 public:
  // The lock of szKey (not yet taken).
  std::unique_ptr<IBoardLock> Open(const std::string& szKey);

  struct SState;  // the locks' shared state; opaque

 private:
  std::shared_ptr<SState> m_pState = MakeState();
  static std::shared_ptr<SState> MakeState();
};

}  // namespace USB42XX_MGR
