// program: the production run over one board, every present board, or each
// board as it arrives (the station). The engine programs each board; this
// file checks the options, prints each board's line and the summary.
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "DeviceCommands.h"
#include "DeviceSession.h"
#include "ImageFiles.h"
#include "SettingsRules.h"
#include "TerminalText.h"

namespace qrt::cli {

using namespace qrt::image;
using namespace USB42XX_MGR;
using json = nlohmann::ordered_json;

namespace {

// One production run's front end: each board through the engine, its lines
// printed; the station's view too.
class CProgramRun : public qrt::transfer::IStationView {
 public:
  CProgramRun(CCliContext& ctx, const CProgramOptions& p, CDeviceSession& session,
              qrt::transfer::PRODUCTION_SHARED& shared,
              const qrt::transfer::PRODUCTION_SETTINGS& settings)
      : m_Ctx(ctx), m_P(p), m_Session(session), m_Shared(shared), m_Settings(settings) {}

  // Programs, logs and prints one board. False when the run must stop (the
  // serial counter, the image or the log failed); a failed or vanished
  // board is counted and logged, not a reason to stop.
  bool Program(const BOARD_INFO& board) {
    CCliObserver observer(m_Ctx);
    const qrt::transfer::BOARD_STEP step = qrt::transfer::ProgramBoard(
        m_Session.Platform(), board, m_Shared, m_Settings, observer,
        [&](const qrt::transfer::WRITE_OUTCOME& outcome) {
          observer.EndBar();
          PrintWriteFailure(m_Ctx, outcome);
        });
    observer.EndBar();
    if (step.bUnusable) {
      m_Ctx.Fail("the board at " + step.Record.szPath +
                 (step.szNote == "the board is gone" ? " is gone" : ": " + step.szNote));
    } else {
      PrintWriteEnd(m_Ctx, step.Outcome);
    }
    if (!step.szStop.empty()) {
      m_szStop = step.szStop;
      m_Ctx.Fail(step.szStop);
    }
    m_Totals.Add(step);
    if (!m_P.bJson) PrintLine(step);
    return step.szStop.empty();
  }

  const qrt::transfer::CProductionTotals& Totals() const { return m_Totals; }
  // Why the run stopped before its boards were done; empty when it did not.
  const std::string& StopReason() const { return m_szStop; }

  json SummaryJson() const {
    const auto orNull = [](const std::string& s) { return s.empty() ? json(nullptr) : json(s); };
    json jBoards = json::array();
    for (const qrt::transfer::BOARD_STEP& step : m_Totals.Steps()) {
      const qrt::production::PRODUCTION_RECORD& r = step.Record;
      // The keys name the facts as the log does.
      jBoards.push_back(
          {{"path", r.szPath},
           {"serial", orNull(r.qwSerial ? qrt::production::FormatSerial(*r.qwSerial) : "")},
           {"result", r.szResult},
           {"code", r.nCode},
           {"mismatch_at", r.nMismatchAt ? json(*r.nMismatchAt) : json(nullptr)},
           {"elapsed_s", r.dElapsedS},
           {"backup", orNull(r.szBackup)},
           {"note", orNull(step.bPass ? std::string() : step.szNote)}});
    }
    return json{{"boards", jBoards},
                {"totals",
                 {{"passed", m_Totals.Passed()},
                  {"failed", m_Totals.Failed()},
                  {"serials", m_Totals.Serials().size()},
                  {"elapsed_s", m_Totals.TotalSeconds()}}}};
  }

  // The station's view.
  void OnNoHotPlug(int nPollMs) override {
    m_Ctx.err << "qrt4250-cli: no hot-plug events on this system; looking for boards every "
              << nPollMs << " ms" << std::endl;
  }
  bool OnBoard(const BOARD_INFO& board) override { return Program(board); }
  void OnReady() override {
    (m_P.bJson ? m_Ctx.err : m_Ctx.out) << "ready for the next board" << std::endl;
  }
  void OnError(const std::string& szText) override { m_Ctx.Fail(szText); }

 private:
  // "sim:1 3A7C:4250: pass, serial 000000000100, 0.04 s (total 0.04 s)"
  void PrintLine(const qrt::transfer::BOARD_STEP& step) {
    const qrt::production::PRODUCTION_RECORD& r = step.Record;
    std::string szLine = r.szPath + " " + PairText(r.wVid, r.wPid) + ": " + r.szResult;
    if (r.qwSerial) {
      szLine += (step.bPass ? ", serial " : ", burned serial ") +
                qrt::production::FormatSerial(*r.qwSerial);
    }
    if (step.bUnusable && !step.szNote.empty()) szLine += " (" + step.szNote + ")";
    char sz[64];
    std::snprintf(sz, sizeof(sz), ", %.2f s (total %.2f s)", r.dElapsedS,
                  m_Totals.TotalSeconds());
    m_Ctx.out << qrt::diag::EscapeControls(szLine) << sz << std::endl;
  }

  CCliContext& m_Ctx;
  const CProgramOptions& m_P;
  CDeviceSession& m_Session;
  qrt::transfer::PRODUCTION_SHARED& m_Shared;
  const qrt::transfer::PRODUCTION_SETTINGS& m_Settings;
  qrt::transfer::CProductionTotals m_Totals;
  std::string m_szStop;
};

// The base image and the run's files from the options. False (message
// written) when one is refused; nothing is touched then.
bool PrepareRun(CCliContext& ctx, const CProgramOptions& p, CImageSession& base,
                std::unique_ptr<qrt::production::CSerialCounter>& pCounter,
                qrt::production::CProductionLog& log) {
  // The image of every board: --image BASE or the built-in default image,
  // then the template; a template that does not load stops the run here.
  if (p.szImage.empty() && p.szTemplate.empty()) {
    ctx.Fail("program needs --template T.json or --image BASE (or both)");
    return false;
  }
  if (!p.szImage.empty() && !LoadImageFile(ctx, base, p.szImage)) return false;
  if (!p.szTemplate.empty() && !ApplyTemplateFile(ctx, base, p.szTemplate)) return false;
  if (!p.szType.empty()) {
    const uint32_t dwSize = RomSizeFromEepromType(p.szType);
    if (dwSize == 0) {
      ctx.Fail("--eeprom must be 24C02, 24C04, 24C08 or 24C16, not " + p.szType);
      return false;
    }
    base.SetRomSize(dwSize);
  }
  if (p.bWait && p.bAll) {
    ctx.Fail("--wait and --all exclude each other");
    return false;
  }
  qrt::transfer::PRODUCTION_FILES files;
  files.szSerialFile = p.szSerialFile;
  files.szLog = p.szLog;
  if (!p.szSerialStart.empty()) {
    if (p.szSerialFile.empty()) {
      ctx.Fail("--serial-start needs --serial-file");
      return false;
    }
    std::string szStart = p.szSerialStart;
    if (szStart.size() < 12) szStart.insert(0, 12 - szStart.size(), '0');
    uint64_t qwStart = 0;
    if (!qrt::production::ParseSerial(szStart, qwStart)) {
      ctx.Fail("--serial-start must be 1 to 12 hex digits, not " + p.szSerialStart);
      return false;
    }
    files.qwSerialStart = qwStart;
  }
  std::string szError;
  bool bMissing = false;
  if (!qrt::transfer::PrepareProduction(base, files, pCounter, log, szError, &bMissing)) {
    ctx.Fail(szError + (bMissing ? " (--serial-start HEX creates it)" : ""));
    return false;
  }
  return true;
}

}  // namespace

void RunProgram(CCliContext& ctx, const CDeviceOptions& o, const CProgramOptions& p,
                const STATION_HOOKS& hooks) {
  // Everything that can be checked without a board is checked first, so a
  // bad option costs no serial and touches no board.
  CImageSession base;
  std::unique_ptr<qrt::production::CSerialCounter> pCounter;
  qrt::production::CProductionLog log;
  qrt::transfer::PRODUCTION_SETTINGS settings;
  if (!PrepareRun(ctx, p, base, pCounter, log) ||
      !TransferSettingsOf(ctx, o, settings.Transfer)) {
    return;
  }
  settings.Lock = LockWaitOf(ctx, o);
  CDeviceSession session(ctx, o);
  if (!session.Open()) return;
  qrt::transfer::PRODUCTION_SHARED shared{base, pCounter.get(), log};
  CProgramRun run(ctx, p, session, shared, settings);
  if (p.bWait) {
    qrt::transfer::RunStation(session.Platform(), session.Simulator(), hooks, run);
  } else {
    // Without --all the board is chosen as for every other command (--path,
    // --device, else the one board of the first pair); --all takes every
    // present board by its path.
    std::vector<BOARD_INFO> vBoards;
    if (p.bAll) {
      BOARD_LIST_OPTIONS options;
      options.bWithFailed = true;
      if (!ListBoards(session.Platform(), options, vBoards)) {
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
    for (const BOARD_INFO& board : vBoards) {
      if (!run.Program(board)) break;
    }
  }
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
