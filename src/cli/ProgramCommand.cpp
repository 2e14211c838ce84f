// program: the production run over one board, every present board, or each
// board as it arrives (the station). The engine programs the boards, at
// once; this file checks the options, prints each board's line as it
// finishes and the summary.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "DeviceCommands.h"
#include "DeviceSession.h"
#include "DeviceWait.h"
#include "ProgramSetup.h"
#include "ImageFiles.h"
#include "Line.h"
#include "SettingsRules.h"
#include "TerminalText.h"

namespace qrt::cli {

using namespace qrt::image;
using namespace USB42XX_MGR;
using json = nlohmann::ordered_json;
using qrt::production::FormatSerial;

namespace {

// One production run's front end: the boards through the engine, their
// lines printed as they finish; the station's view too.
class CProgramRun : public qrt::transfer::IStationView, public qrt::transfer::ILineObserver {
 public:
  CProgramRun(CCliContext& ctx, const CProgramOptions& p, CDeviceSession& session,
              qrt::transfer::PRODUCTION_SHARED& shared,
              const qrt::transfer::PRODUCTION_SETTINGS& settings,
              const qrt::production::CSerialCounter* pCounter)
      : m_Ctx(ctx),
        m_P(p),
        m_Session(session),
        m_Shared(shared),
        m_Settings(settings),
        m_pCounter(pCounter) {}

  // Programs, logs and prints the boards. False when the run must stop (the
  // serial counter, the image or the log failed); a failed or vanished
  // board is counted and logged, not a reason to stop.
  bool Program(const std::vector<BOARD_INFO>& vBoards) {
    m_vBoards = vBoards;
    // One board at a time shows the transfer's progress bar; boards at once
    // only their lines.
    m_bBar = vBoards.size() == 1 || m_P.nJobs == 1;
    qrt::transfer::LINE_RESULT result = qrt::transfer::ProgramBoards(
        m_Session.Platform(), vBoards, m_Shared, m_Settings, m_P.nJobs, *this);
    const size_t nLeft = vBoards.size() - result.vSteps.size();
    for (qrt::transfer::BOARD_STEP& step : result.vSteps) m_vDone.push_back(std::move(step));
    if (result.bInterrupted && nLeft > 0) {
      m_Ctx.Fail("interrupted: " + std::to_string(nLeft) + " board(s) not started");
    }
    if (!result.szStop.empty()) {
      m_szStop = result.szStop;
      m_Ctx.Fail(result.szStop);
    }
    return result.szStop.empty() && !result.bInterrupted;
  }

  const qrt::transfer::CProductionTotals& Totals() const { return m_Totals; }
  // Why the run stopped before its boards were done; empty when it did not.
  const std::string& StopReason() const { return m_szStop; }

  // The boards in the order they were listed, each with the keys of its
  // log line.
  json SummaryJson() const {
    json jBoards = json::array();
    for (const qrt::transfer::BOARD_STEP& step : m_vDone) {
      jBoards.push_back(json::parse(qrt::production::ProductionLogLine(step.Record)));
    }
    return json{{"boards", jBoards},
                {"totals",
                 {{"passed", m_Totals.Passed()},
                  {"failed", m_Totals.Failed()},
                  {"serials", m_Totals.Serials().size()},
                  {"elapsed_s", m_Totals.TotalSeconds()}}}};
  }

  // ILineObserver
  void OnBoardStarted(size_t, const BOARD_INFO&) override {
    if (m_bBar) m_pBar = std::make_unique<CCliObserver>(m_Ctx);
  }
  void OnBoardProgress(size_t, EEepromProgress eKind, int nPercent) override {
    if (m_pBar) m_pBar->OnProgress(eKind, nPercent);
  }
  void OnWriteFailed(size_t, const qrt::transfer::WRITE_OUTCOME& outcome) override {
    // Boards at once: the board's line says it when it is done.
    if (!m_pBar) return;
    m_pBar->EndBar();
    // Said now, but the board may still pass on a retry: the failure
    // counts once the board is done without a pass.
    const int nExitCode = m_Ctx.nExitCode;
    const std::string szLastError = m_Ctx.szLastError;
    PrintWriteFailure(m_Ctx, outcome);
    m_szWriteFailure = m_Ctx.szLastError;
    m_Ctx.nExitCode = nExitCode;
    m_Ctx.szLastError = szLastError;
  }
  void OnBoardFinished(size_t nBoard, const qrt::transfer::BOARD_STEP& step) override {
    if (m_pBar) m_pBar->EndBar();
    m_pBar.reset();
    if (!step.bPass && !m_szWriteFailure.empty()) {
      m_Ctx.nExitCode = 1;
      m_Ctx.szLastError = m_szWriteFailure;
    }
    m_szWriteFailure.clear();
    if (step.bUnusable) {
      m_Ctx.Fail("the board at " + step.Record.szPath +
                 (step.szNote == "the board is gone" ? " is gone" : ": " + step.szNote));
    } else {
      PrintWriteEnd(m_Ctx, step.Outcome);
      // Said already: a failed write one board at a time, a backup that
      // failed. Otherwise (boards at once, a hook, the serial source) the
      // error names the board.
      using qrt::transfer::EWriteStep;
      const EWriteStep eStop = step.Outcome.eStopped;
      const bool bSaid = (m_pBar && eStop == EWriteStep::kWrite) ||
                         eStop == EWriteStep::kBackupRead || eStop == EWriteStep::kBackupSave;
      if (!step.bPass && !bSaid && step.szStop.empty()) {
        m_Ctx.Fail(step.Record.szPath + ": " + step.Record.szReason);
      }
    }
    m_Totals.Add(step);
    if (!m_P.bJson) PrintLine(m_vBoards[nBoard], step);
    WarnRange(step);
  }

  // IStationView
  void OnNoHotPlug(int nPollMs) override {
    m_Ctx.err << "qrt4250-cli: no hot-plug events on this system; looking for boards every "
              << nPollMs << " ms" << std::endl;
  }
  bool OnBoards(const std::vector<BOARD_INFO>& vBoards) override { return Program(vBoards); }
  void OnReady() override {
    (m_P.bJson ? m_Ctx.err : m_Ctx.out) << "ready for the next board" << std::endl;
  }
  void OnError(const std::string& szText) override { m_Ctx.Fail(szText); }

 private:
  // "sim:1 3A7C:4250: pass, serial 000000000100, 0.04 s (total 0.04 s)";
  // a failure ends with its reason in brackets.
  void PrintLine(const BOARD_INFO& board, const qrt::transfer::BOARD_STEP& step) {
    const qrt::production::PRODUCTION_RECORD& r = step.Record;
    std::string szLine = r.szPath + " " + PairText(board.Id.wVID, board.Id.wPID) + ": " +
                         r.szResult;
    if (r.qwSerial) {
      szLine += (step.bPass ? ", serial " : ", burned serial ") + FormatSerial(*r.qwSerial);
      if (r.bRework) szLine += " (rework)";
    }
    if (r.nAttempts > 1) szLine += ", " + std::to_string(r.nAttempts) + " attempts";
    if (!r.szReason.empty()) szLine += " (" + r.szReason + ")";
    char sz[64];
    std::snprintf(sz, sizeof(sz), ", %.2f s (total %.2f s)", r.dElapsedS,
                  m_Totals.TotalSeconds());
    m_Ctx.out << qrt::diag::EscapeControls(szLine) << sz << std::endl;
  }

  // The work order's range running out: fewer than 10 left.
  void WarnRange(const qrt::transfer::BOARD_STEP& step) {
    const auto& r = step.Record;
    if (m_pCounter == nullptr || !r.qwSerial || r.bRework) return;
    const uint64_t qwLast = m_pCounter->Last();
    if (*r.qwSerial > qwLast || qwLast - *r.qwSerial >= 10) return;
    m_Ctx.err << "qrt4250-cli: " << (qwLast - *r.qwSerial)
              << " serial(s) left in the work order (up to " << FormatSerial(qwLast) << ")"
              << std::endl;
  }

  CCliContext& m_Ctx;
  const CProgramOptions& m_P;
  CDeviceSession& m_Session;
  qrt::transfer::PRODUCTION_SHARED& m_Shared;
  const qrt::transfer::PRODUCTION_SETTINGS& m_Settings;
  const qrt::production::CSerialCounter* m_pCounter;  // the work order's range; null: none
  qrt::transfer::CProductionTotals m_Totals;  // in the order the boards finished
  std::vector<qrt::transfer::BOARD_STEP> m_vDone;  // in the order they were listed
  std::vector<BOARD_INFO> m_vBoards;              // the round being programmed
  std::unique_ptr<CCliObserver> m_pBar;
  std::string m_szWriteFailure;  // the board's last failed write, said already
  bool m_bBar = true;
  std::string m_szStop;
};

}  // namespace

void RunProgram(CCliContext& ctx, const CDeviceOptions& options, const CProgramOptions& p,
                const STATION_HOOKS& hooks) {
  // Everything that can be checked without a board is checked first, so a
  // bad option costs no serial and touches no board.
  PROGRAM_SETUP setup;
  qrt::transfer::PRODUCTION_SETTINGS settings;
  if (!PrepareProgram(ctx, options, p, setup) ||
      !TransferSettingsOf(ctx, options, settings.Transfer)) {
    return;
  }
  // Simulated boards each run on their own clock, as boards at once do.
  CDeviceOptions o = options;
  o.Sim.bBoardClocks = true;
  settings.Lock = LockWaitOf(ctx, o);
  settings.bModelledTime = o.bSimulate;
  CDeviceSession session(ctx, o);
  if (!session.Open()) return;
  qrt::transfer::PRODUCTION_SHARED shared{setup.Base, setup.Serials(), setup.Log};
  shared.Facts = setup.Facts;
  shared.nRetries = p.nRetries;
  shared.eRework = p.szRework == "keep-serial" ? qrt::transfer::ERework::kKeepSerial
                                               : qrt::transfer::ERework::kNewSerial;
  shared.vBefore = setup.vBefore;
  shared.vAfter = setup.vAfter;
  shared.nHookTimeOutMs = p.nHookTimeOutS * 1000;
  CProgramRun run(ctx, p, session, shared, settings, setup.pCounter.get());
  // Ctrl+C starts no further board; the station holds its own guard.
  std::unique_ptr<qrt::transfer::CInterruptGuard> pGuard;
  if (!p.bWait) pGuard = std::make_unique<qrt::transfer::CInterruptGuard>();
  if (p.bWait) {
    qrt::transfer::RunStation(session.Platform(), session.Simulator(), hooks, run);
  } else {
    // Without --all the board is chosen as for every other command (--path,
    // --device, else the one board of the first pair); --all takes every
    // present board by its path.
    std::vector<BOARD_INFO> vBoards;
    if (p.bAll) {
      BOARD_LIST_OPTIONS listing;
      listing.bWithFailed = true;
      if (!ListBoards(session.Platform(), listing, vBoards)) {
        ctx.Fail("the device search failed");
      } else if (vBoards.empty()) {
        ctx.Fail("no board present");
      }
    } else {
      qrt::transfer::BOARD_CHOICE choice;
      BOARD_INFO chosen;
      std::string szError;
      if (BoardChoiceOf(ctx, o, choice)) {
        if (qrt::transfer::ChooseBoard(session.Platform(), choice, chosen, szError)) {
          vBoards.push_back(chosen);
        } else {
          ctx.Fail(szError);
        }
      }
    }
    if (!vBoards.empty()) run.Program(vBoards);
  }
  EndProgram(ctx, setup);
  const qrt::transfer::CProductionTotals& totals = run.Totals();
  if (p.bJson) {
    // The run's own document, with an error whenever the exit status is 1.
    json j = run.SummaryJson();
    if (!run.StopReason().empty()) {
      j["error"] = run.StopReason();
    } else if (totals.Failed() > 0) {
      j["error"] = std::to_string(totals.Failed()) + " of " +
                   std::to_string(totals.Failed() + totals.Passed()) +
                   " board(s) failed; the last error: " + ctx.szLastError;
    } else if (ctx.nExitCode != 0) {
      j["error"] = ctx.szLastError;
    }
    ctx.PrintJson(j);
  } else {
    ctx.out << totals.SummaryText() << '\n';
  }
  if (totals.Failed() > 0 && ctx.nExitCode == 0) ctx.nExitCode = 1;
}

}  // namespace qrt::cli
