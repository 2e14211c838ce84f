// program: the production run over one board, every present board, or each
// board as it arrives (the station).
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "DeviceCommands.h"
#include "DeviceMonitor.h"
#include "DeviceSession.h"
#include "ImageFiles.h"
#include "ProductionLog.h"
#include "SerialCounter.h"
#include "SettingsRules.h"
#include "TerminalText.h"

namespace qrt::cli {

using namespace qrt::image;
using namespace USB42XX_MGR;
using json = nlohmann::ordered_json;

namespace {

struct CProgramTotals {
  int nPassed = 0;
  int nFailed = 0;
  std::vector<uint64_t> vSerials;  // taken by this run, in order
  double dTotalS = 0;
  json jBoards = json::array();
};

// "000000000100-000000000102, 000000000105": the serials as runs of
// consecutive numbers. Another station on the same counter takes serials
// between ours, so first and last alone would claim serials not ours.
std::string SerialRangesText(std::vector<uint64_t> vSerials) {
  using qrt::production::FormatSerial;
  std::sort(vSerials.begin(), vSerials.end());
  std::string sz;
  for (size_t i = 0; i < vSerials.size();) {
    size_t nEnd = i;
    while (nEnd + 1 < vSerials.size() && vSerials[nEnd + 1] == vSerials[nEnd] + 1) ++nEnd;
    if (!sz.empty()) sz += ", ";
    sz += FormatSerial(vSerials[i]);
    if (nEnd > i) sz += "-" + FormatSerial(vSerials[nEnd]);
    i = nEnd + 1;
  }
  return sz;
}

// One production run: the image, the counter and the log, shared by every
// board it programs.
class CProgramRun {
 public:
  CProgramRun(CCliContext& ctx, const CDeviceOptions& o, const CProgramOptions& p,
              CDeviceSession& session, CImageSession& base,
              qrt::production::CSerialCounter* pCounter, qrt::production::CProductionLog& log)
      : m_Ctx(ctx),
        m_O(o),
        m_P(p),
        m_Session(session),
        m_Base(base),
        m_pCounter(pCounter),
        m_Log(log) {}

  // Pins the board, programs it and logs it. False when the run must stop
  // (the serial counter or the log failed); a failed or vanished board is
  // counted and logged, not a reason to stop.
  bool Program(const BOARD_INFO& board) {
    m_Start = std::chrono::steady_clock::now();
    std::string szWhy;
    if (!m_Session.UseBoard(board, &szWhy)) {
      // Its chip did not answer the probe, or it left between the search and
      // its turn: nothing was written, no serial taken; it still gets its
      // line so the log accounts for every board.
      qrt::production::PRODUCTION_RECORD record;
      record.szTime = qrt::production::UtcTimeText();
      record.szPath = board.szPath.empty() ? Pair(board.wVID, board.wPID) : board.szPath;
      record.wVid = board.wVID;
      record.wPid = board.wPID;
      record.szResult = "fail";
      record.nCode = -1;
      record.szNote = szWhy;
      return Finish(record, false, szWhy);
    }
    return ProgramOneBoard();
  }

  const CProgramTotals& Totals() const { return m_Totals; }

  // Why the run stopped before its boards were done (the counter, the log,
  // the image); empty when it did not.
  const std::string& StopReason() const { return m_szStop; }

  // "3 passed, 0 failed, 3 serial(s) used (000000000100-000000000102), 0.12 s"
  std::string SummaryText() const {
    char sz[96];
    std::snprintf(sz, sizeof(sz), "%d passed, %d failed, %zu serial(s) used", m_Totals.nPassed,
                  m_Totals.nFailed, m_Totals.vSerials.size());
    std::string szText = sz;
    if (!m_Totals.vSerials.empty()) szText += " (" + SerialRangesText(m_Totals.vSerials) + ")";
    std::snprintf(sz, sizeof(sz), ", %.2f s", m_Totals.dTotalS);
    return szText + sz;
  }

  json SummaryJson() const {
    json j{{"boards", m_Totals.jBoards},
           {"totals",
            {{"passed", m_Totals.nPassed},
             {"failed", m_Totals.nFailed},
             {"serials", m_Totals.vSerials.size()},
             {"elapsed_s", m_Totals.dTotalS}}}};
    return j;
  }

 private:
  bool ProgramOneBoard() {
    using namespace qrt::production;
    CCliContext& ctx = m_Ctx;
    const CDeviceOptions& o = m_O;
    CDeviceSession& session = m_Session;
    CImageSession& base = m_Base;
    CSerialCounter* pCounter = m_pCounter;
    CProgramTotals& totals = m_Totals;
    TRANSFER_REPORT report;
    PRODUCTION_RECORD record;
    const uint16_t wVid = session.Board().wVID;
    const uint16_t wPid = session.Board().wPID;
    const std::string szPath = session.BoardPath().empty() ? Pair(wVid, wPid) : session.BoardPath();
    record.szTime = UtcTimeText();
    record.szPath = szPath;
    record.wVid = wVid;
    record.wPid = wPid;
    bool bStop = false;
    uint8_t image[kMaxImageSize];
    size_t nSize = 0;
    bool bPass = false;
    // Built once without the new serial for its size (the backup reads that
    // much), then again with it: the serial goes in the header only.
    EBuildResult eBuild = base.BuildOutputImage(image, &nSize);
    if (eBuild != EBuildResult::kOk) {
      Stop(std::string("cannot build the image: ") + BuildResultText(eBuild));
      bStop = true;
    } else {
      record.szImageSha256 = Sha256Hex(image, nSize);
      // The serial is taken (and the counter synced) once the backup is
      // saved and before the first byte is written; from there on it is
      // used, whatever happens to this board. A board whose backup fails
      // costs none.
      auto fnTakeSerial = [&]() {
        if (!pCounter) return true;
        uint64_t qwSerial = 0;
        std::string szError;
        if (pCounter->Allocate(qwSerial, szError) != ESerialResult::kOk) {
          Stop("serial counter: " + szError + "; nothing written");
          bStop = true;
          return false;
        }
        record.qwSerial = qwSerial;
        totals.vSerials.push_back(qwSerial);
        qrt::editor::ParseSerialNumber(FormatSerial(qwSerial),
                                       base.m_RecInternalOpt.btSerialNumber);
        base.m_RecInternalOpt.btSerialNumberCtrl = 1;
        size_t nWithSerial = 0;
        if (base.BuildOutputImage(image, &nWithSerial) != EBuildResult::kOk ||
            nWithSerial != nSize) {
          Stop("cannot build the image with the serial; nothing written");
          bStop = true;
          return false;
        }
        record.szImageSha256 = Sha256Hex(image, nSize);
        return true;
      };
      CTransferRun run(ctx, session, report);
      if (run.StartOn(static_cast<uint32_t>(nSize))) {
        bPass = GuardedWrite(ctx, o, run, image, nSize, report, true, fnTakeSerial);
      }
    }
    record.nCode = report.nCode;
    record.nMismatchAt = report.nMismatchAt;
    record.szBackup = report.szBackup;
    record.szResult = bPass                                            ? "pass"
                      : report.szRollback.rfind("rolled back", 0) == 0 ? "rolled-back"
                                                                       : "fail";
    if (bStop) {
      Finish(record, bPass, report.szRollback);
      return false;
    }
    return Finish(record, bPass, report.szRollback);
  }

  // The run ends here: the reason goes out as an error now and into the
  // summary.
  void Stop(const std::string& szWhy) {
    m_szStop = szWhy;
    m_Ctx.Fail(szWhy);
  }

  // Times, counts and logs a board's outcome and prints its line. False
  // when the log line could not be written: the run stops after this board.
  bool Finish(qrt::production::PRODUCTION_RECORD& record, bool bPass, const std::string& szNote) {
    using qrt::production::FormatSerial;
    record.dElapsedS =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_Start).count();
    m_Totals.dTotalS += record.dElapsedS;
    (bPass ? m_Totals.nPassed : m_Totals.nFailed) += 1;
    const auto orNull = [](const std::string& s) { return s.empty() ? json(nullptr) : json(s); };
    const std::string szSerial = record.qwSerial ? FormatSerial(*record.qwSerial) : std::string();
    // The key names the fact as the log does.
    m_Totals.jBoards.push_back(
        {{"path", record.szPath},
         {"serial", orNull(szSerial)},
         {"result", record.szResult},
         {"code", record.nCode},
         {"mismatch_at", record.nMismatchAt ? json(*record.nMismatchAt) : json(nullptr)},
         {"elapsed_s", record.dElapsedS},
         {"backup", orNull(record.szBackup)},
         {"note", orNull(bPass ? std::string() : szNote)}});
    std::string szError;
    const bool bLogged = m_Log.Append(record, szError);
    if (!bLogged) {
      Stop(szError + "; the log has no line for board " + record.szPath +
           (szSerial.empty() ? "" : " (serial " + szSerial + ")") + ", " + record.szResult +
           "; the run stops");
    }
    if (m_P.bJson) return bLogged;
    std::string szLine = record.szPath + " " + Pair(record.wVid, record.wPid) + ": " +
                         record.szResult;
    if (!szSerial.empty()) szLine += (bPass ? ", serial " : ", burned serial ") + szSerial;
    if (!bPass && record.nCode == -1 && !szNote.empty()) szLine += " (" + szNote + ")";
    char sz[64];
    std::snprintf(sz, sizeof(sz), ", %.2f s (total %.2f s)", record.dElapsedS, m_Totals.dTotalS);
    m_Ctx.out << qrt::diag::EscapeControls(szLine) << sz << std::endl;
    return bLogged;
  }

  CCliContext& m_Ctx;
  const CDeviceOptions& m_O;
  const CProgramOptions& m_P;
  CDeviceSession& m_Session;
  CImageSession& m_Base;
  qrt::production::CSerialCounter* m_pCounter;
  qrt::production::CProductionLog& m_Log;
  CProgramTotals m_Totals;
  std::string m_szStop;
  std::chrono::steady_clock::time_point m_Start;
};

// program --wait: programs every board present at the start and then each
// arrival, until SIGINT/SIGTERM or the hooks say stop.
void RunStation(CCliContext& ctx, const CProgramOptions& p, CDeviceSession& session,
                CProgramRun& run, const STATION_HOOKS& hooks) {
  IHidPlatform& platform = session.Platform();
  std::ostream& say = p.bJson ? ctx.err : ctx.out;
  const bool bEvents = HasDeviceEvents(platform);
  if (!bEvents)
    ctx.err << "qrt4250-cli: no hot-plug events on this system; looking for boards every "
            << hooks.nPollMs << " ms" << std::endl;
  CInterruptGuard guard;
  CStationBoards boards;
  bool bFirst = true;
  for (;;) {
    DEVICE_LIST list;
    std::vector<BOARD_INFO> vBoards;
    // Unpinned first: the probe of a pair goes to the pinned board, and the
    // last board programmed may be the one that left.
    session.Mgr().SelectBoard(std::string());
    if (session.Mgr().Search_Present_Boards(list, &vBoards) != 0) {
      ctx.Fail("the device search failed");
      return;
    }
    const std::vector<BOARD_INFO> vNew = boards.TakeNew(vBoards);
    for (const BOARD_INFO& board : vNew) {
      if (!run.Program(board)) return;
    }
    if (!vNew.empty() || bFirst) say << "ready for the next board" << std::endl;
    bFirst = false;
    if (hooks.fnBeforeWait && hooks.fnBeforeWait(session.Simulator())) return;
    if (CInterruptGuard::Interrupted()) return;
    const EDeviceWait eWait = WaitForDeviceChange(platform, hooks.nPollMs);
    if (eWait == EDeviceWait::kInterrupted) return;
    if (eWait == EDeviceWait::kError) {
      ctx.Fail(std::string("waiting for boards failed: ") + std::strerror(errno));
      return;
    }
    if (eWait == EDeviceWait::kChanged) session.Mgr().DispatchDeviceEvents();
    for (const std::string& szPath : session.Mgr().TakeRemovedBoardPaths()) boards.Removed(szPath);
  }
}

// A board as the station tells boards apart: its path (the pair when the
// enumeration could not name it), a line break, its USB serial string.
std::string BoardIdentity(const BOARD_INFO& board) {
  return (board.szPath.empty() ? Pair(board.wVID, board.wPID) : board.szPath) + '\n' +
         board.szSerial;
}

}  // namespace

std::vector<BOARD_INFO> CStationBoards::TakeNew(const std::vector<BOARD_INFO>& vListed) {
  std::set<std::string> setNow;
  for (const BOARD_INFO& board : vListed) setNow.insert(BoardIdentity(board));
  std::erase_if(m_setDone, [&](const std::string& s) { return setNow.count(s) == 0; });
  std::vector<BOARD_INFO> vNew;
  for (const BOARD_INFO& board : vListed) {
    if (m_setDone.insert(BoardIdentity(board)).second) vNew.push_back(board);
  }
  return vNew;
}

void CStationBoards::Removed(const std::string& szPath) {
  // The whole path up to the line break: /dev/hidraw1 is not /dev/hidraw10.
  std::erase_if(m_setDone, [&](const std::string& s) { return s.rfind(szPath + '\n', 0) == 0; });
}

void RunProgram(CCliContext& ctx, const CDeviceOptions& o, const CProgramOptions& p,
                const STATION_HOOKS& hooks) {
  using namespace qrt::production;
  // Everything that can be checked without a board is checked first, so a
  // bad option costs no serial and touches no board.
  // The image of every board: --image BASE or the built-in default image,
  // then the template; a template that does not load stops the run here.
  if (p.szImage.empty() && p.szTemplate.empty()) {
    ctx.Fail("program needs --template T.json or --image BASE (or both)");
    return;
  }
  CImageSession base;
  if (!p.szImage.empty() && !LoadImageFile(ctx, base, p.szImage)) return;
  if (!p.szTemplate.empty() && !ApplyTemplateFile(ctx, base, p.szTemplate)) return;
  if (!p.szType.empty()) {
    uint32_t dwSize = RomSizeFromEepromType(p.szType);
    if (dwSize == 0) {
      ctx.Fail("--eeprom must be 24C02, 24C04, 24C08 or 24C16, not " + p.szType);
      return;
    }
    base.SetRomSize(dwSize);
  }
  if (p.bWait && p.bAll) {
    ctx.Fail("--wait and --all exclude each other");
    return;
  }
  // The same image for every board but its serial: one that cannot be
  // built (banks beyond the size) stops the run before the first board.
  uint8_t trial[kMaxImageSize];
  size_t nTrial = 0;
  const EBuildResult eBuild = base.BuildOutputImage(trial, &nTrial);
  if (eBuild != EBuildResult::kOk) {
    ctx.Fail(std::string("cannot build the image: ") + BuildResultText(eBuild) +
             "; no board was touched");
    return;
  }
  std::unique_ptr<CSerialCounter> pCounter;
  if (!p.szSerialFile.empty()) {
    pCounter = std::make_unique<CSerialCounter>(p.szSerialFile);
    std::string szError;
    if (!p.szSerialStart.empty()) {
      uint64_t qwStart = 0;
      std::string szStart = p.szSerialStart;
      if (szStart.size() < 12) szStart.insert(0, 12 - szStart.size(), '0');
      if (!ParseSerial(szStart, qwStart)) {
        ctx.Fail("--serial-start must be 1 to 12 hex digits, not " + p.szSerialStart);
        return;
      }
      if (pCounter->CreateIfMissing(qwStart, szError) != ESerialResult::kOk) {
        ctx.Fail("serial counter: " + szError);
        return;
      }
    }
    uint64_t qwNext = 0;
    ESerialResult e = pCounter->Peek(qwNext, szError);
    if (e != ESerialResult::kOk) {
      ctx.Fail("serial counter: " + szError +
               (e == ESerialResult::kMissing ? " (--serial-start HEX creates it)" : ""));
      return;
    }
  } else if (!p.szSerialStart.empty()) {
    ctx.Fail("--serial-start needs --serial-file");
    return;
  }
  // A log that takes no line would leave programmed boards and burned
  // serials without a trace: it must take the run's start line first.
  CProductionLog log;
  std::string szError;
  if (!log.Open(p.szLog, szError) || !log.AppendStart(Sha256Hex(trial, nTrial), szError)) {
    ctx.Fail(szError + "; no board was touched");
    return;
  }
  CDeviceSession session(ctx, o);
  if (!session.Open()) return;
  CProgramRun run(ctx, o, p, session, base, pCounter.get(), log);
  if (p.bWait) {
    RunStation(ctx, p, session, run, hooks);
  } else {
    // Without --all the board is chosen as for every other command (--path,
    // --device, else the one board of the first pair); --all takes every
    // present board by its path.
    std::vector<BOARD_INFO> vBoards;
    if (p.bAll) {
      DEVICE_LIST list;
      if (session.Mgr().Search_Present_Boards(list, &vBoards) != 0) {
        ctx.Fail("the device search failed");
      } else if (vBoards.empty()) {
        ctx.Fail("no board present");
      }
    } else {
      uint16_t wVid = 0;
      uint16_t wPid = 0;
      if (session.SelectDevice(wVid, wPid)) vBoards.push_back(session.Board());
    }
    for (const BOARD_INFO& board : vBoards) {
      if (!run.Program(board)) break;
    }
  }
  if (p.bJson) {
    // The run's own document, with an error whenever the exit status is 1.
    json j = run.SummaryJson();
    if (!run.StopReason().empty()) {
      j["error"] = run.StopReason();
    } else if (run.Totals().nFailed > 0) {
      const CProgramTotals& totals = run.Totals();
      j["error"] = std::to_string(totals.nFailed) + " of " +
                   std::to_string(totals.nFailed + totals.nPassed) +
                   " board(s) failed; the last error: " + ctx.szLastError;
    } else if (ctx.nExitCode != 0) {
      j["error"] = ctx.szLastError;
    }
    ctx.PrintJson(j);
  } else {
    ctx.out << run.SummaryText() << '\n';
  }
  if (run.Totals().nFailed > 0 && ctx.nExitCode == 0) ctx.nExitCode = 1;
}

}  // namespace qrt::cli

