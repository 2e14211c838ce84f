#pragma once
// The production log: one JSON object per line, appended with O_APPEND and
// synced per line, so a crash loses no finished board's line and several
// stations can share one file.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace qrt::production {

struct PRODUCTION_RECORD {
  std::string szTime;  // UTC, "2026-12-09T10:15:00Z"
  // The line: who, where, under which work order, with which tool.
  std::string szStation;
  std::string szOperator;    // empty: not given
  std::string szWorkOrder;   // empty: not given
  std::string szToolVersion;
  std::string szPath;       // board path, "sim:1", "/dev/hidraw3"
  std::string szUsbSerial;  // the board's USB serial string, empty when it has none
  std::string szEeprom;     // "24C02".."24C16"
  std::string szProfile;    // transfer profile, "default" or "fast"
  std::string szGolden;        // file name of the image or template; empty: built-in image
  std::string szGoldenSha256;  // of the image before its serial
  uint16_t wVid = 0;  // the ids written (the board's own when nothing was written)
  uint16_t wPid = 0;
  std::optional<uint64_t> qwSerial;          // allocated serial (burned unless result is "pass")
  std::optional<uint64_t> qwPreviousSerial;  // what the board held before, when it held one
  bool bRework = false;  // the board kept its previous serial
  int nAttempts = 0;     // writes made (retries after a rolled-back verify included)
  std::string szResult;  // "pass", "fail", "rolled-back"; "retry" for an attempt written again
  int nCode = 0;         // composite code of the failed step, else 0
  // First byte that differed in the read-back, when the write failed there;
  // the transfer itself may have gone well (code 0).
  std::optional<size_t> nMismatchAt;
  double dElapsedS = 0;
  std::optional<double> dDeviceS;  // modelled device time (simulated boards only)
  std::string szImageSha256;  // of the image meant for the board, serial included
  std::string szBackup;       // backup file, empty when none was taken
  std::string szReason;       // why it failed, the text the user saw; empty on a pass
  std::string szNote;         // what the rollback did or why the board was not written
};

// The line written for a record, without the newline. Every key is always
// there (null when the fact is missing), so the log and program --json carry
// the same keys: time, station, operator, work_order, tool_version, path,
// usb_serial, eeprom, profile, golden, golden_sha256, vid, pid ("3A7C"),
// serial, previous_serial (12 hex digits or null), rework, attempts, result,
// code, mismatch_at, elapsed_s, device_s, image_sha256, backup, reason, note.
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

  // Appends the line of a station's lease ended with serials not handed
  // out: {"time", "event": "returned-unused", "station", "first", "last",
  // "count"}. They are never used. False with szError as Append.
  bool AppendReturned(const std::string& szStation, uint64_t qwFirst, uint64_t qwLast,
                      std::string& szError);

  // Appends one line in a single write and fsyncs it. False with szError
  // when the line is not entirely on disk. Boards programmed at once append
  // from their threads; their lines never mix.
  bool Append(const PRODUCTION_RECORD& record, std::string& szError);

 private:
  bool AppendLine(const std::string& szLine, std::string& szError);
  std::mutex m_Mutex;        // one line at a time (a short line is taken back whole)
  intptr_t m_nHandle = -1;  // the OS handle of the open log, -1 when closed
  std::string m_szPath;
};

// Whether a production log has used a serial.
enum class ELogSerial {
  kUnused,
  kUsed,        // a board line carries it, or a lease gave it up
  kUnreadable,  // the log is no regular file or cannot be read
};

// Looks for qwSerial in the production log at szPath: a board line of any
// result carries it (a pass, or a serial burned by a board that failed), or
// a returned-unused line's range holds it (given up, never to be used). The
// file is read a piece at a time, whatever its size; a damaged line (not
// JSON, or too long for a log line) is skipped. A missing file has used
// none. kUnreadable with szError.
ELogSerial FindSerialInLog(const std::string& szPath, uint64_t qwSerial, std::string& szError);

// Lower-case hex SHA-256 of n bytes; empty when the OS cannot hash.
std::string Sha256Hex(const uint8_t* pData, size_t n);

// This computer's name (a production log's default station); "unknown"
// when the OS does not tell.
std::string HostName();

// The current UTC time as "2026-12-09T10:15:00Z".
std::string UtcTimeText();

}  // namespace qrt::production
