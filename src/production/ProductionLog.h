#pragma once
// The production log: one JSON object per line, appended with O_APPEND and
// synced per line, so a crash loses no finished board's line and several
// stations can share one file.
#include <cstdint>
#include <optional>
#include <string>

namespace qrt::production {

struct PRODUCTION_RECORD {
  std::string szTime;  // UTC, "2026-12-09T10:15:00Z"
  std::string szPath;  // board path, "sim:1", "/dev/hidraw3"
  uint16_t wVid = 0;
  uint16_t wPid = 0;
  std::optional<uint64_t> qwSerial;  // allocated serial (burned unless result is "pass")
  std::string szResult;              // "pass", "fail", "rolled-back"
  int nCode = 0;                     // composite code of the failed step, else 0
  // First byte that differed in the read-back, when the write failed there;
  // the transfer itself may have gone well (code 0).
  std::optional<size_t> nMismatchAt;
  double dElapsedS = 0;
  std::string szImageSha256;  // of the image meant for the board
  std::string szBackup;       // backup file, empty when none was taken
  std::string szNote;         // why a board was not written, empty otherwise
};

// The line written for a record, without the newline: keys time, path, vid,
// pid ("3A7C"), serial (12 hex digits or null), result, code, mismatch_at
// (only when set), elapsed_s, image_sha256, backup (null when none), note
// (only when there is one).
std::string ProductionLogLine(const PRODUCTION_RECORD& record);

// The line a run appends before it touches a board, without the newline:
// {"time", "event": "start", "image_sha256"} with the hash of the image every
// board gets before its serial. Board lines have no "event".
std::string ProductionStartLine(const std::string& szTime, const std::string& szImageSha256);

class CProductionLog {
 public:
  CProductionLog() = default;
  ~CProductionLog();
  CProductionLog(const CProductionLog&) = delete;
  CProductionLog& operator=(const CProductionLog&) = delete;

  // Opens (creates, mode 0644) szPath for appending: a regular file, never
  // through a link, without waiting on a FIFO. False with szError.
  bool Open(const std::string& szPath, std::string& szError);

  // Appends the run's start line, which proves the log takes a line (not
  // full, not over a quota or size limit) before the first board is touched.
  // False with szError as Append.
  bool AppendStart(const std::string& szImageSha256, std::string& szError);

  // Appends one line in a single write and fsyncs it. False with szError
  // when the line is not entirely on disk.
  bool Append(const PRODUCTION_RECORD& record, std::string& szError);

 private:
  bool AppendLine(const std::string& szLine, std::string& szError);
  intptr_t m_nHandle = -1;  // the OS handle of the open log, -1 when closed
  std::string m_szPath;
};

// Lower-case hex SHA-256 of n bytes; empty when the OS cannot hash.
std::string Sha256Hex(const uint8_t* pData, size_t n);

// The current UTC time as "2026-12-09T10:15:00Z".
std::string UtcTimeText();

}  // namespace qrt::production
