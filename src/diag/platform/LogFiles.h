#pragma once
// The operating-system side of the log and the dump files: one
// implementation per OS under platform/<os>/, chosen by CMake.
// The log and dumps go to the current folder, which may be shared: a link
// planted under a predictable name must not make us truncate or append to
// its target, and a FIFO there must not block us.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace qrt::diag::platform {

// Opens szPath (UTF-8) for appending in binary mode, creating it; never
// through a link, regular files only. Null on failure.
std::FILE* OpenLogForAppend(const std::string& szPath);

// Opens szPath (UTF-8) for binary reading. Regular files only: a FIFO,
// device or folder gives null without the open waiting on it. Null on
// failure.
std::FILE* OpenRegularForReading(const std::string& szPath);

enum class ECreateResult { kCreated, kExists, kFailed };

// A file this process has just created, for one write. The destructor closes
// it and keeps what was written.
class CNewFile {
 public:
  CNewFile() = default;
  CNewFile(const CNewFile&) = delete;
  CNewFile& operator=(const CNewFile&) = delete;
  ~CNewFile();

  // Creates szPath; kExists when the name is taken (by a link too).
  ECreateResult Create(const std::string& szPath);
  // Writes all n bytes and closes. False when a write or the close failed.
  bool WriteAndClose(const uint8_t* pData, size_t n);
  // Closes and removes the file (it must still be ours and empty).
  void Discard();

 private:
  intptr_t m_nHandle = -1;
  std::string m_szPath;
};

// The local broken-down time of t; false when the OS cannot convert it.
bool LocalTime(std::time_t t, std::tm* pTm);

// The current folder in UTF-8; empty when it cannot be had.
std::string WorkingDirectory();

}  // namespace qrt::diag::platform
