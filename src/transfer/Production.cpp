#include "Production.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <map>

#include "Backup.h"
#include "ImageFiles.h"
#include "Command.h"
#include "SettingsRules.h"
#include "SyncedFile.h"
#include "platform/HidPlatform.h"
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

namespace {

// Progress and the procedure's log steps go on; its message boxes' texts do
// not (the run says what happened in its own lines).
class CProgressOnly : public IEepromObserver {
 public:
  explicit CProgressOnly(IEepromObserver& next) : m_Next(next) {}
  void OnPlainMessage(const std::string&) override {}
  void OnProgress(EEepromProgress eKind, int nPercent) override {
    m_Next.OnProgress(eKind, nPercent);
  }

 private:
  IEepromObserver& m_Next;
};

// Gives the turn on when the board leaves ProgramBoard without a serial.
class CTurnGuard {
 public:
  explicit CTurnGuard(SERIAL_TURN turn) : m_Turn(turn) {}
  ~CTurnGuard() { Done(); }
  void Wait() {
    if (m_Turn.pTurns != nullptr) m_Turn.pTurns->Wait(m_Turn.nTicket);
  }
  void Done() {
    if (m_Turn.pTurns != nullptr) m_Turn.pTurns->Done(m_Turn.nTicket);
  }

 private:
  SERIAL_TURN m_Turn;
};

// The ids the image carries (what the board enumerates with once written).
void IdsOfImage(const uint8_t* pImage, size_t nSize, uint16_t& wVid, uint16_t& wPid) {
  qrt::image::CImageSession decoded;
  if (decoded.ApplyLoadedImage(pImage, nSize) != qrt::image::EApplyResult::kAccepted) return;
  wVid = decoded.m_RecInternalOpt.wVID;
  wPid = decoded.m_RecInternalOpt.wPID;
}

// The board's facts as a hook sees them.
std::map<std::string, std::string> HookEnvironment(const PRODUCTION_RECORD& record) {
  const auto serial = [](const std::optional<uint64_t>& q) {
    return q ? FormatSerial(*q) : std::string();
  };
  return {{"QRT_PATH", record.szPath},
          {"QRT_USB_SERIAL", record.szUsbSerial},
          {"QRT_STATION", record.szStation},
          {"QRT_OPERATOR", record.szOperator},
          {"QRT_WORK_ORDER", record.szWorkOrder},
          {"QRT_EEPROM", record.szEeprom},
          {"QRT_SERIAL", serial(record.qwSerial)},
          {"QRT_PREVIOUS_SERIAL", serial(record.qwPreviousSerial)},
          {"QRT_RESULT", record.szResult},
          {"QRT_ATTEMPTS", std::to_string(record.nAttempts)},
          {"QRT_IMAGE_SHA256", record.szImageSha256},
          {"QRT_LOG_LINE", ProductionLogLine(record)}};
}

bool RunBeforeHook(const PRODUCTION_SHARED& shared, const PRODUCTION_RECORD& record,
                   std::string& szWhy) {
  const COMMAND_RESULT result =
      RunCommand(shared.vBefore, HookEnvironment(record), shared.nHookTimeOutMs);
  if (result.Succeeded()) return true;
  szWhy = "--before refused the board: " + CommandFailureText(result, shared.nHookTimeOutMs);
  return false;
}

// After the board is done: a failure (the functional test, the label
// printer) fails a board that passed; the output goes in its line.
void RunAfterHook(const PRODUCTION_SHARED& shared, BOARD_STEP& step) {
  PRODUCTION_RECORD& record = step.Record;
  const COMMAND_RESULT result =
      RunCommand(shared.vAfter, HookEnvironment(record), shared.nHookTimeOutMs);
  if (result.Succeeded()) return;
  const std::string szWhy = "--after failed: " + CommandFailureText(result, shared.nHookTimeOutMs);
  record.szNote = record.szNote.empty() ? szWhy : record.szNote + "; " + szWhy;
  if (!step.bPass) return;
  step.bPass = false;
  record.szResult = "fail";
  record.szReason = szWhy;
  step.szNote = szWhy;
}

}  // namespace

std::optional<uint64_t> SerialOfImage(const uint8_t* pImage, size_t nSize) {
  constexpr size_t kHeaderSize = 256;
  qrt::image::CImageSession decoded;
  if (nSize < kHeaderSize ||
      decoded.ApplyLoadedImage(pImage, nSize) != qrt::image::EApplyResult::kAccepted ||
      decoded.m_RecInternalOpt.btSerialNumberCtrl == 0) {
    return std::nullopt;
  }
  uint64_t qwSerial = 0;
  for (const uint8_t bt : decoded.m_RecInternalOpt.btSerialNumber) qwSerial = qwSerial << 8 | bt;
  return qwSerial;
}

BOARD_STEP ProgramBoard(IHidPlatform& platform, const BOARD_INFO& board, PRODUCTION_SHARED& shared,
                        const PRODUCTION_SETTINGS& settings, IEepromObserver& observer,
                        const std::function<void(const WRITE_OUTCOME&)>& fnWriteFailed,
                        SERIAL_TURN turn) {
  const auto start = std::chrono::steady_clock::now();
  CTurnGuard turnGuard(turn);
  BOARD_STEP step;
  PRODUCTION_RECORD& record = step.Record;
  const LINE_FACTS& facts = shared.Facts;
  record.szTime = UtcTimeText();
  record.szStation = facts.szStation;
  record.szOperator = facts.szOperator;
  record.szWorkOrder = facts.szWorkOrder;
  record.szToolVersion = facts.szToolVersion;
  record.szProfile = facts.szProfile;
  record.szGolden = facts.szGolden;
  record.szPath = board.Id.Label();
  record.szUsbSerial = board.Id.szUsbSerial;
  record.wVid = board.Id.wVID;
  record.wPid = board.Id.wPID;
  record.szEeprom = qrt::image::EepromTypeText(shared.Base.GetRomSize());
  std::unique_ptr<CBoardHandle> pBoard;
  if (!board.szProbeFailure.empty()) {
    step.szNote = "chip probe failed: " + board.szProbeFailure;
  } else if (!shared.vBefore.empty() && !RunBeforeHook(shared, record, step.szNote)) {
    // The station's own check said no: the board is not touched.
  } else {
    BOARD_OPEN_RESULT result;
    pBoard = OpenBoard(platform, board.Id, settings.Lock, result);
    if (!pBoard) step.szNote = result.szWhy;
  }
  if (!pBoard) {
    // Its chip did not answer, it left or it is busy: nothing was written,
    // no serial taken; it still gets its line so the log accounts for every
    // board.
    turnGuard.Done();
    step.bUnusable = true;
    record.szResult = "fail";
    record.nCode = -1;
    record.szNote = step.szNote;
    record.szReason = step.szNote;
    record.dElapsedS = SecondsSince(start);
    AppendLine(step, shared.Log);
    return step;
  }
  const uint32_t dwDeviceStartMs = pBoard->Clock().GetTickCount();
  CProgressOnly quiet(observer);
  // Built once without the new serial (the read and the backup take that
  // much), then again with it: the serial goes in the header only.
  qrt::image::CImageSession image = shared.Base;
  uint8_t btImage[qrt::image::kMaxImageSize];
  size_t nSize = 0;
  const EBuildResult eBuild = image.BuildOutputImage(btImage, &nSize);
  USB42XX_MGR::EEPROM_TRANSFER_SETTINGS transfer = settings.Transfer;
  transfer.m_bReportId = pBoard->ReportIdFlag();  // the chip's own report-ID need
  transfer.m_dwRomSize = static_cast<uint32_t>(nSize);
  std::vector<uint8_t> vBefore;
  if (eBuild != EBuildResult::kOk) {
    step.szStop = std::string("cannot build the image: ") + qrt::image::BuildResultText(eBuild);
  } else {
    record.szGoldenSha256 = Sha256Hex(btImage, nSize);
    record.szImageSha256 = record.szGoldenSha256;
    // What the board holds now: the backup, the previous serial, and what
    // every attempt's rollback restores.
    CEepromProcedure reader(*pBoard, quiet);
    reader.Settings() = transfer;
    std::vector<uint8_t> vLoad(CEepromProcedure::kBufferSize, 0xFF);
    const int r = reader.ReadDataFromEEPROM(vLoad.data(), vLoad.size());
    if (r != 0) {
      step.Outcome.eStopped = EWriteStep::kBackupRead;
      step.Outcome.nBackupReadCode = r;
      step.Outcome.nBytes = reader.GetTransferLength();
    } else {
      vBefore.assign(vLoad.begin(), vLoad.begin() + static_cast<std::ptrdiff_t>(nSize));
      record.qwPreviousSerial = SerialOfImage(vBefore.data(), vBefore.size());
    }
  }
  bool bSerialSet = false;
  std::string szRefused;  // the serial source gave none for this board
  for (int nAttempt = 1; step.szStop.empty() && !vBefore.empty(); ++nAttempt) {
    record.nAttempts = nAttempt;
    PROTECTED_WRITE_OPTIONS options;
    options.fnWriteFailed = fnWriteFailed;
    options.pKnownContents = &vBefore;
    // A retry's backup is the first one's bytes: saved again over it, not
    // as a second file.
    options.szBackupFile = step.Outcome.szBackupFile;
    // The serial is taken (and the counter synced) once the backup is saved
    // and before the first byte is written; from there on it is used,
    // whatever happens to this board, and every retry writes the same one.
    // A board whose backup fails costs none.
    options.fnBeforeWrite = [&]() {
      if (bSerialSet) return true;
      std::optional<uint64_t> qwSerial;
      if (shared.eRework == ERework::kKeepSerial && record.qwPreviousSerial) {
        qwSerial = record.qwPreviousSerial;
        record.bRework = true;
      } else if (shared.pSerials != nullptr) {
        turnGuard.Wait();
        uint64_t qwNew = 0;
        std::string szError;
        const ESerialResult e = shared.pSerials->Allocate(qwNew, szError);
        turnGuard.Done();
        if (e == ESerialResult::kRefused) {
          szRefused = szError + "; nothing written";
          return false;
        }
        if (e != ESerialResult::kOk) {
          step.szStop = "serial counter: " + szError + "; nothing written";
          return false;
        }
        qwSerial = qwNew;
      }
      turnGuard.Done();
      bSerialSet = true;
      if (!qwSerial) return true;
      record.qwSerial = qwSerial;
      qrt::editor::ParseSerialNumber(FormatSerial(*qwSerial), image.m_RecInternalOpt.btSerialNumber);
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
    step.Outcome = ProtectedWrite(*pBoard, transfer, quiet, btImage, nSize, options);
    const WRITE_OUTCOME& outcome = step.Outcome;
    const bool bRetry = !outcome.Passed() && outcome.eStopped == EWriteStep::kWrite &&
                        outcome.eRollback == ERollback::kVerified && nAttempt <= shared.nRetries;
    if (!bRetry) break;
    // Rolled back to what the board held: it is written again with the same
    // serial; this attempt gets its own line.
    PRODUCTION_RECORD attempt = record;
    attempt.szResult = "retry";
    attempt.nCode = outcome.Code();
    if (outcome.Write.Compared()) attempt.nMismatchAt = outcome.Write.nMismatchAt;
    attempt.szBackup = outcome.szBackupFile;
    attempt.szReason = StopText(outcome, ELanguage::kEnglish);
    attempt.szNote = RollbackText(outcome, ELanguage::kEnglish);
    attempt.dElapsedS = SecondsSince(start);
    step.vRetries.push_back(attempt);
    std::string szError;
    if (!shared.Log.Append(attempt, szError)) {
      step.szStop = szError + "; the log has no line for board " + record.szPath +
                    "'s attempt " + std::to_string(nAttempt) + "; the run stops";
    }
  }
  const WRITE_OUTCOME& outcome = step.Outcome;
  step.bPass = step.szStop.empty() && outcome.Passed() && !vBefore.empty();
  if (outcome.Write.Compared()) record.nMismatchAt = outcome.Write.nMismatchAt;
  step.szNote = RollbackText(outcome, ELanguage::kEnglish);
  if (outcome.eStopped != EWriteStep::kBackupRead && outcome.eStopped != EWriteStep::kBackupSave &&
      outcome.eStopped != EWriteStep::kBeforeWrite) {
    IdsOfImage(btImage, nSize, record.wVid, record.wPid);
  }
  record.nCode = outcome.Code();
  record.szBackup = outcome.szBackupFile;
  record.szResult = step.bPass                                    ? "pass"
                    : outcome.eRollback == ERollback::kVerified ? "rolled-back"
                                                                  : "fail";
  record.szNote = step.bPass ? "" : step.szNote;
  if (!step.bPass) {
    record.szReason = !step.szStop.empty() ? step.szStop
                      : !szRefused.empty() ? szRefused
                                           : StopText(outcome, ELanguage::kEnglish);
  }
  record.dElapsedS = SecondsSince(start);
  if (settings.bModelledTime) {
    record.dDeviceS =
        static_cast<uint32_t>(pBoard->Clock().GetTickCount() - dwDeviceStartMs) / 1000.0;
  }
  if (!shared.vAfter.empty() && step.szStop.empty()) {
    pBoard.reset();  // the hook may use the board itself (a functional test)
    RunAfterHook(shared, step);
    record.dElapsedS = SecondsSince(start);
  }
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
    ESerialResult e = pCounter->Peek(qwNext, szError);
    if (e == ESerialResult::kOk) e = pCounter->CheckAdvance(szError);
    if (e != ESerialResult::kOk) {
      if (pbCounterMissing != nullptr) *pbCounterMissing = e == ESerialResult::kMissing;
      szError = "serial counter: " + szError + "; no board was touched";
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

std::string DefaultLeaseFile(const std::string& szStation) {
  const std::string szBackups = DefaultBackupFolder();
  if (szBackups.empty()) return {};
  std::string szName = szStation;
  for (char& c : szName) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.') c = '-';
  }
  return FolderOf(szBackups) + "/serial-lease-" + szName + ".txt";
}

std::unique_ptr<CSerialLease> OpenSerialLease(CSerialCounter& counter, const std::string& szFile,
                                              uint64_t nBlock, std::string& szError) {
  if (szFile.empty()) {
    szError = "the station's serial lease has no file (no state folder)";
    return nullptr;
  }
  if (!MakeFolders(FolderOf(szFile), szError)) {
    szError = "the station's serial lease: " + szError;
    return nullptr;
  }
  return std::make_unique<CSerialLease>(counter, szFile, nBlock);
}

std::string LEASE_RETURN::Text() const {
  return std::to_string(qwLast - qwFirst + 1) +
         " leased serial(s) returned unused, never to be used: " + FormatSerial(qwFirst) + "-" +
         FormatSerial(qwLast);
}

bool EndSerialLease(CSerialLease& lease, CProductionLog& log, const std::string& szStation,
                    LEASE_RETURN& returned, std::string& szError) {
  returned = LEASE_RETURN{};
  szError.clear();
  returned.bReturned = lease.ReturnUnused(returned.qwFirst, returned.qwLast, szError);
  if (!returned.bReturned) return szError.empty();
  return log.AppendReturned(szStation, returned.qwFirst, returned.qwLast, szError);
}

void CSerialTurns::Wait(size_t nTicket) {
  std::unique_lock<std::mutex> lock(m_Mutex);
  m_Cv.wait(lock, [&] { return m_nFirstOpen >= nTicket; });
}

void CSerialTurns::Done(size_t nTicket) {
  std::lock_guard<std::mutex> guard(m_Mutex);
  if (m_vDone.size() <= nTicket) m_vDone.resize(nTicket + 1, false);
  m_vDone[nTicket] = true;
  while (m_nFirstOpen < m_vDone.size() && m_vDone[m_nFirstOpen]) ++m_nFirstOpen;
  m_Cv.notify_all();
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
