#pragma once
// A lock file held with flock, as another program holds the device lock:
// created when missing, freed by Release or the destructor. flock locks
// belong to the open file, so the process's own CNamedMutex on the same
// file contends with it like another program. POSIX only.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

namespace qrt::test {

class CHeldLock {
 public:
  explicit CHeldLock(const std::string& szPath) {
    m_fd = ::open(szPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    if (m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) Release();
  }
  ~CHeldLock() { Release(); }
  CHeldLock(const CHeldLock&) = delete;
  CHeldLock& operator=(const CHeldLock&) = delete;

  bool Held() const { return m_fd >= 0; }
  void Release() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }

 private:
  int m_fd = -1;
};

}  // namespace qrt::test
