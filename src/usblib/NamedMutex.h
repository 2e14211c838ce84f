#pragma once
// System-wide named mutex, the Linux stand-in for a Windows named mutex.
// One lock file per name (the name without its "Global\" prefix) in a
// world-writable lock directory, locked with flock(2): every process that
// uses the name shares it, and the kernel releases it when the owner dies.
// Re-entrant for the owning thread (a recursion count on top of the flock).
#include <memory>
#include <string>
#include <string_view>

namespace USB42XX_MGR {

class CNamedMutex {
 public:
  // The lock directory used when none is given: /run/lock/qrt4250 when it can
  // be used, else a qrt4250-locks folder in the system temp directory. The
  // folder is created world-writable (with the sticky bit) when missing.
  static std::string DefaultLockDirectory();

  // Creates szDir world-writable with the sticky bit (01777, whatever the
  // umask) when missing. True when it then is a directory (not a symlink)
  // this process can create files in; false with *pErrno set otherwise.
  static bool PrepareLockDirectory(const std::string& szDir, int* pErrno = nullptr);

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
  // file yet or it cannot be opened; *pErrno (when given) then holds errno.
  static std::unique_ptr<CNamedMutex> Open(std::string_view szName, const std::string& szLockDir,
                                           int* pErrno = nullptr);

  // Opens the lock, creating its file (mode 0666 whatever the umask) when
  // missing. Returns null on failure with *pErrno set.
  static std::unique_ptr<CNamedMutex> Create(std::string_view szName, const std::string& szLockDir,
                                             int* pErrno = nullptr);

  ~CNamedMutex();
  CNamedMutex(const CNamedMutex&) = delete;
  CNamedMutex& operator=(const CNamedMutex&) = delete;

  // Waits without time limit until the calling thread owns the lock; a thread
  // that owns it already just counts up. Returns false on an I/O error.
  bool Acquire();

  // Takes the lock like Acquire when it is free or already owned by the
  // calling thread; returns false at once when another thread or process
  // owns it, or on an I/O error.
  bool TryAcquire();

  // Gives up one level of ownership; the lock is free again when the count
  // reaches 0. Returns false when the calling thread does not own it.
  // Destroying the last handle of a name in a process frees the lock too.
  bool Release();

  // Path of the lock file, for diagnostics.
  const std::string& Path() const;

 private:
  struct SImpl;
  static std::unique_ptr<SImpl> OpenImpl(std::string_view szName, const std::string& szLockDir,
                                         bool bCreate, int* pErrno);
  explicit CNamedMutex(std::unique_ptr<SImpl> pImpl);
  std::unique_ptr<SImpl> m_pImpl;
};

}  // namespace USB42XX_MGR
