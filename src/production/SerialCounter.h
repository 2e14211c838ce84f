#pragma once
// The serial-number counter of a production line: a text file holding the
// next serial as 12 upper-case hex digits. A serial is handed out by
// advancing the file under an exclusive lock and syncing it before the
// caller gets the number, so two stations, a crash or a failed board never
// see the same serial twice. The file is replaced by rename, never rewritten
// in place, so a crash leaves either the old or the new number.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace qrt::production {

namespace platform {
class CLockedCounter;
}

constexpr uint64_t kLastSerial = 0xFFFFFFFFFFFFull;

enum class ESerialResult {
  kOk,
  kMissing,     // no counter file (and no start value to create it)
  kUnreadable,  // cannot be opened, read or locked
  kMalformed,   // not 12 hex digits
  kLocked,      // another process held the lock for the whole time-out
  kExhausted,   // FFFFFFFFFFFF (or the work order's last serial) has been handed out
  kWriteFailed,  // the advanced counter could not be synced (disk full, ...)
  kRefused,      // a site's serial source gave none for this board (the run goes on)
};

// Where a production run's serials come from: the counter, a station's
// lease of a block of it, or a site's own system.
class ISerialSource {
 public:
  virtual ~ISerialSource() = default;
  // Hands out the next serial: kOk with qwSerial, else szError says why.
  virtual ESerialResult Allocate(uint64_t& qwSerial, std::string& szError) = 0;
};

// "000000000100" for 0x100.
std::string FormatSerial(uint64_t qwSerial);

// Exactly 12 hex digits (either case); false otherwise.
bool ParseSerial(std::string_view szText, uint64_t& qwSerial);

class CSerialCounter : public ISerialSource {
 public:
  explicit CSerialCounter(std::string szPath,
                          std::chrono::milliseconds lockTimeOut = std::chrono::seconds(10));

  // Creates the file holding qwStart when it does not exist; an existing file
  // is kept as it is (kOk). kWriteFailed with szError when it cannot be made.
  ESerialResult CreateIfMissing(uint64_t qwStart, std::string& szError);

  // Hands out the next serial: locks, reads, writes serial + 1 synced, then
  // returns kOk with qwSerial. On any other result the file is unchanged and
  // szError says why.
  ESerialResult Allocate(uint64_t& qwSerial, std::string& szError) override;

  // Takes up to nWanted serials at once (fewer at the end of the range):
  // kOk with the first and how many, the file advanced past them.
  ESerialResult AllocateBlock(uint64_t nWanted, uint64_t& qwFirst, uint64_t& nCount,
                              std::string& szError);

  // The next serial without taking it (for messages). Same failures.
  ESerialResult Peek(uint64_t& qwNext, std::string& szError);

  // Whether the counter can be advanced at all: an advance writes a new
  // file beside the counter and renames it over, so a folder that takes no
  // new file would fail every board after its backup. kWriteFailed with
  // szError when it cannot; nothing is left beside the counter.
  ESerialResult CheckAdvance(std::string& szError);

  // The work order's last serial: Allocate refuses the ones after it
  // (kExhausted, the file unchanged), so a station never takes a serial of
  // the next work order.
  void SetLast(uint64_t qwLast) { m_qwLast = qwLast; }
  uint64_t Last() const { return m_qwLast; }
  std::chrono::milliseconds LockTimeOut() const { return m_LockTimeOut; }

  const std::string& Path() const { return m_szPath; }

 private:
  // nAdvance 0: only reads. Otherwise advances by up to nAdvance (*pnCount
  // says how many).
  ESerialResult Run(uint64_t nAdvance, uint64_t& qwSerial, std::string& szError,
                    uint64_t* pnCount = nullptr);
  std::string m_szPath;
  std::chrono::milliseconds m_LockTimeOut;
  uint64_t m_qwLast = kLastSerial;
};

// A station's lease of a block of the shared counter: nBlock serials taken
// at once and kept in a station file ("NEXT LAST", 12 hex digits each), so
// the counter on a network share is touched once per block and the station
// goes on through a short outage of the share (and after a crash, from its
// file). Processes that share a station file take turns under its lock.
class CSerialLease : public ISerialSource {
 public:
  CSerialLease(CSerialCounter& shared, std::string szFile, uint64_t nBlock)
      : m_Shared(shared), m_szFile(std::move(szFile)), m_nBlock(nBlock) {}
  ESerialResult Allocate(uint64_t& qwSerial, std::string& szError) override;
  // Ends the lease: true with the serials not handed out (first, last) when
  // there are some; the station file is removed, so they are never used.
  bool ReturnUnused(uint64_t& qwFirst, uint64_t& qwLast, std::string& szError);
  // The serials the station file still holds for later boards (qwNext to
  // qwLast; bHeld false when none). False with szError when the file holds
  // something else.
  bool Remaining(uint64_t& qwNext, uint64_t& qwLast, bool& bHeld, std::string& szError);
  const std::string& File() const { return m_szFile; }

 private:
  // Locks the station file (held until file goes) and reads its lease: kOk,
  // bHeld telling whether it holds a serial (a missing file is an empty
  // lease); otherwise why not (kMalformed: it holds something else; a link,
  // FIFO or folder is kUnreadable), szError set.
  ESerialResult ReadLease(platform::CLockedCounter& file, uint64_t& qwNext, uint64_t& qwLast,
                          bool& bHeld, std::string& szError);
  CSerialCounter& m_Shared;
  std::string m_szFile;
  uint64_t m_nBlock;
  std::mutex m_Mutex;  // boards programmed at once take serials from their threads
};

}  // namespace qrt::production
