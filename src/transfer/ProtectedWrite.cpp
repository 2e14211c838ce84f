#include "ProtectedWrite.h"

#include <algorithm>
#include <ctime>

#include "Backup.h"
#include "BoardHandle.h"

namespace qrt::transfer {

using namespace USB42XX_MGR;

namespace {

constexpr const char* kReadOkText = "Load data from EEPROM OK!";

// Passes everything on, but the read's OK while it is hidden.
class CReadOkFilter : public IEepromObserver {
 public:
  explicit CReadOkFilter(IEepromObserver& next) : m_Next(next) {}
  void Hide(bool bHide) { m_bHide = bHide; }

  void OnPlainMessage(const std::string& szText) override {
    if (!(m_bHide && szText == kReadOkText)) m_Next.OnPlainMessage(szText);
  }
  void OnProgress(EEepromProgress eKind, int nPercent) override {
    m_Next.OnProgress(eKind, nPercent);
  }
  void ProcessPendingMessages() override { m_Next.ProcessPendingMessages(); }
  void OnLogOpen() override { m_Next.OnLogOpen(); }
  void OnLogLine(int nCode, int nValue) override { m_Next.OnLogLine(nCode, nValue); }
  void OnLogText(const std::string& szText) override { m_Next.OnLogText(szText); }
  void OnLogClose() override { m_Next.OnLogClose(); }
  void OnDumpReadData(const uint8_t* pData, size_t nSize) override {
    m_Next.OnDumpReadData(pData, nSize);
  }
  void OnDumpCompareData(const uint8_t* pRead, const uint8_t* pWritten, size_t nSize) override {
    m_Next.OnDumpCompareData(pRead, pWritten, nSize);
  }

 private:
  IEepromObserver& m_Next;
  bool m_bHide = false;
};

// What a failed WriteDataToEEPROM left, the load buffer holding its read-back.
TRANSFER_FAILURE FailureOf(const CEepromProcedure& procedure, int nResult, const uint8_t* pImage,
                           const std::vector<uint8_t>& vLoad, size_t nSize) {
  TRANSFER_FAILURE failure;
  failure.nResult = nResult;
  failure.nCode = procedure.GetLastCode();
  failure.State = procedure.GetWriteState();
  if (failure.Compared() && procedure.GetFirstMismatch() >= 0) {
    failure.nMismatchAt = static_cast<size_t>(procedure.GetFirstMismatch());
    failure.btWritten = pImage[failure.nMismatchAt];
    failure.btRead = vLoad[failure.nMismatchAt];
    for (size_t i = 0; i < nSize; ++i) failure.nDiffering += vLoad[i] != pImage[i];
  }
  return failure;
}

}  // namespace

int WRITE_OUTCOME::Code() const {
  if (eStopped == EWriteStep::kBackupRead) return nBackupReadCode;
  if (eStopped == EWriteStep::kWrite) return Write.nCode;
  return 0;
}

WRITE_OUTCOME ProtectedWrite(CBoardHandle& board, const EEPROM_TRANSFER_SETTINGS& settings,
                             IEepromObserver& observer, const uint8_t* pImage, size_t nSize,
                             const PROTECTED_WRITE_OPTIONS& options) {
  WRITE_OUTCOME outcome;
  CReadOkFilter filter(observer);
  CEepromProcedure procedure(board, filter);
  procedure.Settings() = settings;
  procedure.Settings().m_dwRomSize = static_cast<uint32_t>(nSize);
  std::vector<uint8_t> vLoad(CEepromProcedure::kBufferSize, 0xFF);
  std::vector<uint8_t> vBackup;
  if (options.bBackup) {
    if (options.pKnownContents != nullptr && options.pKnownContents->size() == nSize) {
      vBackup = *options.pKnownContents;
    } else {
      filter.Hide(true);
      const int r = procedure.ReadDataFromEEPROM(vLoad.data(), vLoad.size());
      filter.Hide(false);
      outcome.nBytes = procedure.GetTransferLength();
      if (r != 0) {
        outcome.eStopped = EWriteStep::kBackupRead;
        outcome.nBackupReadCode = r;
        return outcome;
      }
      vBackup.assign(vLoad.begin(), vLoad.begin() + static_cast<std::ptrdiff_t>(nSize));
    }
    const BOARD_ID& id = board.Id();
    if (!qrt::production::SaveBackup(options.szBackupFile,
                                     qrt::production::DefaultBackupFolder(), std::time(nullptr),
                                     id.wVID, id.wPID, id.Label(), vBackup.data(), vBackup.size(),
                                     outcome.szBackupFile, outcome.szBackupError)) {
      outcome.szBackupFile.clear();
      outcome.eStopped = EWriteStep::kBackupSave;
      return outcome;
    }
  }
  if (options.fnBeforeWrite && !options.fnBeforeWrite()) {
    outcome.eStopped = EWriteStep::kBeforeWrite;
    return outcome;
  }
  const int r = procedure.WriteDataToEEPROM(pImage, nSize, vLoad.data(), vLoad.size());
  outcome.nBytes = procedure.GetTransferLength();
  outcome.vReadBack = vLoad;
  if (r == 0) return outcome;
  outcome.eStopped = EWriteStep::kWrite;
  outcome.Write = FailureOf(procedure, r, pImage, vLoad, nSize);
  if (options.fnWriteFailed) options.fnWriteFailed(outcome);
  if (vBackup.empty()) return outcome;
  if (!options.bRollback) {
    outcome.eRollback = ERollback::kNotAttempted;
    return outcome;
  }
  outcome.eRollback = ERollback::kVerified;
  const int rBack = procedure.WriteDataToEEPROM(vBackup.data(), vBackup.size(), vLoad.data(),
                                                vLoad.size());
  if (rBack == 0) return outcome;
  outcome.eRollback = ERollback::kFailed;
  outcome.Rollback = FailureOf(procedure, rBack, vBackup.data(), vLoad, nSize);
  return outcome;
}

}  // namespace qrt::transfer
