#pragma once
// The operating-system side of the production files: one implementation per
// OS under platform/<os>/, chosen by CMake. Paths are UTF-8.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "SerialCounter.h"

namespace qrt::production::platform {

// Writes n bytes to a new temporary file beside szPath and flushes it to the
// disk; it takes the permissions of the regular file at szPath, if any.
// Returns the temporary name; empty with szError set (nothing left).
std::string WriteTempBeside(const std::string& szPath, const uint8_t* pData, size_t n,
                            std::string& szError);

// Moves szTemp onto szPath, replacing it as a whole (a file or a link, never
// a FIFO, device or folder), and makes the new name durable. False with
// szError set; szTemp is then removed.
bool ReplaceWithTemp(const std::string& szTemp, const std::string& szPath, std::string& szError);

enum class EPlaceResult { kPlaced, kExists, kFailed };
// Gives szTemp the name szName only when no file has it; kExists otherwise
// (szTemp kept for another try). On kPlaced szTemp is gone.
EPlaceResult PlaceTempAsNew(const std::string& szTemp, const std::string& szName,
                            std::string& szError);

void RemoveFile(const std::string& szPath);

// The computer's name; empty when the OS does not tell.
std::string HostName();

// Creates the one folder szPart (mode 0700 where the OS has modes). True when
// it was made or already exists; false with szError set.
bool MakeFolder(const std::string& szPart, std::string& szError);
bool IsFolder(const std::string& szPath);
// The separator this OS writes between folder names.
extern const char kPathSeparator;
// True for a character that ends a folder name in a path on this OS.
bool IsSeparator(char c);

// The serial counter held under an exclusive lock between processes.
class CLockedCounter {
 public:
  CLockedCounter() = default;
  CLockedCounter(const CLockedCounter&) = delete;
  CLockedCounter& operator=(const CLockedCounter&) = delete;
  ~CLockedCounter();  // releases the lock

  // Takes the lock, trying every 20 ms until timeOut. kMissing when there is
  // no counter file, kLocked when another process kept the lock, kUnreadable
  // otherwise; szError says why.
  ESerialResult Lock(const std::string& szPath, std::chrono::milliseconds timeOut,
                     std::string& szError);
  // Reads at most n bytes from the counter's start into p; the count, or -1
  // with szError set.
  long ReadStart(char* p, size_t n, std::string& szError);

 private:
  std::string m_szPath;
  intptr_t m_nHandle = -1;
};

// Between two tries of a counter lock another process holds: false with
// szError set once the deadline has passed, else true after a 20 ms pause.
bool WaitToLockAgain(std::chrono::steady_clock::time_point deadline,
                     std::chrono::milliseconds timeOut, const std::string& szPath,
                     std::string& szError);

// The production log, opened for appends only: each AppendLine is one write
// at the end, so lines of two stations never interleave. -1 on failure.
intptr_t OpenForAppend(const std::string& szPath, std::string& szError);
// Appends and flushes to the disk; false with szError set, and no piece of
// the line left where it could still be taken back (Linux).
bool AppendAndSync(intptr_t nHandle, const std::string& szPath, const std::string& szLine,
                   std::string& szError);
void CloseAppend(intptr_t nHandle);

// The folder raw backups go to by default: empty when the environment names
// none, kNoBackupFolderReason then says what was missing.
std::string DefaultBackupFolder();
extern const char* const kNoBackupFolderReason;

// SHA-256 of the n bytes at pData into digest; false when the OS cannot hash.
bool Sha256(const uint8_t* pData, size_t n, uint8_t digest[32]);

}  // namespace qrt::production::platform
