#include "SerialCounter.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "SyncedFile.h"
#include "TextNumbers.h"

namespace qrt::production {
namespace {

// After FFFFFFFFFFFF the file holds this one 13-digit value: used up.
constexpr std::string_view kExhaustedText = "1000000000000";

std::string FileText(uint64_t qwNext) {
  return (qwNext > kLastSerial ? std::string(kExhaustedText) : FormatSerial(qwNext)) + "\n";
}

// Holds an flock on the counter file's current inode. The file is replaced
// by rename, so a lock taken on a name that has since been replaced is
// dropped and taken again on the new file.
class CLockedFile {
 public:
  ~CLockedFile() {
    if (m_fd >= 0) close(m_fd);  // also releases the flock
  }

  ESerialResult Lock(const std::string& szPath, std::chrono::milliseconds timeOut,
                     std::string& szError) {
    auto deadline = std::chrono::steady_clock::now() + timeOut;
    for (;;) {
      m_fd = open(szPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
      if (m_fd < 0) {
        int nErr = errno;
        szError = szPath + ": " + std::strerror(nErr);
        return nErr == ENOENT ? ESerialResult::kMissing : ESerialResult::kUnreadable;
      }
      struct stat st{};
      if (fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        szError = szPath + ": not a regular file";
        return ESerialResult::kUnreadable;
      }
      if (flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
        struct stat now{};
        if (stat(szPath.c_str(), &now) == 0 && now.st_ino == st.st_ino &&
            now.st_dev == st.st_dev) {
          return ESerialResult::kOk;
        }
        close(m_fd);  // replaced meanwhile: lock the new file
        m_fd = -1;
        continue;
      }
      int nErr = errno;
      close(m_fd);
      m_fd = -1;
      if (nErr != EWOULDBLOCK) {
        szError = szPath + ": cannot lock: " + std::strerror(nErr);
        return ESerialResult::kUnreadable;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        szError = szPath + ": locked by another process (waited " +
                  std::to_string(timeOut.count()) + " ms)";
        return ESerialResult::kLocked;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  // Reads the file (at most 64 bytes matter) and parses it.
  ESerialResult Read(const std::string& szPath, uint64_t& qwNext, std::string& szError) {
    char sz[64];
    ssize_t n = pread(m_fd, sz, sizeof(sz), 0);
    if (n < 0) {
      szError = szPath + ": " + std::strerror(errno);
      return ESerialResult::kUnreadable;
    }
    std::string_view szText(sz, static_cast<size_t>(n));
    while (!szText.empty() && (szText.back() == '\n' || szText.back() == '\r')) {
      szText.remove_suffix(1);
    }
    if (szText == kExhaustedText) {
      szError = szPath + ": every serial up to FFFFFFFFFFFF has been used";
      return ESerialResult::kExhausted;
    }
    if (!ParseSerial(szText, qwNext)) {
      szError = szPath + ": does not hold a serial of 12 hex digits";
      return ESerialResult::kMalformed;
    }
    return ESerialResult::kOk;
  }

 private:
  int m_fd = -1;
};

}  // namespace

std::string FormatSerial(uint64_t qwSerial) {
  char sz[24];
  std::snprintf(sz, sizeof(sz), "%012llX", static_cast<unsigned long long>(qwSerial & kLastSerial));
  return sz;
}

bool ParseSerial(std::string_view szText, uint64_t& qwSerial) {
  return szText.size() == 12 && qrt::diag::ParseHexDigits(szText, 12, kLastSerial, qwSerial);
}

CSerialCounter::CSerialCounter(std::string szPath, std::chrono::milliseconds lockTimeOut)
    : m_szPath(std::move(szPath)), m_LockTimeOut(lockTimeOut) {}

ESerialResult CSerialCounter::CreateIfMissing(uint64_t qwStart, std::string& szError) {
  if (qwStart > kLastSerial) {
    szError = "the start serial has more than 12 hex digits";
    return ESerialResult::kMalformed;
  }
  std::string szText = FileText(qwStart);
  std::string szWritten;
  // Never replaces: a counter another station created meanwhile wins.
  if (!WriteSyncedNewFile(m_szPath, reinterpret_cast<const uint8_t*>(szText.data()),
                          szText.size(), nullptr, szError)) {
    return ESerialResult::kWriteFailed;
  }
  return ESerialResult::kOk;
}

ESerialResult CSerialCounter::Run(bool bAdvance, uint64_t& qwSerial, std::string& szError) {
  CLockedFile file;
  ESerialResult e = file.Lock(m_szPath, m_LockTimeOut, szError);
  if (e != ESerialResult::kOk) return e;
  uint64_t qwNext = 0;
  e = file.Read(m_szPath, qwNext, szError);
  if (e != ESerialResult::kOk || !bAdvance) {
    if (e == ESerialResult::kOk) qwSerial = qwNext;
    return e;
  }
  std::string szText = FileText(qwNext + 1);
  if (!WriteSyncedFile(m_szPath, reinterpret_cast<const uint8_t*>(szText.data()), szText.size(),
                       szError)) {
    szError = "cannot advance the serial counter: " + szError;
    return ESerialResult::kWriteFailed;
  }
  qwSerial = qwNext;
  return ESerialResult::kOk;
}

ESerialResult CSerialCounter::Allocate(uint64_t& qwSerial, std::string& szError) {
  return Run(true, qwSerial, szError);
}

ESerialResult CSerialCounter::Peek(uint64_t& qwNext, std::string& szError) {
  return Run(false, qwNext, szError);
}

}  // namespace qrt::production
