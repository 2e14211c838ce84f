#include "ProductionFiles.h"

#include <fcntl.h>
#include <nettle/sha2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "RegularFile.h"
#include "SyncedFile.h"

namespace qrt::production::platform {
namespace {

std::string ErrnoText(const std::string& szWhat, int nErr) {
  return szWhat + ": " + std::strerror(nErr);
}

}  // namespace

std::string WriteTempBeside(const std::string& szPath, const uint8_t* pData, size_t n,
                            std::string& szError) {
  std::string szTemp = szPath + ".tmp-XXXXXX";
  int fd = mkstemp(szTemp.data());
  if (fd < 0) {
    szError = ErrnoText(szPath, errno);
    return {};
  }
  // A file replaced keeps its permissions (a counter shared by the group of
  // the line's stations stays writable for them); a new one is 0644.
  struct stat st {};
  const bool bReplaces = lstat(szPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  fchmod(fd, bReplaces ? (st.st_mode & 0777) : 0644);
  size_t nDone = 0;
  int nErr = 0;
  while (nDone < n) {
    ssize_t w = write(fd, pData + nDone, n - nDone);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      nErr = w < 0 ? errno : ENOSPC;
      break;
    }
    nDone += static_cast<size_t>(w);
  }
  if (nErr == 0 && fsync(fd) != 0) nErr = errno;
  if (close(fd) != 0 && nErr == 0) nErr = errno;
  if (nErr != 0) {
    unlink(szTemp.c_str());
    szError = ErrnoText(szPath, nErr);
    return {};
  }
  return szTemp;
}

bool ReplaceWithTemp(const std::string& szTemp, const std::string& szPath, std::string& szError) {
  // A file or a link is replaced; a FIFO, a device (--backup /dev/null) or a
  // folder under the name is not ours to swap for a file.
  struct stat st {};
  if (lstat(szPath.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
    szError = szPath + ": not a regular file";
    unlink(szTemp.c_str());
    return false;
  }
  if (rename(szTemp.c_str(), szPath.c_str()) != 0) {
    szError = ErrnoText(szPath, errno);
    unlink(szTemp.c_str());
    return false;
  }
  if (!SyncFolder(FolderOf(szPath))) {
    szError = ErrnoText(FolderOf(szPath), errno);
    return false;
  }
  return true;
}

EPlaceResult PlaceTempAsNew(const std::string& szTemp, const std::string& szName,
                            std::string& szError) {
  // link() refuses an existing name, so two writers never share one file.
  if (link(szTemp.c_str(), szName.c_str()) != 0) {
    if (errno == EEXIST) return EPlaceResult::kExists;
    szError = ErrnoText(szName, errno);
    return EPlaceResult::kFailed;
  }
  unlink(szTemp.c_str());
  if (!SyncFolder(FolderOf(szName))) {
    szError = ErrnoText(FolderOf(szName), errno);
    return EPlaceResult::kFailed;
  }
  return EPlaceResult::kPlaced;
}

std::string HostName() {
  char sz[256] = {};
  if (gethostname(sz, sizeof(sz) - 1) != 0) return {};
  return sz;
}

void RemoveFile(const std::string& szPath) {
  unlink(szPath.c_str());
}

bool MakeFolder(const std::string& szPart, std::string& szError) {
  if (mkdir(szPart.c_str(), 0700) != 0 && errno != EEXIST) {
    szError = ErrnoText(szPart, errno);
    return false;
  }
  return true;
}

bool IsFolder(const std::string& szPath) {
  struct stat st {};
  return stat(szPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

const char kPathSeparator = '/';

bool IsSeparator(char c) {
  return c == '/';
}

// An flock on the counter file's current inode. The file is replaced by
// rename, so a lock taken on a name that has since been replaced is dropped
// and taken again on the new file.
CLockedCounter::~CLockedCounter() {
  if (m_nHandle >= 0) close(static_cast<int>(m_nHandle));  // also releases the flock
}

ESerialResult CLockedCounter::Lock(const std::string& szPath, std::chrono::milliseconds timeOut,
                                   std::string& szError) {
  m_szPath = szPath;
  auto deadline = std::chrono::steady_clock::now() + timeOut;
  for (;;) {
    const int fd = open(szPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
      int nErr = errno;
      struct stat st {};
      // O_NOFOLLOW's ELOOP would read "too many levels of symbolic links".
      szError = nErr == ELOOP && lstat(szPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)
                    ? szPath + ": it is a link, and the file is not used through one"
                    : szPath + ": " + std::strerror(nErr);
      return nErr == ENOENT ? ESerialResult::kMissing : ESerialResult::kUnreadable;
    }
    m_nHandle = fd;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      szError = szPath + ": not a regular file";
      return ESerialResult::kUnreadable;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      struct stat now {};
      if (stat(szPath.c_str(), &now) == 0 && now.st_ino == st.st_ino && now.st_dev == st.st_dev) {
        return ESerialResult::kOk;
      }
      close(fd);  // replaced meanwhile: lock the new file
      m_nHandle = -1;
      continue;
    }
    int nErr = errno;
    close(fd);
    m_nHandle = -1;
    if (nErr != EWOULDBLOCK) {
      szError = szPath + ": cannot lock: " + std::strerror(nErr);
      return ESerialResult::kUnreadable;
    }
    if (!WaitToLockAgain(deadline, timeOut, szPath, szError)) return ESerialResult::kLocked;
  }
}

long CLockedCounter::ReadStart(char* p, size_t n, std::string& szError) {
  ssize_t k = pread(static_cast<int>(m_nHandle), p, n, 0);
  if (k < 0) szError = m_szPath + ": " + std::strerror(errno);
  return static_cast<long>(k);
}

// Never through a link, and regular files only: a FIFO under the name would
// block the run before its first board, a device (/dev/full) would take
// lines nobody keeps.
intptr_t OpenForAppend(const std::string& szPath, std::string& szError) {
  const int fd = qrt::diag::platform::OpenRegularFile(
      szPath, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW, 0644);
  if (fd < 0) {
    const int nErr = errno;
    // What stands under the name says more than errno (a FIFO without a
    // reader gives ENXIO).
    struct stat st {};
    const bool bThere = lstat(szPath.c_str(), &st) == 0;
    szError = szPath + ": cannot open the log: " +
              (bThere && S_ISLNK(st.st_mode)
                   ? std::string("it is a link, and the log is not written through one")
               : bThere && !S_ISREG(st.st_mode) ? std::string("not a regular file")
                                                : std::string(std::strerror(nErr)));
  }
  return fd;
}

bool AppendAndSync(intptr_t nHandle, const std::string& szPath, const std::string& szLine,
                   std::string& szError) {
  const int fd = static_cast<int>(nHandle);
  // A log removed while the run goes on (a clean-up job, an operator) would
  // take every further line into a file nobody can open again.
  struct stat held {};
  if (fstat(fd, &held) == 0 && held.st_nlink == 0) {
    szError = szPath + ": cannot append to the log: it was removed while the run went on";
    return false;
  }
  // One write call per line: with O_APPEND, lines of two stations never
  // interleave.
  ssize_t n;
  do {
    n = write(fd, szLine.data(), szLine.size());
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(szLine.size())) {
    const int nErr = errno;
    // A line cut short by a full disk would run into the next run's first
    // line: take the piece back while it is still the end of the file.
    struct stat st {};
    const off_t nEnd = n > 0 ? lseek(fd, 0, SEEK_CUR) : -1;
    if (nEnd >= n && fstat(fd, &st) == 0 && st.st_size == nEnd) {
      if (ftruncate(fd, nEnd - n) == 0) fsync(fd);
    }
    szError = szPath + ": cannot append to the log: " +
              (n < 0 ? std::strerror(nErr) : "short write (disk full?)");
    return false;
  }
  if (fsync(fd) != 0) {
    szError = szPath + ": cannot sync the log: " + std::strerror(errno);
    return false;
  }
  return true;
}

void CloseAppend(intptr_t nHandle) {
  if (nHandle >= 0) close(static_cast<int>(nHandle));
}

std::string DefaultBackupFolder() {
  const char* pszState = std::getenv("XDG_STATE_HOME");
  if (pszState && pszState[0] == '/') return std::string(pszState) + "/qrt4250/backups";
  const char* pszHome = std::getenv("HOME");
  if (pszHome && pszHome[0] == '/') return std::string(pszHome) + "/.local/state/qrt4250/backups";
  return {};
}

const char* const kNoBackupFolderReason = "neither XDG_STATE_HOME nor HOME is an absolute path";

bool Sha256(const uint8_t* pData, size_t n, uint8_t digest[32]) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, n, pData);
  sha256_digest(&ctx, SHA256_DIGEST_SIZE, digest);
  return true;
}

}  // namespace qrt::production::platform

namespace qrt::production {

bool SyncFolder(const std::string& szDir) {
  int fd = open(szDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool bOk = fsync(fd) == 0;
  close(fd);
  return bOk;
}

}  // namespace qrt::production
