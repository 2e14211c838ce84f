#include "Production.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "SettingsRules.h"
#include "WriteOutcome.h"

namespace qrt::transfer {

using namespace USB42XX_MGR;
using namespace qrt::production;
using qrt::image::EBuildResult;

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The record's line in the log; a line that cannot be appended stops the run.
void AppendLine(BOARD_STEP& step, CProductionLog& log) {
  std::string szError;
  if (log.Append(step.Record, szError)) return;
  const std::string szSerial = step.Record.qwSerial ? FormatSerial(*step.Record.qwSerial) : "";
  step.szStop = szError + "; the log has no line for board " + step.Record.szPath +
                (szSerial.empty() ? "" : " (serial " + szSerial + ")") + ", " +
                step.Record.szResult + "; the run stops";
}

}  // namespace

BOARD_STEP ProgramBoard(IHidPlatform& platform, const BOARD_INFO& board, PRODUCTION_SHARED& shared,
                        const PRODUCTION_SETTINGS& settings, IEepromObserver& observer,
                        const std::function<void(const WRITE_OUTCOME&)>& fnWriteFailed) {
  const auto start = std::chrono::steady_clock::now();
  BOARD_STEP step;
  PRODUCTION_RECORD& record = step.Record;
  record.szTime = UtcTimeText();
  record.szPath = board.Id.Label();
  record.wVid = board.Id.wVID;
  record.wPid = board.Id.wPID;
  std::unique_ptr<CBoardHandle> pBoard;
  if (!board.szProbeFailure.empty()) {
    step.szNote = "chip probe failed: " + board.szProbeFailure;
  } else {
    BOARD_OPEN_RESULT result;
    pBoard = OpenBoard(platform, board.Id, settings.Lock, result);
    if (!pBoard) step.szNote = result.szWhy;
  }
  if (!pBoard) {
    // Its chip did not answer, it left or it is busy: nothing was written,
    // no serial taken; it still gets its line so the log accounts for every
    // board.
    step.bUnusable = true;
    record.szResult = "fail";
    record.nCode = -1;
    record.szNote = step.szNote;
    record.dElapsedS = SecondsSince(start);
    AppendLine(step, shared.Log);
    return step;
  }
  // Built once without the new serial (the backup reads that much), then
  // again with it: the serial goes in the header only.
  qrt::image::CImageSession image = shared.Base;
  uint8_t btImage[qrt::image::kMaxImageSize];
  size_t nSize = 0;
  const EBuildResult eBuild = image.BuildOutputImage(btImage, &nSize);
  if (eBuild != EBuildResult::kOk) {
    step.szStop = std::string("cannot build the image: ") + qrt::image::BuildResultText(eBuild);
  } else {
    record.szImageSha256 = Sha256Hex(btImage, nSize);
    PROTECTED_WRITE_OPTIONS options;
    options.fnWriteFailed = fnWriteFailed;
    // The serial is taken (and the counter synced) once the backup is saved
    // and before the first byte is written; from there on it is used,
    // whatever happens to this board. A board whose backup fails costs none.
    options.fnBeforeWrite = [&]() {
      if (shared.pCounter == nullptr) return true;
      uint64_t qwSerial = 0;
      std::string szError;
      if (shared.pCounter->Allocate(qwSerial, szError) != ESerialResult::kOk) {
        step.szStop = "serial counter: " + szError + "; nothing written";
        return false;
      }
      record.qwSerial = qwSerial;
      qrt::editor::ParseSerialNumber(FormatSerial(qwSerial), image.m_RecInternalOpt.btSerialNumber);
      image.m_RecInternalOpt.btSerialNumberCtrl = 1;
      size_t nWithSerial = 0;
      if (image.BuildOutputImage(btImage, &nWithSerial) != EBuildResult::kOk ||
          nWithSerial != nSize) {
        step.szStop = "cannot build the image with the serial; nothing written";
        return false;
      }
      record.szImageSha256 = Sha256Hex(btImage, nSize);
      return true;
    };
    USB42XX_MGR::EEPROM_TRANSFER_SETTINGS transfer = settings.Transfer;
    transfer.m_bReportId = pBoard->ReportIdFlag();  // the chip's own report-ID need
    step.Outcome = ProtectedWrite(*pBoard, transfer, observer, btImage, nSize, options);
    step.bPass = step.Outcome.Passed();
    if (step.Outcome.Write.Compared()) record.nMismatchAt = step.Outcome.Write.nMismatchAt;
    step.szNote = RollbackText(step.Outcome, ELanguage::kEnglish);
  }
  const WRITE_OUTCOME& outcome = step.Outcome;
  record.nCode = outcome.Code();
  record.szBackup = outcome.szBackupFile;
  record.szResult = step.bPass                                    ? "pass"
                    : outcome.eRollback == ERollback::kVerified ? "rolled-back"
                                                                  : "fail";
  record.dElapsedS = SecondsSince(start);
  if (step.szStop.empty()) {
    AppendLine(step, shared.Log);
  } else {
    std::string szIgnored;  // the run stops anyway; its reason is the first failure
    shared.Log.Append(record, szIgnored);
  }
  return step;
}

bool PrepareProduction(const qrt::image::CImageSession& base, const PRODUCTION_FILES& files,
                       std::unique_ptr<CSerialCounter>& pCounter, CProductionLog& log,
                       std::string& szError, bool* pbCounterMissing) {
  // The same image for every board but its serial: one that cannot be built
  // (banks beyond the size) stops the run before the first board.
  qrt::image::CImageSession trial = base;
  uint8_t btTrial[qrt::image::kMaxImageSize];
  size_t nTrial = 0;
  const EBuildResult eBuild = trial.BuildOutputImage(btTrial, &nTrial);
  if (eBuild != EBuildResult::kOk) {
    szError = std::string("cannot build the image: ") + qrt::image::BuildResultText(eBuild) +
              "; no board was touched";
    return false;
  }
  if (!files.szSerialFile.empty()) {
    pCounter = std::make_unique<CSerialCounter>(files.szSerialFile);
    if (files.qwSerialStart &&
        pCounter->CreateIfMissing(*files.qwSerialStart, szError) != ESerialResult::kOk) {
      szError = "serial counter: " + szError;
      return false;
    }
    uint64_t qwNext = 0;
    const ESerialResult e = pCounter->Peek(qwNext, szError);
    if (e != ESerialResult::kOk) {
      if (pbCounterMissing != nullptr) *pbCounterMissing = e == ESerialResult::kMissing;
      szError = "serial counter: " + szError;
      return false;
    }
  }
  // A log that takes no line would leave programmed boards and burned
  // serials without a trace: it must take the run's start line first.
  if (!log.Open(files.szLog, szError) || !log.AppendStart(Sha256Hex(btTrial, nTrial), szError)) {
    szError += "; no board was touched";
    return false;
  }
  return true;
}

void CProductionTotals::Add(const BOARD_STEP& step) {
  m_dTotalS += step.Record.dElapsedS;
  (step.bPass ? m_nPassed : m_nFailed) += 1;
  if (step.Record.qwSerial) m_vSerials.push_back(*step.Record.qwSerial);
  m_vSteps.push_back(step);
}

std::string CProductionTotals::SummaryText() const {
  char sz[96];
  std::snprintf(sz, sizeof(sz), "%d passed, %d failed, %zu serial(s) used", m_nPassed, m_nFailed,
                m_vSerials.size());
  std::string szText = sz;
  if (!m_vSerials.empty()) szText += " (" + SerialRangesText(m_vSerials) + ")";
  std::snprintf(sz, sizeof(sz), ", %.2f s", m_dTotalS);
  return szText + sz;
}

std::string SerialRangesText(std::vector<uint64_t> vSerials) {
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

namespace {

// A board as the station tells boards apart: its label, a line break, its
// USB serial string.
std::string StationIdentity(const BOARD_INFO& board) {
  return board.Id.Label() + '\n' + board.Id.szUsbSerial;
}

}  // namespace

std::vector<BOARD_INFO> CStationBoards::TakeNew(const std::vector<BOARD_INFO>& vListed) {
  std::set<std::string> setNow;
  for (const BOARD_INFO& board : vListed) setNow.insert(StationIdentity(board));
  std::erase_if(m_setDone, [&](const std::string& s) { return setNow.count(s) == 0; });
  std::vector<BOARD_INFO> vNew;
  for (const BOARD_INFO& board : vListed) {
    if (m_setDone.insert(StationIdentity(board)).second) vNew.push_back(board);
  }
  return vNew;
}

void CStationBoards::Removed(const std::string& szPath) {
  // The whole path up to the line break: /dev/hidraw1 is not /dev/hidraw10.
  std::erase_if(m_setDone, [&](const std::string& s) { return s.rfind(szPath + '\n', 0) == 0; });
}

}  // namespace qrt::transfer
