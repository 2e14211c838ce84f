#pragma once
// The service log of the EEPROM transfers: a text log per day,
// yyyy_MMDD_LogFile.txt in the current directory, with time-stamped lines
// ending in CR LF, and binary dump files of every image read and of every
// image written with its read-back. Written only while the diagnostics Log
// switch is on; a failure here never reaches the user or a transfer result.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace qrt::diag {

// Local wall-clock time, as the log stamps it.
struct SLocalTime {
  int nYear = 1970;
  int nMonth = 1;  // 1-12
  int nDay = 1;
  int nHour = 0;
  int nMinute = 0;
  int nSecond = 0;
};

// Returns the current local time; replaced in tests.
using LocalClock = std::function<SLocalTime()>;
SLocalTime SystemLocalTime();

// The current working directory; empty when it cannot be determined.
using WorkingDirectoryFn = std::function<std::string()>;
std::string SystemWorkingDirectory();

class CLogManager {
 public:
  explicit CLogManager(LocalClock fnClock = SystemLocalTime,
                       WorkingDirectoryFn fnWorkingDirectory = SystemWorkingDirectory);
  ~CLogManager();
  CLogManager(const CLogManager&) = delete;
  CLogManager& operator=(const CLogManager&) = delete;

  // "2024_0305" for 5 March 2024. The wide form of the original program is
  // the same text.
  std::string GetDateString() const;
  // "153005" (8-bit form, used in dump names) and "1530.05" (wide form).
  std::string GetTimeString() const;
  std::string GetWideTimeString() const;

  // "./2024_0305_LogFile.txt": today's log in the current directory.
  std::string MakeLogFileName() const;

  // Opens the log for appending, never through a link and only a regular
  // file. Returns false (trace "open file error") when it cannot be opened;
  // later lines are then dropped.
  bool Open(const std::string& szFileName);
  bool IsOpen() const { return m_pFile != nullptr; }

  // Appends "hh:mm:ss    <text of code>\r\n". Nothing happens while closed.
  void WriteLine(int nCode, int nValue = 0);

  void Close();

  // Writes <cwd>/<date>_<time>_ReadData-R_<nnn>.bin as a new file: a name
  // that exists (another process's dump of the same second, a link) is
  // passed over and the counter advances to the next free one. Returns the
  // path written, or an empty string when the directory is unknown or the
  // file could not be written (skipped without notice). The dump counter
  // advances either way.
  std::string DumpReadData(const uint8_t* pData, size_t nSize);

  // Writes the read-back as ..._ReadWrite-R_<nnn>.bin and the written image as
  // ..._ReadWrite-W_<nnn>.bin, both new files with one counter value that is
  // free for both (advanced as DumpReadData does). Returns false when either
  // was skipped.
  bool DumpCompareData(const uint8_t* pReadBack, const uint8_t* pWritten, size_t nSize);

  // The text of a log line code, with its value filled in where it has one.
  static std::string LineText(int nCode, int nValue);

  // The process-wide dump counter (starts at 1), shared by both dump kinds.
  static int NextDumpNumber();
  static void ResetDumpCounterForTests(int nValue = 1);

 private:
  std::string DumpPath(const std::string& szDirectory, const SLocalTime& now, const char* pszKind,
                       int nCounter) const;

  LocalClock m_fnClock;
  WorkingDirectoryFn m_fnWorkingDirectory;
  std::FILE* m_pFile = nullptr;
};

}  // namespace qrt::diag
