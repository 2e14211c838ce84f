// TEMPORARY: minimal stand-ins for CDeviceIdMgr, QRT_Encrypt/QRT_Decrypt and
// CNamedMutex so the facade links until the device-id branch lands. Deleted
// at that merge. The "cipher" here is the reversed text, not DES.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <thread>

#include "DeviceIdMgr.h"
#include "DeviceIdStore.h"
#include "NamedMutex.h"
#include "UsbDeviceNames.h"

namespace USB42XX_MGR {

int QRT_Decrypt(const std::string& szCipher, std::string& szPlain) {
  szPlain.assign(szCipher.rbegin(), szCipher.rend());
  while (!szPlain.empty() && szPlain.front() == '=') szPlain.erase(szPlain.begin());
  return szCipher.size() % 4 == 0 ? 0 : 1;
}

int QRT_Encrypt(const std::string& szPlain, std::string& szCipher) {
  std::string s = szPlain;
  while (s.size() % 4 != 0) s = "=" + s;
  szCipher.assign(s.rbegin(), s.rend());
  return 0;
}

CDeviceIdMgr::CDeviceIdMgr(IDeviceIdStore& store, IHidPlatform& platform)
    : m_Store(store), m_Platform(platform) {}

int CDeviceIdMgr::GetDeviceIdGroupFromRegistry(const std::string& szGroupName) {
  if (!m_Store.OpenGroup(szGroupName)) return 1;
  m_vRawLines.clear();
  m_mapDeviceIds.clear();
  std::string szValue;
  for (int n = 1; m_Store.ReadValue(szGroupName, std::to_string(n), szValue); ++n) {
    m_vRawLines.push_back(szValue);
  }
  auto trim = [](std::string s) {
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  };
  for (const auto& line : m_vRawLines) {
    size_t pos = line.find(',');
    if (pos == std::string::npos) continue;
    std::string szPattern = trim(line.substr(0, pos)), szCipher = trim(line.substr(pos + 1));
    if (szPattern.empty() || szCipher.empty()) return 2;
    std::string szPlain;
    if (QRT_Decrypt(szCipher, szPlain) != 0) continue;
    if (szPlain != szPattern) continue;
    m_mapDeviceIds.emplace(szPattern, szCipher);
  }
  return 0;
}

bool CDeviceIdMgr::IsDeviceIdContainGroupEx(uint16_t wVID, uint16_t wPID) const {
  char szWanted[16];
  std::snprintf(szWanted, sizeof(szWanted), "%.4X%.4X", wVID, wPID);
  for (const auto& entry : m_mapDeviceIds) {
    std::string s = entry.first;
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    size_t v = s.find("VID_"), p = s.find("PID_");
    if (v == std::string::npos || p == std::string::npos || v + 8 > s.size() || p + 8 > s.size()) {
      continue;
    }
    std::string szGot = s.substr(v + 4, 4) + s.substr(p + 4, 4);
    bool bMatch = true;
    for (int i = 0; i < 8; ++i) {
      if (szGot[i] != 'X' && szGot[i] != szWanted[i]) bMatch = false;
    }
    if (bMatch) return true;
  }
  return false;
}

int CDeviceIdMgr::SearchPresentDevice(DEVICE_LIST& list) const {
  std::vector<std::string> vNames;
  if (!EnumerateUsbDosDevices(m_Platform, vNames)) return 1;
  for (const auto& szName : vNames) {
    uint16_t wVID = 0, wPID = 0;
    if (ParseVidPid(szName, wVID, wPID) != 0) continue;
    if (IsDeviceIdContainGroupEx(wVID, wPID)) DeviceListAdd(list, wVID, wPID);
  }
  return 0;
}

struct CNamedMutex::SImpl {
  int nFd = -1;
  std::string szPath;
  std::mutex mutex;
  std::thread::id owner;
  int nCount = 0;
};

std::string CNamedMutex::DefaultLockDirectory() {
  std::string szDir = (std::filesystem::temp_directory_path() / "qrt4250-locks").string();
  ::mkdir(szDir.c_str(), 01777);
  return szDir;
}

static std::unique_ptr<CNamedMutex> OpenImpl(std::string_view szName, const std::string& szDir,
                                             bool bCreate, int* pErrno,
                                             std::unique_ptr<CNamedMutex> (*make)(int,
                                                                                  std::string)) {
  std::string szBase(szName);
  if (szBase.rfind("Global\\", 0) == 0) szBase = szBase.substr(7);
  std::string szPath = szDir + "/" + szBase + ".lock";
  int fd = ::open(szPath.c_str(), O_RDWR | O_CLOEXEC | (bCreate ? O_CREAT : 0), 0666);
  if (fd < 0) {
    if (pErrno) *pErrno = errno;
    return nullptr;
  }
  if (bCreate) ::fchmod(fd, 0666);
  return make(fd, szPath);
}

std::unique_ptr<CNamedMutex> CNamedMutex::Open(std::string_view szName,
                                               const std::string& szLockDir, int* pErrno) {
  return OpenImpl(szName, szLockDir, false, pErrno, [](int fd, std::string path) {
    auto p = std::make_unique<SImpl>();
    p->nFd = fd;
    p->szPath = std::move(path);
    return std::unique_ptr<CNamedMutex>(new CNamedMutex(std::move(p)));
  });
}

std::unique_ptr<CNamedMutex> CNamedMutex::Create(std::string_view szName,
                                                 const std::string& szLockDir, int* pErrno) {
  return OpenImpl(szName, szLockDir, true, pErrno, [](int fd, std::string path) {
    auto p = std::make_unique<SImpl>();
    p->nFd = fd;
    p->szPath = std::move(path);
    return std::unique_ptr<CNamedMutex>(new CNamedMutex(std::move(p)));
  });
}

CNamedMutex::CNamedMutex(std::unique_ptr<SImpl> pImpl) : m_pImpl(std::move(pImpl)) {}

CNamedMutex::~CNamedMutex() {
  if (m_pImpl->nFd >= 0) ::close(m_pImpl->nFd);
}

bool CNamedMutex::Acquire() {
  if (m_pImpl->nCount > 0 && m_pImpl->owner == std::this_thread::get_id()) {
    ++m_pImpl->nCount;
    return true;
  }
  m_pImpl->mutex.lock();
  while (::flock(m_pImpl->nFd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      m_pImpl->mutex.unlock();
      return false;
    }
  }
  m_pImpl->owner = std::this_thread::get_id();
  m_pImpl->nCount = 1;
  return true;
}

bool CNamedMutex::Release() {
  if (m_pImpl->nCount == 0 || m_pImpl->owner != std::this_thread::get_id()) return false;
  if (--m_pImpl->nCount == 0) {
    m_pImpl->owner = std::thread::id();
    ::flock(m_pImpl->nFd, LOCK_UN);
    m_pImpl->mutex.unlock();
  }
  return true;
}

const std::string& CNamedMutex::Path() const {
  return m_pImpl->szPath;
}

}  // namespace USB42XX_MGR
