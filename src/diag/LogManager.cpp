#include "LogManager.h"

#include <atomic>
#include <ctime>

#include "LogFiles.h"
#include "Trace.h"

namespace qrt::diag {
namespace {

std::atomic<int> g_nDumpCounter{1};

std::string Format(const char* pszFormat, int a, int b = 0, int c = 0) {
  char szBuffer[64];
  std::snprintf(szBuffer, sizeof(szBuffer), pszFormat, a, b, c);
  return szBuffer;
}

// Names already taken (another process's dumps of the same second, or
// anything planted) are passed over; this many at most.
constexpr int kMaxDumpNameTries = 1000;

}  // namespace

SLocalTime SystemLocalTime() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  platform::LocalTime(now, &local);
  SLocalTime t;
  t.nYear = local.tm_year + 1900;
  t.nMonth = local.tm_mon + 1;
  t.nDay = local.tm_mday;
  t.nHour = local.tm_hour;
  t.nMinute = local.tm_min;
  t.nSecond = local.tm_sec;
  return t;
}

std::string SystemWorkingDirectory() {
  return platform::WorkingDirectory();
}

CLogManager::CLogManager(LocalClock fnClock, WorkingDirectoryFn fnWorkingDirectory)
    : m_fnClock(std::move(fnClock)), m_fnWorkingDirectory(std::move(fnWorkingDirectory)) {
  Trace("CLogManager");
}

CLogManager::~CLogManager() {
  Trace("~CLogManager");
  Close();
}

std::string CLogManager::GetDateString() const {
  SLocalTime t = m_fnClock();
  return Format("%.04d_%.02d%.02d", t.nYear, t.nMonth, t.nDay);
}

std::string CLogManager::GetTimeString() const {
  SLocalTime t = m_fnClock();
  return Format("%.02d%.02d%.02d", t.nHour, t.nMinute, t.nSecond);
}

std::string CLogManager::GetWideTimeString() const {
  SLocalTime t = m_fnClock();
  return Format("%.02d%.02d.%02d", t.nHour, t.nMinute, t.nSecond);
}

std::string CLogManager::MakeLogFileName() const {
  return "./" + GetDateString() + "_LogFile.txt";
}

bool CLogManager::Open(const std::string& szFileName) {
  Trace("Init");
  Close();
  // Binary mode: the CR LF line ends are written explicitly, as a Windows
  // text-mode stream would.
  m_pFile = platform::OpenLogForAppend(szFileName);
  Trace(m_pFile != nullptr ? "open file ok!" : "open file error");
  return m_pFile != nullptr;
}

std::string CLogManager::LineText(int nCode, int nValue) {
  switch (nCode) {
    case 1:
      return Format("[Read]readTimeOut        = %d", nValue);
    case 2:
      return Format("[Read]continueSleepTime  = %d", nValue);
    case 3:
      return Format("[Write]WriteTimeOut      = %d", nValue);
    case 4:
      return Format("[Write]continueSleepTime = %d", nValue);
    case 5:
      return "===  READ EEPROM  ===";
    case 6:
      return "===  WRITE EEPROM  ===";
    case 7:
      return Format("write fail,(%d)", nValue);
    case 8:
      return Format("read fail(%d)", nValue);
    case 9:
      return "*** compare data ok";
    case 10:
      return "*** compare data error.";
    default:
      return Format("[Write]%d = %d", nCode, nValue);
  }
}

void CLogManager::WriteLine(int nCode, int nValue) {
  WriteText(LineText(nCode, nValue));
}

void CLogManager::WriteText(const std::string& szText) {
  if (m_pFile == nullptr) return;
  SLocalTime t = m_fnClock();
  std::string line = Format("%.2d:%.2d:%.2d    ", t.nHour, t.nMinute, t.nSecond);
  line += szText;
  line += "\r\n";
  std::fwrite(line.data(), 1, line.size(), m_pFile);
  std::fflush(m_pFile);
}

void CLogManager::Close() {
  if (m_pFile == nullptr) return;
  std::fclose(m_pFile);
  m_pFile = nullptr;
}

int CLogManager::NextDumpNumber() {
  return g_nDumpCounter.fetch_add(1);
}

void CLogManager::ResetDumpCounterForTests(int nValue) {
  g_nDumpCounter = nValue;
}

std::string CLogManager::DumpPath(const std::string& szDirectory, const SLocalTime& now,
                                  const char* pszKind, int nCounter) const {
  std::string path = szDirectory;
  if (path.empty() || path.back() != '/') path += '/';
  path += Format("%.04d_%.02d%.02d", now.nYear, now.nMonth, now.nDay);
  path += '_';
  path += Format("%.02d%.02d%.02d", now.nHour, now.nMinute, now.nSecond);
  path += '_';
  path += pszKind;
  path += Format("_%.3d", nCounter);
  path += ".bin";
  return path;
}

std::string CLogManager::DumpReadData(const uint8_t* pData, size_t nSize) {
  int nCounter = NextDumpNumber();
  std::string szDirectory = m_fnWorkingDirectory();
  // The original printed this on standard output, which a windowed program
  // does not show; the trace channel keeps it out of the CLI's output.
  TraceFormat("Current working directory is: %s\n", szDirectory.c_str());
  if (szDirectory.empty()) return {};
  const SLocalTime now = m_fnClock();
  for (int nTry = 0; nTry < kMaxDumpNameTries; ++nTry, nCounter = NextDumpNumber()) {
    std::string path = DumpPath(szDirectory, now, "ReadData-R", nCounter);
    platform::CNewFile file;
    const platform::ECreateResult eResult = file.Create(path);
    if (eResult == platform::ECreateResult::kCreated) {
      return file.WriteAndClose(pData, nSize) ? path : std::string();
    }
    if (eResult == platform::ECreateResult::kFailed) return {};
  }
  return {};
}

bool CLogManager::DumpCompareData(const uint8_t* pReadBack, const uint8_t* pWritten, size_t nSize) {
  int nCounter = NextDumpNumber();
  std::string szDirectory = m_fnWorkingDirectory();
  TraceFormat("Current working directory is :%s\n", szDirectory.c_str());
  if (szDirectory.empty()) return false;
  const SLocalTime now = m_fnClock();
  // Both files of one call share a counter value that is free for both.
  for (int nTry = 0; nTry < kMaxDumpNameTries; ++nTry, nCounter = NextDumpNumber()) {
    const std::string szRead = DumpPath(szDirectory, now, "ReadWrite-R", nCounter);
    platform::CNewFile fileRead;
    const platform::ECreateResult eRead = fileRead.Create(szRead);
    if (eRead == platform::ECreateResult::kExists) continue;
    if (eRead == platform::ECreateResult::kFailed) return false;
    platform::CNewFile fileWritten;
    const platform::ECreateResult eWritten =
        fileWritten.Create(DumpPath(szDirectory, now, "ReadWrite-W", nCounter));
    if (eWritten != platform::ECreateResult::kCreated) {
      fileRead.Discard();  // ours, still empty
      if (eWritten == platform::ECreateResult::kExists) continue;
      return false;
    }
    const bool bRead = fileRead.WriteAndClose(pReadBack, nSize);
    const bool bWritten = fileWritten.WriteAndClose(pWritten, nSize);
    return bRead && bWritten;
  }
  return false;
}

}  // namespace qrt::diag
