#include "NamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace USB42XX_MGR {
namespace {

constexpr const char* kRunLockDirectory = "/run/lock/qrt4250";
// Fixed rather than $TMPDIR: every user's processes must meet in one folder.
constexpr const char* kTempLockDirectory = "/tmp/qrt4250-locks";
constexpr size_t kMaxLockFileName = 200;

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

int OpenExisting(const std::string& szPath) {
  // O_NOFOLLOW: the folder is world-writable. O_NONBLOCK: a FIFO planted
  // under the name must not block the open.
  return ::open(szPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
}

std::shared_ptr<SLockFile> OpenLockFile(const std::string& szPath, bool bCreate, int& nError) {
  int fd = OpenExisting(szPath);
  if (fd < 0 && errno == ENOENT && bCreate) {
    fd = ::open(szPath.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                0666);
    if (fd >= 0) {
      // Other users' processes must be able to open it whatever our umask.
      if (::fchmod(fd, 0666) != 0) {
        nError = errno;
        ::close(fd);
        return nullptr;
      }
    } else if (errno == EEXIST) {
      fd = OpenExisting(szPath);  // another process created it meanwhile
    }
  }
  if (fd < 0) {
    nError = errno;
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    nError = S_ISREG(st.st_mode) ? errno : EINVAL;
    ::close(fd);
    return nullptr;
  }

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
  std::string szPath;
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
    std::shared_ptr<SLockFile> pFresh = OpenLockFile(szPath, false, nError);
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
  pImpl->szPath = szLockDir + "/" + szFile;
  int nError = 0;
  pImpl->pFile = OpenLockFile(pImpl->szPath, bCreate, nError);
  if (!pImpl->pFile) {
    SetError(pErrno, nError);
    return nullptr;
  }
  return pImpl;
}

CNamedMutex::CNamedMutex(std::unique_ptr<SImpl> pImpl) : m_pImpl(std::move(pImpl)) {}

CNamedMutex::~CNamedMutex() = default;

bool CNamedMutex::PrepareLockDirectory(const std::string& szDir, int* pErrno) {
  if (::mkdir(szDir.c_str(), 0777) == 0) {
    if (::chmod(szDir.c_str(), 01777) != 0) {
      SetError(pErrno, errno);
      return false;
    }
  } else if (errno != EEXIST) {
    SetError(pErrno, errno);
    return false;
  }
  struct stat st {};
  if (::lstat(szDir.c_str(), &st) != 0) {
    SetError(pErrno, errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    SetError(pErrno, ENOTDIR);
    return false;
  }
  if (::access(szDir.c_str(), W_OK | X_OK) != 0) {
    SetError(pErrno, errno);
    return false;
  }
  return true;
}

std::string CNamedMutex::DefaultLockDirectory() {
  if (PrepareLockDirectory(kRunLockDirectory)) return kRunLockDirectory;
  PrepareLockDirectory(kTempLockDirectory);
  return kTempLockDirectory;
}

std::string CNamedMutex::LockFileName(std::string_view szName) {
  constexpr std::string_view kGlobalPrefix = "Global\\";
  if (szName.substr(0, kGlobalPrefix.size()) == kGlobalPrefix) {
    szName.remove_prefix(kGlobalPrefix.size());
  }
  std::string szFile;
  for (char c : szName) {
    auto uc = static_cast<unsigned char>(c);
    if (c == '%' || c == '/' || c == '\\' || uc < 0x20 || uc == 0x7F) {
      char szHex[4];
      std::snprintf(szHex, sizeof(szHex), "%%%.2X", uc);
      szFile += szHex;
    } else {
      szFile += c;
    }
  }
  if (szFile.empty() || szFile == "." || szFile == ".." || szFile.size() > kMaxLockFileName) {
    return {};
  }
  return szFile;
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

bool CNamedMutex::Acquire() {
  return m_pImpl->Lock(true);
}

bool CNamedMutex::TryAcquire() {
  return m_pImpl->Lock(false);
}

bool CNamedMutex::Release() {
  return m_pImpl->Unlock();
}

const std::string& CNamedMutex::Path() const {
  return m_pImpl->szPath;
}

}  // namespace USB42XX_MGR
