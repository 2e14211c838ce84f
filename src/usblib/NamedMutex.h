#pragma once
// System-wide named mutex, the Linux stand-in for a Windows named mutex.
// One lock file per name (the name without its "Global\" prefix) in a
// shared lock directory, locked with flock(2): every process that uses the
// name shares it, and the kernel releases it when the owner dies.
// Re-entrant for the owning thread (a recursion count on top of the flock).
//
// The folder is shared between users, so nothing is ever created or opened
// through a link, and a folder is used only when it belongs to root or to
// this user and, if others may write to it, has the sticky bit (nobody can
// then replace another's lock file).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "BoardLock.h"

namespace USB42XX_MGR {

class CNamedMutex : public IBoardLock {
 public:
  // The lock directory used when none is given: /run/lock/qrt4250 when it
  // passes the checks above, else /tmp/qrt4250-locks when that does; when
  // neither does, /run/lock/qrt4250 (opening a lock there then fails with
  // the reason). A missing folder is created world-writable with the sticky
  // bit. On the fall-back to /tmp, *pszNotice (when given) says why and
  // what it costs, for the user: the lock there no longer keeps other
  // users' programs out. Empty otherwise (and on Windows, where the lock
  // needs no folder).
  static std::string DefaultLockDirectory(std::string* pszNotice = nullptr);

  // Creates szDir world-writable with the sticky bit (01777, whatever the
  // umask) when missing. True when it then is a usable lock folder: a
  // directory (not a link), owned by root or this user, sticky when others
  // may write to it, and this process can create files in it. False with
  // *pErrno set otherwise: ENOTDIR (not a directory, or a link), EPERM (owned
  // by another user, or writable by others without the sticky bit), or the
  // error of the failed call.
  static bool PrepareLockDirectory(const std::string& szDir, int* pErrno = nullptr);

  // Text of an error of Open/Create/PrepareLockDirectory for a user, naming
  // what the checks above found (for EPERM and ENOTDIR) or strerror.
  static std::string ErrorText(int nErrno);

  // The lock file name of a mutex name: without a leading "Global\", with
  // '%', '/', backslash and control characters written as %XX so that distinct
  // names stay distinct. Empty when the name cannot be a file name (empty,
  // "." or "..", or longer than 200 characters).
  static std::string LockFileName(std::string_view szName);

  // Handles of one name in one process share a single lock and its owner:
  // a thread that owns it through one handle owns it through all. A handle
  // carried into a fork()ed child opens the lock afresh on its first Acquire
  // there, so parent and child contend like two programs.

  // Opens the lock of an existing name. Returns null when the name has no lock
  // file yet, it cannot be opened (a link, not a regular file, no access), or
  // szLockDir is not a usable lock folder (see PrepareLockDirectory); *pErrno
  // (when given) then holds the error.
  static std::unique_ptr<CNamedMutex> Open(std::string_view szName, const std::string& szLockDir,
                                           int* pErrno = nullptr);

  // Opens the lock, creating its file (mode 0666 whatever the umask) when
  // missing. Returns null on failure with *pErrno set.
  static std::unique_ptr<CNamedMutex> Create(std::string_view szName, const std::string& szLockDir,
                                             int* pErrno = nullptr);

#ifndef _WIN32
  // The lock of an open file (a board's hidraw node, so that only users who
  // can open the board can lock it): its flock, shared like a name's by
  // every handle of the same file in this process. Takes nFd over; szPath
  // names the file in messages and opens it again in a fork()ed child.
  // Null with *pErrno when nFd is not an open file.
  static std::unique_ptr<CNamedMutex> OnOpenFile(int nFd, const std::string& szPath,
                                                 int* pErrno = nullptr);
#endif

  ~CNamedMutex() override;
  CNamedMutex(const CNamedMutex&) = delete;
  CNamedMutex& operator=(const CNamedMutex&) = delete;

  // Waits without time limit until the calling thread owns the lock; a thread
  // that owns it already just counts up. Returns false on an I/O error.
  bool Acquire();

  // Takes the lock like Acquire when it is free or already owned by the
  // calling thread; returns false at once when another thread or process
  // owns it, or on an I/O error.
  bool TryAcquire();

  // Takes the lock like Acquire, waiting at most dwTimeOutMs. Between
  // attempts it calls fnSleep(ms) (the caller's clock: virtual in the
  // simulator) and then fnWaiting(ms waited so far) when given. Returns true
  // when the calling thread owns the lock, false after the time-out or on an
  // I/O error. UINT32_MAX waits without limit.
  bool AcquireWithin(uint32_t dwTimeOutMs, const std::function<void(uint32_t)>& fnSleep,
                     const std::function<void(uint32_t)>& fnWaiting = {}) override;

  // Who holds the lock, for the user, when it could not be had:
  // "process 1234 (qrt4250-cli)", or "another process" when the kernel does
  // not tell (no /proc, another PID namespace).
  std::string DescribeHolder() const override;

  // Gives up one level of ownership; the lock is free again when the count
  // reaches 0. Returns false when the calling thread does not own it.
  // Destroying the last handle of a name in a process frees the lock too.
  bool Release() override;

  // Path of the lock file, for diagnostics.
  const std::string& Path() const;
  const std::string& Name() const override { return Path(); }

 private:
  struct SImpl;
  static std::unique_ptr<SImpl> OpenImpl(std::string_view szName, const std::string& szLockDir,
                                         bool bCreate, int* pErrno);
  explicit CNamedMutex(std::unique_ptr<SImpl> pImpl);
  std::unique_ptr<SImpl> m_pImpl;
};

}  // namespace USB42XX_MGR
