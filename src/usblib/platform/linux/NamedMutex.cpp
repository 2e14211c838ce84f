#include "NamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

#include "TextNumbers.h"

namespace USB42XX_MGR {
namespace {

constexpr const char* kRunLockDirectory = "/run/lock/qrt4250";
// Fixed rather than $TMPDIR: every user's processes must meet in one folder.
constexpr const char* kTempLockDirectory = "/tmp/qrt4250-locks";

// One open lock file of one process, shared by all handles of the name.
// flock() locks belong to the open file description, so the file is opened
// once per process; threads are told apart by the recursive mutex.
struct SLockFile {
  int fd = -1;
  pid_t pid = 0;
  dev_t dev = 0;
  ino_t ino = 0;
  std::recursive_mutex mtx;
  std::atomic<std::thread::id> owner{};
  int nCount = 0;  // levels held by owner; guarded by mtx

  ~SLockFile() {
    if (fd >= 0) ::close(fd);
  }
};

using LockKey = std::pair<dev_t, ino_t>;

// Never destroyed: handles may outlive static destruction order.
std::mutex& RegistryMutex() {
  static auto* pMutex = new std::mutex;
  return *pMutex;
}

std::map<LockKey, std::weak_ptr<SLockFile>>& Registry() {
  static auto* pMap = new std::map<LockKey, std::weak_ptr<SLockFile>>;
  return *pMap;
}

// A lock folder others can write to must be theirs only to add to: owned by
// root or by us, and sticky when group or others may write, so nobody can
// swap our lock file for a link or their own file. 0 or the errno to report.
int CheckLockDirectory(int nDirFd) {
  struct stat st {};
  if (::fstat(nDirFd, &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  if (st.st_uid != 0 && st.st_uid != ::geteuid()) return EPERM;
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0) return EPERM;
  return 0;
}

// Opens the folder itself, never through a link, and checks it. -1 with
// nError set when it cannot be used.
int OpenLockDirectory(const std::string& szDir, int& nError) {
  const int nDirFd = ::open(szDir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (nDirFd < 0) {
    // A link or a plain file under the folder's name.
    nError = (errno == ELOOP || errno == ENOTDIR) ? ENOTDIR : errno;
    return -1;
  }
  nError = CheckLockDirectory(nDirFd);
  if (nError != 0) {
    ::close(nDirFd);
    return -1;
  }
  return nDirFd;
}

int OpenExisting(int nDirFd, const std::string& szFile) {
  // O_NOFOLLOW: the folder is shared. O_NONBLOCK: a FIFO planted under the
  // name must not block the open.
  return ::openat(nDirFd, szFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
}

std::shared_ptr<SLockFile> ShareLockFile(int fd, const struct stat& st);

std::shared_ptr<SLockFile> OpenLockFile(const std::string& szDir, const std::string& szFile,
                                        bool bCreate, int& nError) {
  const int nDirFd = OpenLockDirectory(szDir, nError);
  if (nDirFd < 0) return nullptr;
  int fd = OpenExisting(nDirFd, szFile);
  if (fd < 0 && errno == ENOENT && bCreate) {
    fd = ::openat(nDirFd, szFile.c_str(),
                  O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (fd >= 0) {
      // Other users' processes must be able to open it whatever our umask.
      if (::fchmod(fd, 0666) != 0) {
        nError = errno;
        ::close(fd);
        ::close(nDirFd);
        return nullptr;
      }
    } else if (errno == EEXIST) {
      fd = OpenExisting(nDirFd, szFile);  // another process created it meanwhile
    }
  }
  if (fd < 0) nError = errno;
  ::close(nDirFd);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    nError = S_ISREG(st.st_mode) ? errno : EINVAL;
    ::close(fd);
    return nullptr;
  }
  return ShareLockFile(fd, st);
}

// The process's one open file of the lock (fd's file), taking fd over: a
// file already open here keeps its descriptor and fd is closed.
std::shared_ptr<SLockFile> ShareLockFile(int fd, const struct stat& st) {
  std::lock_guard<std::mutex> guard(RegistryMutex());
  auto& registry = Registry();
  LockKey key{st.st_dev, st.st_ino};
  auto it = registry.find(key);
  if (it != registry.end()) {
    std::shared_ptr<SLockFile> pShared = it->second.lock();
    if (pShared && pShared->pid == ::getpid()) {
      ::close(fd);
      return pShared;
    }
  }
  auto pFile = std::make_shared<SLockFile>();
  pFile->fd = fd;
  pFile->pid = ::getpid();
  pFile->dev = st.st_dev;
  pFile->ino = st.st_ino;
  registry[key] = pFile;
  return pFile;
}

void SetError(int* pErrno, int nError) {
  if (pErrno != nullptr) *pErrno = nError;
}

}  // namespace

struct CNamedMutex::SImpl {
  std::string szDir;
  std::string szFile;
  std::string szPath;
  bool bOpenFile = false;  // a file given open (OnOpenFile), not a name in szDir
  std::shared_ptr<SLockFile> pFile;

  ~SImpl() {
    if (!pFile) return;
    std::lock_guard<std::mutex> guard(RegistryMutex());
    LockKey key{pFile->dev, pFile->ino};
    bool bLast = pFile.use_count() == 1;
    // The last handle closes the file, which frees the flock; the owning
    // thread's levels go with it.
    if (bLast && pFile->pid == ::getpid() && pFile->owner.load() == std::this_thread::get_id()) {
      while (Unlock()) {
      }
    }
    pFile.reset();
    if (bLast) {
      auto it = Registry().find(key);
      if (it != Registry().end() && it->second.expired()) Registry().erase(it);
    }
  }

  // In a fork()ed child the inherited descriptor shares the parent's open
  // file description, and with it the parent's flock: open the file afresh.
  bool EnsureOwnProcess() {
    if (pFile->pid == ::getpid()) return true;
    int nError = 0;
    std::shared_ptr<SLockFile> pFresh = bOpenFile ? OpenAgain(nError)
                                                  : OpenLockFile(szDir, szFile, false, nError);
    if (!pFresh) {
      errno = nError;
      return false;
    }
    if (pFile->fd >= 0) {
      ::close(pFile->fd);  // the parent's lock must not live on in the child
      pFile->fd = -1;
    }
    pFile = std::move(pFresh);
    return true;
  }

  std::shared_ptr<SLockFile> OpenAgain(int& nError) const {
    const int fd = ::open(szPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
      nError = errno;
      if (fd >= 0) ::close(fd);
      return nullptr;
    }
    return ShareLockFile(fd, st);
  }

  bool Lock(bool bWait) {
    if (!EnsureOwnProcess()) return false;
    SLockFile& file = *pFile;
    if (bWait) {
      file.mtx.lock();
    } else if (!file.mtx.try_lock()) {
      return false;
    }
    if (file.nCount == 0) {
      int nResult;
      do {
        nResult = ::flock(file.fd, bWait ? LOCK_EX : (LOCK_EX | LOCK_NB));
      } while (nResult != 0 && errno == EINTR);
      if (nResult != 0) {
        file.mtx.unlock();
        return false;
      }
      file.owner = std::this_thread::get_id();
    }
    ++file.nCount;
    return true;
  }

  bool Unlock() {
    SLockFile& file = *pFile;
    if (file.pid != ::getpid() || file.owner.load() != std::this_thread::get_id()) return false;
    if (file.nCount == 0) return false;
    if (--file.nCount == 0) {
      file.owner = std::thread::id();
      ::flock(file.fd, LOCK_UN);
    }
    file.mtx.unlock();
    return true;
  }
};

std::unique_ptr<CNamedMutex::SImpl> CNamedMutex::OpenImpl(std::string_view szName,
                                                          const std::string& szLockDir,
                                                          bool bCreate, int* pErrno) {
  std::string szFile = LockFileName(szName);
  if (szFile.empty()) {
    SetError(pErrno, EINVAL);
    return nullptr;
  }
  auto pImpl = std::make_unique<SImpl>();
  pImpl->szDir = szLockDir;
  pImpl->szFile = szFile;
  pImpl->szPath = szLockDir + "/" + szFile;
  int nError = 0;
  pImpl->pFile = OpenLockFile(szLockDir, szFile, bCreate, nError);
  if (!pImpl->pFile) {
    SetError(pErrno, nError);
    return nullptr;
  }
  return pImpl;
}

CNamedMutex::CNamedMutex(std::unique_ptr<SImpl> pImpl) : m_pImpl(std::move(pImpl)) {}

CNamedMutex::~CNamedMutex() = default;

bool CNamedMutex::PrepareLockDirectory(const std::string& szDir, int* pErrno) {
  bool bCreated = ::mkdir(szDir.c_str(), 0700) == 0;
  if (!bCreated && errno != EEXIST) {
    SetError(pErrno, errno);
    return false;
  }
  int nError = 0;
  const int nDirFd = OpenLockDirectory(szDir, nError);
  if (nDirFd < 0) {
    SetError(pErrno, nError);
    return false;
  }
  // Opened for what we created: the path may no longer name it. Made
  // shared only after the checks, so it is never shared without the sticky
  // bit.
  if (bCreated && ::fchmod(nDirFd, 01777) != 0) nError = errno;
  if (nError == 0 && ::faccessat(nDirFd, ".", W_OK | X_OK, AT_EACCESS) != 0) nError = errno;
  ::close(nDirFd);
  SetError(pErrno, nError);
  return nError == 0;
}

std::string CNamedMutex::ErrorText(int nErrno) {
  switch (nErrno) {
    case ENOTDIR:
      return "the lock folder is not a directory, or is a link";
    case EPERM:
      return "the lock folder belongs to another user, or others may write to it without the "
             "sticky bit";
    case ELOOP:
      return "a link stands under the lock file's name";
    case EINVAL:
      return "the lock file is not a regular file";
    default:
      return std::strerror(nErrno);
  }
}

std::string CNamedMutex::DefaultLockDirectory(std::string* pszNotice) {
  if (pszNotice != nullptr) pszNotice->clear();
  int nError = 0;
  if (PrepareLockDirectory(kRunLockDirectory, &nError)) return kRunLockDirectory;
  if (!PrepareLockDirectory(kTempLockDirectory)) return kRunLockDirectory;
  // Typically the folder was made by the first user to run the tool
  // (nothing made it at boot), and every other user lands here.
  if (pszNotice != nullptr) {
    *pszNotice = std::string(kRunLockDirectory) + " cannot be used (" + ErrorText(nError) +
                 "): the device lock falls back to " + kTempLockDirectory +
                 " and no longer keeps out other users' programs (as root, "
                 "systemd-tmpfiles --create qrt4250.conf makes the shared folder)";
  }
  return kTempLockDirectory;
}

std::unique_ptr<CNamedMutex> CNamedMutex::Open(std::string_view szName,
                                               const std::string& szLockDir, int* pErrno) {
  auto pImpl = OpenImpl(szName, szLockDir, false, pErrno);
  return pImpl ? std::unique_ptr<CNamedMutex>(new CNamedMutex(std::move(pImpl))) : nullptr;
}

std::unique_ptr<CNamedMutex> CNamedMutex::OnOpenFile(int nFd, const std::string& szPath,
                                                     int* pErrno) {
  struct stat st {};
  if (nFd < 0 || ::fstat(nFd, &st) != 0) {
    SetError(pErrno, nFd < 0 ? EBADF : errno);
    if (nFd >= 0) ::close(nFd);
    return nullptr;
  }
  auto pImpl = std::make_unique<SImpl>();
  pImpl->szPath = szPath;
  pImpl->bOpenFile = true;
  pImpl->pFile = ShareLockFile(nFd, st);
  return std::unique_ptr<CNamedMutex>(new CNamedMutex(std::move(pImpl)));
}

std::unique_ptr<CNamedMutex> CNamedMutex::Create(std::string_view szName,
                                                 const std::string& szLockDir, int* pErrno) {
  auto pImpl = OpenImpl(szName, szLockDir, true, pErrno);
  return pImpl ? std::unique_ptr<CNamedMutex>(new CNamedMutex(std::move(pImpl))) : nullptr;
}

bool CNamedMutex::Acquire() {
  return m_pImpl->Lock(true);
}

bool CNamedMutex::TryAcquire() {
  return m_pImpl->Lock(false);
}

bool CNamedMutex::AcquireWithin(uint32_t dwTimeOutMs, const std::function<void(uint32_t)>& fnSleep,
                                const std::function<void(uint32_t)>& fnWaiting) {
  return PollForLock(dwTimeOutMs, fnSleep, fnWaiting, [this] {
    if (m_pImpl->Lock(false)) return 1;
    return !m_pImpl->pFile || m_pImpl->pFile->fd < 0 ? -1 : 0;
  });
}

std::string CNamedMutex::DescribeHolder() const {
  if (!m_pImpl->pFile) return {};
  const dev_t dev = m_pImpl->pFile->dev;
  const ino_t ino = m_pImpl->pFile->ino;
  char szKey[64];
  std::snprintf(szKey, sizeof(szKey), "%02x:%02x:%lu", major(dev), minor(dev),
                static_cast<unsigned long>(ino));
  // Lines like "1: FLOCK  ADVISORY  WRITE 1234 00:1a:5678 0 EOF"; waiters
  // carry "->" and are skipped.
  std::ifstream locks("/proc/locks");
  std::string szLine;
  while (std::getline(locks, szLine)) {
    std::istringstream line(szLine);
    std::string szNumber, szKind, szAdvisory, szMode, szPid, szFile;
    line >> szNumber >> szKind >> szAdvisory >> szMode >> szPid >> szFile;
    if (szKind != "FLOCK" || szFile != szKey) continue;
    uint64_t qwPid = 0;
    if (!qrt::diag::ParseDecimal(szPid, 0x7FFFFFFF, qwPid) || qwPid == 0) break;
    const long nPid = static_cast<long>(qwPid);
    std::string szComm;
    std::ifstream comm("/proc/" + std::to_string(nPid) + "/comm");
    std::getline(comm, szComm);
    return "process " + std::to_string(nPid) + (szComm.empty() ? "" : " (" + szComm + ")");
  }
  return "another process";
}

bool CNamedMutex::Release() {
  return m_pImpl->Unlock();
}

const std::string& CNamedMutex::Path() const {
  return m_pImpl->szPath;
}

}  // namespace USB42XX_MGR
