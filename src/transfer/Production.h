#pragma once
// The production line's step for one board, shared by every front end:
// backup, a fresh serial, the base image with that serial, a protected
// write, one synced log line. The pieces shared by the run's boards (the
// base image, the serial counter, the log) come in explicitly, so that a
// later change can make them safe for boards programmed at once. Also the
// run's totals and the station's memory of the boards it has programmed.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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

// What every log line of a run says about the line itself.
struct LINE_FACTS {
  std::string szStation;  // the front end's default: the host name
  std::string szOperator;
  std::string szWorkOrder;
  std::string szToolVersion;
  std::string szProfile;  // "default" or "fast"
  std::string szGolden;   // file name of the image or template; empty: built-in image
};

// Where a reworked board's serial comes from.
enum class ERework {
  kNewSerial,   // a new serial from the counter, always
  kKeepSerial,  // the serial the board already holds (its backup a valid image with it on)
};

// What every board of a run shares. The counter and the log take boards
// programmed at once (each on its own thread).
struct PRODUCTION_SHARED {
  const qrt::image::CImageSession& Base;        // the image before its serial
  qrt::production::ISerialSource* pSerials;     // null: no serials
  qrt::production::CProductionLog& Log;
  LINE_FACTS Facts = {};
  // Commands run per board (their words; empty: none) with the board's
  // facts in the environment: before it is touched (a failure skips the
  // board, no serial taken) and after it is done (a failure fails it, the
  // command's output in its line), each within nHookTimeOutMs.
  std::vector<std::string> vBefore = {};
  std::vector<std::string> vAfter = {};
  int nHookTimeOutMs = 60000;
  // Writes again after a failed write that was rolled back and verified,
  // before the board's serial is given up.
  int nRetries = 1;
  ERework eRework = ERework::kNewSerial;
};

// How a run transfers (the report ID of the I2C transfers is each board's
// own).
struct PRODUCTION_SETTINGS {
  USB42XX_MGR::EEPROM_TRANSFER_SETTINGS Transfer;
  USB42XX_MGR::BOARD_LOCK_WAIT Lock;
  // The boards' clocks are modelled (simulated boards): each record gets
  // its device time.
  bool bModelledTime = false;
};

// Serials in the order the boards were started, whatever order their
// threads reach the counter in: board k waits to take its serial until the
// boards started before it took theirs or finished without one. Tickets
// count from 0 in start order.
class CSerialTurns {
 public:
  // Blocks until every ticket before nTicket is done.
  void Wait(size_t nTicket);
  // nTicket took its serial, or will take none. Done twice is harmless.
  void Done(size_t nTicket);

 private:
  std::mutex m_Mutex;
  std::condition_variable m_Cv;
  std::vector<bool> m_vDone;
  size_t m_nFirstOpen = 0;  // every ticket before it is done
};

// A board's place in its run's serial order; no turns: none kept.
struct SERIAL_TURN {
  CSerialTurns* pTurns = nullptr;
  size_t nTicket = 0;
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

// The station file of a lease of serials when none is named:
// "serial-lease-STATION.txt" beside the backups, the station's name made a
// safe file name. Empty when there is no state folder.
std::string DefaultLeaseFile(const std::string& szStation);

// A lease of nBlock serials at a time from counter, kept in szFile (its
// folder made). Null with szError when szFile is empty or its folder cannot
// be made.
std::unique_ptr<qrt::production::CSerialLease> OpenSerialLease(
    qrt::production::CSerialCounter& counter, const std::string& szFile, uint64_t nBlock,
    std::string& szError);

// The serials a lease gave back at the end of a run.
struct LEASE_RETURN {
  bool bReturned = false;  // false: the lease held none
  uint64_t qwFirst = 0;
  uint64_t qwLast = 0;
  // "8 leased serial(s) returned unused, never to be used: 000000000108-00000000010F"
  std::string Text() const;
};

// Ends a run's lease: the serials it still holds are given up (the station
// file removed) and logged as returned-unused, so they are never used.
// False with szError when the station file cannot be read or the log takes
// no line (returned still says what was given up).
bool EndSerialLease(qrt::production::CSerialLease& lease, qrt::production::CProductionLog& log,
                    const std::string& szStation, LEASE_RETURN& returned, std::string& szError);

// One board's step.
struct BOARD_STEP {
  qrt::production::PRODUCTION_RECORD Record;  // as logged (or meant to be)
  bool bPass = false;
  // Why a board was not written ("the board is gone", "chip probe failed:
  // ..."), or what the rollback did after a failed write; empty on a pass.
  std::string szNote;
  // The failed attempts that were written again (their records as logged).
  std::vector<qrt::production::PRODUCTION_RECORD> vRetries;
  // The board could not be used at all (code -1, no serial taken).
  bool bUnusable = false;
  // The run must stop after this board: why (the counter, the image, the
  // log). Empty when it goes on.
  std::string szStop;
  WRITE_OUTCOME Outcome;
};

// Programs one listed board: opens it (waiting for its lock as settings
// say), reads what it holds and saves that as the backup, takes a serial
// (or keeps the board's own on rework), writes and verifies the base image
// with the serial, rolls back on failure and writes again up to
// shared.nRetries times after a verified rollback (each such attempt logged
// as "retry"), and appends its log line. A board that is gone, busy or
// whose probe failed is logged as fail (code -1) without a serial.
// fnWriteFailed runs after each failed write, before its rollback. Safe on
// several threads at once for different boards.
BOARD_STEP ProgramBoard(USB42XX_MGR::IHidPlatform& platform, const USB42XX_MGR::BOARD_INFO& board,
                        PRODUCTION_SHARED& shared, const PRODUCTION_SETTINGS& settings,
                        USB42XX_MGR::IEepromObserver& observer,
                        const std::function<void(const WRITE_OUTCOME&)>& fnWriteFailed = {},
                        SERIAL_TURN turn = {});

// The serial an image holds: it is a valid image (the signature) of at
// least the header, with its serial string switched on. Empty otherwise.
std::optional<uint64_t> SerialOfImage(const uint8_t* pImage, size_t nSize);

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
