#pragma once
// The production line's step for one board, shared by every front end:
// backup, a fresh serial, the base image with that serial, a protected
// write, one synced log line. The pieces shared by the run's boards (the
// base image, the serial counter, the log) come in explicitly, so that a
// later change can make them safe for boards programmed at once. Also the
// run's totals and the station's memory of the boards it has programmed.
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "BoardHandle.h"
#include "ImageSession.h"
#include "ProductionLog.h"
#include "ProtectedWrite.h"
#include "SerialCounter.h"

namespace qrt::transfer {

// What every board of a run shares.
struct PRODUCTION_SHARED {
  const qrt::image::CImageSession& Base;        // the image before its serial
  qrt::production::CSerialCounter* pCounter;    // null: no serials
  qrt::production::CProductionLog& Log;
};

// How a run transfers (the report ID of the I2C transfers is each board's
// own).
struct PRODUCTION_SETTINGS {
  USB42XX_MGR::EEPROM_TRANSFER_SETTINGS Transfer;
  USB42XX_MGR::BOARD_LOCK_WAIT Lock;
};

// The files a run shares.
struct PRODUCTION_FILES {
  std::string szSerialFile;                // empty: no serials
  std::optional<uint64_t> qwSerialStart;   // creates a missing counter
  std::string szLog;
};

// Makes a run's shared pieces ready before any board is touched: the base
// image builds, the counter (created from its start when missing) answers,
// the log takes the run's start line. False with szError ("cannot build
// the image: ...; no board was touched", "serial counter: ...", the log's
// reason); *pbCounterMissing tells a counter that is not there.
bool PrepareProduction(const qrt::image::CImageSession& base, const PRODUCTION_FILES& files,
                       std::unique_ptr<qrt::production::CSerialCounter>& pCounter,
                       qrt::production::CProductionLog& log, std::string& szError,
                       bool* pbCounterMissing = nullptr);

// One board's step.
struct BOARD_STEP {
  qrt::production::PRODUCTION_RECORD Record;  // as logged (or meant to be)
  bool bPass = false;
  // Why a board was not written ("the board is gone", "chip probe failed:
  // ..."), or what the rollback did after a failed write; empty on a pass.
  std::string szNote;
  // The board could not be used at all (code -1, no serial taken).
  bool bUnusable = false;
  // The run must stop after this board: why (the counter, the image, the
  // log). Empty when it goes on.
  std::string szStop;
  WRITE_OUTCOME Outcome;
};

// Programs one listed board: opens it (waiting for its lock as settings
// say), takes a serial once its backup is saved, writes and verifies the
// base image with the serial, rolls back on failure, and appends its log
// line. A board that is gone, busy or whose probe failed is logged as fail
// (code -1) without a serial. fnWriteFailed runs after a failed write,
// before its rollback.
BOARD_STEP ProgramBoard(USB42XX_MGR::IHidPlatform& platform, const USB42XX_MGR::BOARD_INFO& board,
                        PRODUCTION_SHARED& shared, const PRODUCTION_SETTINGS& settings,
                        USB42XX_MGR::IEepromObserver& observer,
                        const std::function<void(const WRITE_OUTCOME&)>& fnWriteFailed = {});

// A run's totals.
class CProductionTotals {
 public:
  void Add(const BOARD_STEP& step);
  int Passed() const { return m_nPassed; }
  int Failed() const { return m_nFailed; }
  const std::vector<uint64_t>& Serials() const { return m_vSerials; }
  double TotalSeconds() const { return m_dTotalS; }
  const std::vector<BOARD_STEP>& Steps() const { return m_vSteps; }
  // "3 passed, 0 failed, 3 serial(s) used (000000000100-000000000102), 0.12 s"
  std::string SummaryText() const;

 private:
  int m_nPassed = 0;
  int m_nFailed = 0;
  std::vector<uint64_t> m_vSerials;  // taken by this run, in order
  double m_dTotalS = 0;
  std::vector<BOARD_STEP> m_vSteps;
};

// "000000000100-000000000102, 000000000105": the serials as runs of
// consecutive numbers (another station on the same counter takes serials
// between ours, so first and last alone would claim serials not ours).
std::string SerialRangesText(std::vector<uint64_t> vSerials);

// Which boards the station programs: each one once while it stays plugged.
// A board is its path and, where the platform has it, its USB serial
// string; unplugged and plugged again it is a new board.
class CStationBoards {
 public:
  // The boards of a fresh listing not programmed since they were last seen,
  // marked as programmed now. A board missing from a listing is forgotten
  // (the only sign of a replug where the platform has no hot-plug events).
  std::vector<USB42XX_MGR::BOARD_INFO> TakeNew(const std::vector<USB42XX_MGR::BOARD_INFO>& vListed);
  // The removal event of the board at szPath: that board is new when it is
  // listed again, even when it came back before the next listing.
  void Removed(const std::string& szPath);

 private:
  std::set<std::string> m_setDone;  // programmed and still plugged
};

}  // namespace qrt::transfer
