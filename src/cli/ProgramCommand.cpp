// program: the production run over one board or every present board.
#include <chrono>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "DeviceCommands.h"
#include "DeviceSession.h"
#include "ImageFiles.h"
#include "ProductionLog.h"
#include "SerialCounter.h"
#include "SettingsRules.h"

namespace qrt::cli {

using namespace qrt::image;
using namespace USB42XX_MGR;
using json = nlohmann::ordered_json;

namespace {

struct CProgramTotals {
  int nPassed = 0;
  int nFailed = 0;
  int nSerials = 0;
  double dTotalS = 0;
};

// Programs one board and logs it. False when the run must stop (the serial
// counter or the log failed); a failed board is counted, not a reason to stop.
bool ProgramOneBoard(CCliContext& ctx, const CDeviceOptions& o, CDeviceSession& session,
                     CImageSession& base,
                     qrt::production::CSerialCounter* pCounter,
                     qrt::production::CProductionLog& log, CProgramTotals& totals) {
  using namespace qrt::production;
  auto start = std::chrono::steady_clock::now();
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
  // The serial is taken (and the counter synced) before the board is
  // touched; from here on it is used, whatever happens to this board.
  if (pCounter) {
    uint64_t qwSerial = 0;
    std::string szError;
    if (pCounter->Allocate(qwSerial, szError) != ESerialResult::kOk) {
      ctx.Fail("serial counter: " + szError);
      return false;
    }
    record.qwSerial = qwSerial;
    ++totals.nSerials;
    qrt::editor::ParseSerialNumber(FormatSerial(qwSerial), base.m_RecInternalOpt.btSerialNumber);
    base.m_RecInternalOpt.btSerialNumberCtrl = 1;
  }
  EBuildResult eBuild = base.BuildOutputImage(image, &nSize);
  if (eBuild != EBuildResult::kOk) {
    ctx.Fail(std::string("cannot build the image: ") + BuildResultText(eBuild));
    bStop = true;
  } else {
    record.szImageSha256 = Sha256Hex(image, nSize);
    CTransferRun run(ctx, session, report);
    if (run.StartOn(static_cast<uint32_t>(nSize))) {
      bPass = GuardedWrite(ctx, o, run, image, nSize, report, true);
    }
  }
  record.nCode = report.nCode;
  record.szBackup = report.szBackup;
  record.szResult = bPass ? "pass"
                    : report.szRollback.rfind("rolled back", 0) == 0 ? "rolled-back"
                                                                      : "fail";
  record.dElapsedS =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  totals.dTotalS += record.dElapsedS;
  (bPass ? totals.nPassed : totals.nFailed) += 1;
  std::string szError;
  if (!log.Append(record, szError)) {
    ctx.Fail(szError);
    bStop = true;
  }
  char sz[200];
  std::snprintf(sz, sizeof(sz), "%s %s: %s%s%s, %.2f s (total %.2f s)", szPath.c_str(),
                Pair(wVid, wPid).c_str(), record.szResult.c_str(),
                record.qwSerial ? (bPass ? ", serial " : ", burned serial ") : "",
                record.qwSerial ? FormatSerial(*record.qwSerial).c_str() : "", record.dElapsedS,
                totals.dTotalS);
  ctx.out << sz << std::endl;
  return !bStop;
}

}  // namespace

void RunProgram(CCliContext& ctx, const CDeviceOptions& o, const CProgramOptions& p) {
  using namespace qrt::production;
  // Everything that can be checked without a board is checked first, so a
  // bad option costs no serial and touches no board.
  std::vector<uint8_t> buffer(kRomBufferSize, 0xFF);
  long n = ReadImageBytes(ctx, p.szImage, buffer.data(), buffer.size());
  if (n < 0) return;
  CImageSession base;
  EApplyResult eApply = base.ApplyLoadedImage(buffer.data(), static_cast<size_t>(n));
  if (eApply != EApplyResult::kAccepted) {
    ctx.Fail(p.szImage + ": " + ApplyResultText(eApply));
    return;
  }
  base.SetRomSize(static_cast<uint32_t>(n));
  if (!p.szType.empty()) {
    uint32_t dwSize = RomSizeFromEepromType(p.szType);
    if (dwSize == 0) {
      ctx.Fail("--eeprom must be 24C02, 24C04, 24C08 or 24C16, not " + p.szType);
      return;
    }
    base.SetRomSize(dwSize);
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
  CProductionLog log;
  std::string szError;
  if (!log.Open(p.szLog, szError)) {
    ctx.Fail(szError);
    return;
  }
  CDeviceSession session(ctx, o);
  if (!session.Open()) return;
  // Without --all the board is chosen as for every other command (--path,
  // --device, else the one board of the first pair); --all takes every
  // present board by its path.
  std::vector<BOARD_INFO> vBoards;
  if (p.bAll) {
    DEVICE_LIST list;
    if (session.Mgr().Search_Present_Boards(list, &vBoards) != 0) {
      ctx.Fail("the device search failed");
      return;
    }
    if (vBoards.empty()) {
      ctx.Fail("no board present");
      return;
    }
  } else {
    uint16_t wVid = 0;
    uint16_t wPid = 0;
    if (!session.SelectDevice(wVid, wPid)) return;
    vBoards.push_back(session.Board());
  }
  CProgramTotals totals;
  for (const BOARD_INFO& board : vBoards) {
    if (p.bAll && !session.UseBoard(board)) {
      ++totals.nFailed;
      continue;
    }
    if (!ProgramOneBoard(ctx, o, session, base, pCounter.get(), log, totals)) break;
  }
  char sz[160];
  std::snprintf(sz, sizeof(sz), "%d passed, %d failed, %d serial(s) used, %.2f s", totals.nPassed,
                totals.nFailed, totals.nSerials, totals.dTotalS);
  ctx.out << sz << '\n';
  if (totals.nFailed > 0 && ctx.nExitCode == 0) ctx.nExitCode = 1;
}

}  // namespace qrt::cli
