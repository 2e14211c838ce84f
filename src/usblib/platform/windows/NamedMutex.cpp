// The named mutex on Windows: a kernel mutex under the name itself
// ("Global\QRT_HidMutex_{...}"), shared with every program that uses the
// name. The kernel already makes it re-entrant for its owner thread and
// abandons it when the owner dies.
#include "NamedMutex.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

#include "Utf16Path.h"
#include "Win32ErrorText.h"

namespace USB42XX_MGR {
namespace {

// Handles of one name in this process, so the last one to close can give up
// what its thread still owns (closing a handle does not release a mutex).
std::mutex& RegistryMutex() {
  static auto* pMutex = new std::mutex;
  return *pMutex;
}

std::map<std::wstring, int>& OpenCounts() {
  static auto* pMap = new std::map<std::wstring, int>;
  return *pMap;
}

// A caller's folder keeps its names apart from the system-wide ones (tests
// and parallel stations run in folders of their own); no folder means the
// names as given.
std::string KernelName(std::string_view szName, const std::string& szLockDir) {
  std::string szKernel(szName);
  if (szLockDir.empty()) return szKernel;
  uint64_t qwHash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : szLockDir) {
    qwHash ^= c;
    qwHash *= 1099511628211ull;
  }
  char szSuffix[24];
  std::snprintf(szSuffix, sizeof szSuffix, "_%016llx", static_cast<unsigned long long>(qwHash));
  return szKernel + szSuffix;
}

void SetError(int* pErrno, int nError) {
  if (pErrno != nullptr) *pErrno = nError;
}

}  // namespace

struct CNamedMutex::SImpl {
  std::string szName;
  std::wstring wszName;
  HANDLE hMutex = nullptr;

  ~SImpl() {
    if (hMutex == nullptr) return;
    std::lock_guard<std::mutex> guard(RegistryMutex());
    auto it = OpenCounts().find(wszName);
    if (it != OpenCounts().end() && --it->second == 0) {
      OpenCounts().erase(it);
      while (ReleaseMutex(hMutex)) {
      }
    }
    CloseHandle(hMutex);
  }
};

std::unique_ptr<CNamedMutex::SImpl> CNamedMutex::OpenImpl(std::string_view szName,
                                                          const std::string& szLockDir,
                                                          bool bCreate, int* pErrno) {
  // The same names are refused as on Linux, so a name works on both or on
  // neither.
  if (LockFileName(szName).empty()) {
    SetError(pErrno, ERROR_INVALID_NAME);
    return nullptr;
  }
  auto pImpl = std::make_unique<SImpl>();
  pImpl->szName = KernelName(szName, szLockDir);
  pImpl->wszName = qrt::diag::platform::Widen(pImpl->szName);
  if (pImpl->wszName.empty()) {
    SetError(pErrno, ERROR_NO_UNICODE_TRANSLATION);
    return nullptr;
  }
  pImpl->hMutex = bCreate ? CreateMutexW(nullptr, FALSE, pImpl->wszName.c_str())
                          : OpenMutexW(MUTEX_ALL_ACCESS, FALSE, pImpl->wszName.c_str());
  if (pImpl->hMutex == nullptr) {
    SetError(pErrno, static_cast<int>(GetLastError()));
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(RegistryMutex());
  ++OpenCounts()[pImpl->wszName];
  return pImpl;
}

CNamedMutex::CNamedMutex(std::unique_ptr<SImpl> pImpl) : m_pImpl(std::move(pImpl)) {}

CNamedMutex::~CNamedMutex() = default;

bool CNamedMutex::PrepareLockDirectory(const std::string&, int* pErrno) {
  SetError(pErrno, 0);  // kernel objects need no folder
  return true;
}

std::string CNamedMutex::ErrorText(int nError) {
  return Win32ErrorText(static_cast<unsigned long>(nError));
}

std::string CNamedMutex::DefaultLockDirectory(std::string* pszNotice) {
  if (pszNotice != nullptr) pszNotice->clear();
  return {};
}

std::unique_ptr<CNamedMutex> CNamedMutex::Open(std::string_view szName,
                                               const std::string& szLockDir, int* pErrno) {
  auto pImpl = OpenImpl(szName, szLockDir, false, pErrno);
  return pImpl ? std::unique_ptr<CNamedMutex>(new CNamedMutex(std::move(pImpl))) : nullptr;
}

std::unique_ptr<CNamedMutex> CNamedMutex::Create(std::string_view szName,
                                                 const std::string& szLockDir, int* pErrno) {
  auto pImpl = OpenImpl(szName, szLockDir, true, pErrno);
  return pImpl ? std::unique_ptr<CNamedMutex>(new CNamedMutex(std::move(pImpl))) : nullptr;
}

namespace {

// An abandoned mutex (its owner died holding it) is ours now, as on Linux
// where the kernel drops a dead owner's flock.
bool Owned(DWORD dwResult) {
  return dwResult == WAIT_OBJECT_0 || dwResult == WAIT_ABANDONED;
}

}  // namespace

bool CNamedMutex::Acquire() {
  return Owned(WaitForSingleObject(m_pImpl->hMutex, INFINITE));
}

bool CNamedMutex::TryAcquire() {
  return Owned(WaitForSingleObject(m_pImpl->hMutex, 0));
}

bool CNamedMutex::AcquireWithin(uint32_t dwTimeOutMs, const std::function<void(uint32_t)>& fnSleep,
                                const std::function<void(uint32_t)>& fnWaiting) {
  return PollForLock(dwTimeOutMs, fnSleep, fnWaiting, [this] {
    const DWORD dwResult = WaitForSingleObject(m_pImpl->hMutex, 0);
    if (Owned(dwResult)) return 1;
    return dwResult == WAIT_TIMEOUT ? 0 : -1;
  });
}

std::string CNamedMutex::DescribeHolder() const {
  return "another process";  // Windows does not say who owns a mutex
}

bool CNamedMutex::Release() {
  return ReleaseMutex(m_pImpl->hMutex) != 0;
}

const std::string& CNamedMutex::Path() const {
  return m_pImpl->szName;
}

}  // namespace USB42XX_MGR
