#pragma once
// What a transfer command (read, write, verify) tells at its end besides its
// result line: the real elapsed time and, on the simulated chip, the time the
// device itself took (its virtual clock: report latency and the host's
// delays), which is what a real board with that latency would take. With
// --json the same figures form the command's one output object.
#include <cstddef>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace qrt::cli {

struct CCliContext;

struct TRANSFER_REPORT {
  std::string szCommand;              // "read", "write", "verify"
  std::string szProfile;              // "default", "fast"
  bool bTransferred = false;          // the device was reached and a transfer ran
  int nCode = 0;                      // composite code of the failed step, else 0
  size_t nBytes = 0;                  // image size transferred
  double dElapsedS = 0;               // real time from the device search to the transfer's end
  std::optional<double> dSimulatedS;  // the simulated device's time over the same span
  nlohmann::ordered_json jBoard;      // the board chosen (null before one is)
  std::string szFile;                 // the image file read or written
  std::optional<size_t> nMismatchAt;  // first byte that differed in a comparison
  std::string szError;                // the failure's one line, empty on success
  bool bWrite = false;                // write, restore: backup and rollback are reported
  size_t nWritten = 0;                // write, restore: bytes sent (the units that differed)
  std::string szBackup;               // backup file, empty when none was taken
  std::string szRollback;             // what the rollback did, empty when none was needed
};

// The --json object: command, board, file, outcome ("pass" or "fail"),
// code, bytes, profile, elapsed_s, on the simulated chip simulated_s, and
// after a failure mismatchAt (a comparison) and error; for a write or
// restore also written (bytes sent), backup (path or null) and rollback
// (text or null).
nlohmann::ordered_json TransferReportJson(const TRANSFER_REPORT& report, bool bPass);

// "elapsed 0.03 s, simulated device time 2.61 s (profile default)".
std::string TransferTimeLine(const TRANSFER_REPORT& report);

// Prints the report when its command ends, whatever way it ends: the JSON
// object to out (always, with --json), or the time line to out after a
// transfer. Pass or fail is the context's exit code at that moment, so it
// must be declared before everything else the command does.
class CTransferReporter {
 public:
  CTransferReporter(CCliContext& ctx, std::string szCommand, std::string szProfile, bool bJson);
  ~CTransferReporter();
  CTransferReporter(const CTransferReporter&) = delete;
  CTransferReporter& operator=(const CTransferReporter&) = delete;

  TRANSFER_REPORT& Report() { return m_Report; }
  bool Json() const { return m_bJson; }

 private:
  CCliContext& m_Ctx;
  TRANSFER_REPORT m_Report;
  bool m_bJson;
};

}  // namespace qrt::cli
