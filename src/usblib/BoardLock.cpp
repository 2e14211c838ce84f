#include "BoardLock.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "Trace.h"
#include "platform/HidPlatform.h"

namespace USB42XX_MGR {
namespace {

constexpr uint32_t kHolderNoticeMs = 1000;
constexpr uint32_t kPollMs = 50;

}  // namespace

bool PollForLock(uint32_t dwTimeOutMs, const std::function<void(uint32_t)>& fnSleep,
                 const std::function<void(uint32_t)>& fnWaiting, const std::function<int()>& fnTry) {
  const bool bForever = dwTimeOutMs == UINT32_MAX;
  uint32_t dwWaited = 0;
  for (;;) {
    const int nTry = fnTry();
    if (nTry != 0) return nTry > 0;
    if (!bForever && dwWaited >= dwTimeOutMs) return false;
    const uint32_t dwStep = bForever ? kPollMs : std::min(kPollMs, dwTimeOutMs - dwWaited);
    fnSleep(dwStep);
    if (dwWaited < UINT32_MAX - kPollMs) dwWaited += dwStep;
    if (fnWaiting) fnWaiting(dwWaited);
  }
}

void DeviceLockSleep(uint32_t dwMilliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

bool AcquireBoardLock(IBoardLock& lock, uint32_t dwTimeOutMs,
                      const std::function<void(uint32_t)>& fnSleep,
                      const DEVICE_LOCK_WAIT_CALLBACK& fnWaiting, std::string* pszHolder) {
  std::string szHolder;
  const bool bOk = lock.AcquireWithin(dwTimeOutMs, fnSleep, [&](uint32_t dwWaited) {
    if (dwWaited >= kHolderNoticeMs && szHolder.empty()) {
      szHolder = lock.DescribeHolder();
      qrt::diag::TraceFormat("***** waiting for the device lock %s, held by %s *****\n",
                             lock.Name().c_str(), szHolder.c_str());
    }
    if (fnWaiting) fnWaiting(dwWaited, szHolder);
  });
  if (!bOk && szHolder.empty()) szHolder = lock.DescribeHolder();
  if (pszHolder != nullptr) *pszHolder = szHolder;
  return bOk;
}

std::string LockInUseText(const IBoardLock& lock, const std::string& szHolder,
                          uint32_t dwTimeOutMs) {
  return "The device is in use: its lock " + lock.Name() + " is held by " + szHolder +
         "; gave up after " + std::to_string(dwTimeOutMs / 1000) + " s.";
}

std::string LockSetUpText(const std::string& szWhy) {
  return "The device lock cannot be had (" + szWhy + ").";
}

// One key's lock: the thread that holds it and how many levels.
struct CProcessLockTable::SState {
  struct SEntry {
    std::thread::id owner;
    int nCount = 0;
  };
  std::mutex mtx;
  std::map<std::string, SEntry> entries;
};

std::shared_ptr<CProcessLockTable::SState> CProcessLockTable::MakeState() {
  return std::make_shared<SState>();
}

namespace {

class CProcessBoardLock : public IBoardLock {
 public:
  using SState = CProcessLockTable::SState;

  CProcessBoardLock(std::shared_ptr<SState> pState, std::string szKey)
      : m_pState(std::move(pState)), m_szKey(std::move(szKey)) {}
  ~CProcessBoardLock() override {
    while (m_nHeld > 0 && Release()) {
    }
  }

  bool AcquireWithin(uint32_t dwTimeOutMs, const std::function<void(uint32_t)>& fnSleep,
                     const std::function<void(uint32_t)>& fnWaiting) override {
    return PollForLock(dwTimeOutMs, fnSleep, fnWaiting, [this] { return TryAcquire() ? 1 : 0; });
  }

  bool Release() override {
    std::lock_guard<std::mutex> guard(m_pState->mtx);
    auto it = m_pState->entries.find(m_szKey);
    if (m_nHeld == 0 || it == m_pState->entries.end() ||
        it->second.owner != std::this_thread::get_id()) {
      return false;
    }
    --m_nHeld;
    if (--it->second.nCount == 0) m_pState->entries.erase(it);
    return true;
  }

  std::string DescribeHolder() const override { return "another task of this program"; }
  const std::string& Name() const override { return m_szKey; }

 private:
  bool TryAcquire() {
    std::lock_guard<std::mutex> guard(m_pState->mtx);
    SState::SEntry& entry = m_pState->entries[m_szKey];
    if (entry.nCount > 0 && entry.owner != std::this_thread::get_id()) return false;
    entry.owner = std::this_thread::get_id();
    ++entry.nCount;
    ++m_nHeld;
    return true;
  }

  std::shared_ptr<SState> m_pState;
  std::string m_szKey;
  int m_nHeld = 0;  // levels taken through this object
};

}  // namespace

std::unique_ptr<IBoardLock> CProcessLockTable::Open(const std::string& szKey) {
  return std::make_unique<CProcessBoardLock>(m_pState, szKey);
}

std::unique_ptr<IBoardLock> IHidPlatform::OpenBoardLock(const std::string& szPath,
                                                        std::string&) {
  // Never destroyed: locks may outlive static destruction order.
  static auto* pTable = new CProcessLockTable;
  return pTable->Open(szPath);
}

}  // namespace USB42XX_MGR
