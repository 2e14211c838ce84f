#include "SerialCounter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "ProductionFiles.h"
#include "SyncedFile.h"
#include "TextNumbers.h"

namespace qrt::production {

namespace platform {
bool WaitToLockAgain(std::chrono::steady_clock::time_point deadline,
                     std::chrono::milliseconds timeOut, const std::string& szPath,
                     std::string& szError) {
  if (std::chrono::steady_clock::now() >= deadline) {
    szError = szPath + ": locked by another process (waited " + std::to_string(timeOut.count()) +
              " ms)";
    return false;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return true;
}
}  // namespace platform

namespace {

// After FFFFFFFFFFFF the file holds this one 13-digit value: used up.
constexpr std::string_view kExhaustedText = "1000000000000";

std::string FileText(uint64_t qwNext) {
  return (qwNext > kLastSerial ? std::string(kExhaustedText) : FormatSerial(qwNext)) + "\n";
}

// The counter under its lock; the parsing of what it holds is the same on
// every OS.
class CLockedFile {
 public:
  ESerialResult Lock(const std::string& szPath, std::chrono::milliseconds timeOut,
                     std::string& szError) {
    return m_Counter.Lock(szPath, timeOut, szError);
  }

  // Reads the whole file and parses it: 12 hex digits (or the used-up
  // value) and at most one line end, LF or CRLF. Anything more is refused,
  // not cut off: a counter with text after the number is not one this
  // program wrote, and rewriting it would drop what it holds.
  ESerialResult Read(const std::string& szPath, uint64_t& qwNext, std::string& szError) {
    char sz[kExhaustedText.size() + 3];  // one byte more than the longest valid file
    const long n = m_Counter.ReadStart(sz, sizeof(sz), szError);
    if (n < 0) return ESerialResult::kUnreadable;
    std::string_view szText(sz, static_cast<size_t>(n));
    if (szText.ends_with("\r\n")) {
      szText.remove_suffix(2);
    } else if (szText.ends_with('\n')) {
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
  platform::CLockedCounter m_Counter;
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
  // Never replaces, and never numbers a second file beside it: a counter
  // that is there already (or that another station created meanwhile) wins.
  const std::string szTemp = platform::WriteTempBeside(
      m_szPath, reinterpret_cast<const uint8_t*>(szText.data()), szText.size(), szError);
  if (szTemp.empty()) return ESerialResult::kWriteFailed;
  switch (platform::PlaceTempAsNew(szTemp, m_szPath, szError)) {
    case platform::EPlaceResult::kPlaced:
      return ESerialResult::kOk;
    case platform::EPlaceResult::kExists:
      platform::RemoveFile(szTemp);
      return ESerialResult::kOk;
    case platform::EPlaceResult::kFailed:
      break;
  }
  platform::RemoveFile(szTemp);
  return ESerialResult::kWriteFailed;
}

ESerialResult CSerialCounter::Run(uint64_t nAdvance, uint64_t& qwSerial, std::string& szError,
                                  uint64_t* pnCount) {
  CLockedFile file;
  ESerialResult e = file.Lock(m_szPath, m_LockTimeOut, szError);
  if (e != ESerialResult::kOk) return e;
  uint64_t qwNext = 0;
  e = file.Read(m_szPath, qwNext, szError);
  if (e == ESerialResult::kOk && nAdvance != 0 && qwNext > m_qwLast) {
    szError = m_szPath + ": the next serial " + FormatSerial(qwNext) +
              " is past the work order's last, " + FormatSerial(m_qwLast);
    return ESerialResult::kExhausted;
  }
  if (e != ESerialResult::kOk || nAdvance == 0) {
    if (e == ESerialResult::kOk) qwSerial = qwNext;
    return e;
  }
  const uint64_t nCount = std::min(nAdvance, m_qwLast - qwNext + 1);
  std::string szText = FileText(qwNext + nCount);
  if (!WriteSyncedFile(m_szPath, reinterpret_cast<const uint8_t*>(szText.data()), szText.size(),
                       szError)) {
    szError = "cannot advance the serial counter: " + szError;
    return ESerialResult::kWriteFailed;
  }
  qwSerial = qwNext;
  if (pnCount != nullptr) *pnCount = nCount;
  return ESerialResult::kOk;
}

ESerialResult CSerialCounter::Allocate(uint64_t& qwSerial, std::string& szError) {
  return Run(1, qwSerial, szError);
}

ESerialResult CSerialCounter::AllocateBlock(uint64_t nWanted, uint64_t& qwFirst, uint64_t& nCount,
                                            std::string& szError) {
  return Run(std::max<uint64_t>(nWanted, 1), qwFirst, szError, &nCount);
}

ESerialResult CSerialCounter::Peek(uint64_t& qwNext, std::string& szError) {
  return Run(0, qwNext, szError);
}

ESerialResult CSerialCounter::CheckAdvance(std::string& szError) {
  const std::string szTemp = platform::WriteTempBeside(m_szPath, nullptr, 0, szError);
  if (szTemp.empty()) {
    szError = "cannot advance the serial counter: " + szError;
    return ESerialResult::kWriteFailed;
  }
  platform::RemoveFile(szTemp);
  return ESerialResult::kOk;
}

ESerialResult CSerialLease::ReadLease(platform::CLockedCounter& file, uint64_t& qwNext,
                                     uint64_t& qwLast, bool& bHeld, std::string& szError) {
  bHeld = false;
  // Under the lock between processes, as the counter: two runs under one
  // station name share the file, and each serial must leave it once. The
  // open neither follows a link nor waits on a FIFO.
  const ESerialResult e = file.Lock(m_szFile, m_Shared.LockTimeOut(), szError);
  if (e == ESerialResult::kMissing) {
    szError.clear();
    return ESerialResult::kOk;  // no lease yet
  }
  if (e != ESerialResult::kOk) return e;
  char szText[64];
  const long nRead = file.ReadStart(szText, sizeof(szText), szError);
  if (nRead < 0) return ESerialResult::kUnreadable;
  std::string_view sz(szText, static_cast<size_t>(nRead));
  if (sz.ends_with("\r\n")) {
    sz.remove_suffix(2);
  } else if (sz.ends_with('\n')) {
    sz.remove_suffix(1);
  }
  if (sz.size() != 25 || sz[12] != ' ' || !ParseSerial(sz.substr(0, 12), qwNext) ||
      !ParseSerial(sz.substr(13), qwLast)) {
    szError = m_szFile + ": does not hold a lease (two serials of 12 hex digits)";
    return ESerialResult::kMalformed;
  }
  bHeld = qwNext <= qwLast;
  return ESerialResult::kOk;
}

ESerialResult CSerialLease::Allocate(uint64_t& qwSerial, std::string& szError) {
  std::lock_guard<std::mutex> guard(m_Mutex);
  platform::CLockedCounter file;
  uint64_t qwNext = 0;
  uint64_t qwLast = 0;
  bool bHeld = false;
  ESerialResult e = ReadLease(file, qwNext, qwLast, bHeld, szError);
  if (e != ESerialResult::kOk) return e;
  if (bHeld && qwNext > m_Shared.Last()) {
    // Left by a crash of an earlier work order's run: none of it is this
    // one's. The file stays as it is; the end of the run returns it.
    szError = m_szFile + ": the station's lease holds " + FormatSerial(qwNext) + "-" +
              FormatSerial(qwLast) + ", past the work order's last serial, " +
              FormatSerial(m_Shared.Last());
    return ESerialResult::kExhausted;
  }
  if (!bHeld) {
    uint64_t nCount = 0;
    e = m_Shared.AllocateBlock(m_nBlock, qwNext, nCount, szError);
    if (e != ESerialResult::kOk) return e;
    qwLast = qwNext + nCount - 1;
  }
  // The file holds the rest before the serial is used: a crash loses it
  // (never hands it out twice).
  const std::string szText = FormatSerial(qwNext + 1) + " " + FormatSerial(qwLast) + "\n";
  if (!WriteSyncedFile(m_szFile, reinterpret_cast<const uint8_t*>(szText.data()), szText.size(),
                       szError)) {
    szError = "cannot write the station's serial lease: " + szError;
    return ESerialResult::kWriteFailed;
  }
  qwSerial = qwNext;
  return ESerialResult::kOk;
}

bool CSerialLease::Remaining(uint64_t& qwNext, uint64_t& qwLast, bool& bHeld,
                             std::string& szError) {
  std::lock_guard<std::mutex> guard(m_Mutex);
  platform::CLockedCounter file;
  return ReadLease(file, qwNext, qwLast, bHeld, szError) == ESerialResult::kOk;
}

bool CSerialLease::ReturnUnused(uint64_t& qwFirst, uint64_t& qwLast, std::string& szError) {
  std::lock_guard<std::mutex> guard(m_Mutex);
  platform::CLockedCounter file;
  bool bHeld = false;
  if (ReadLease(file, qwFirst, qwLast, bHeld, szError) != ESerialResult::kOk) return false;
  platform::RemoveFile(m_szFile);
  return bHeld;
}

}  // namespace qrt::production
