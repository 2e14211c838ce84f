#pragma once
// The serial-number counter of a production line: a text file holding the
// next serial as 12 upper-case hex digits. A serial is handed out by
// advancing the file under an exclusive lock and syncing it before the
// caller gets the number, so two stations, a crash or a failed board never
// see the same serial twice. The file is replaced by rename, never rewritten
// in place, so a crash leaves either the old or the new number.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace qrt::production {

constexpr uint64_t kLastSerial = 0xFFFFFFFFFFFFull;

enum class ESerialResult {
  kOk,
  kMissing,     // no counter file (and no start value to create it)
  kUnreadable,  // cannot be opened, read or locked
  kMalformed,   // not 12 hex digits
  kLocked,      // another process held the lock for the whole time-out
  kExhausted,   // FFFFFFFFFFFF (or the work order's last serial) has been handed out
  kWriteFailed  // the advanced counter could not be synced (disk full, ...)
};

// "000000000100" for 0x100.
std::string FormatSerial(uint64_t qwSerial);

// Exactly 12 hex digits (either case); false otherwise.
bool ParseSerial(std::string_view szText, uint64_t& qwSerial);

class CSerialCounter {
 public:
  explicit CSerialCounter(std::string szPath,
                          std::chrono::milliseconds lockTimeOut = std::chrono::seconds(10));

  // Creates the file holding qwStart when it does not exist; an existing file
  // is kept as it is (kOk). kWriteFailed with szError when it cannot be made.
  ESerialResult CreateIfMissing(uint64_t qwStart, std::string& szError);

  // Hands out the next serial: locks, reads, writes serial + 1 synced, then
  // returns kOk with qwSerial. On any other result the file is unchanged and
  // szError says why.
  ESerialResult Allocate(uint64_t& qwSerial, std::string& szError);

  // The next serial without taking it (for messages). Same failures.
  ESerialResult Peek(uint64_t& qwNext, std::string& szError);

  // The work order's last serial: Allocate refuses the ones after it
  // (kExhausted, the file unchanged), so a station never takes a serial of
  // the next work order.
  void SetLast(uint64_t qwLast) { m_qwLast = qwLast; }
  uint64_t Last() const { return m_qwLast; }

  const std::string& Path() const { return m_szPath; }

 private:
  ESerialResult Run(bool bAdvance, uint64_t& qwSerial, std::string& szError);
  std::string m_szPath;
  std::chrono::milliseconds m_LockTimeOut;
  uint64_t m_qwLast = kLastSerial;
};

}  // namespace qrt::production
