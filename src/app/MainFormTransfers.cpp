// TMainForm, EEPROM transfers: the Read EEPROM and Write EEPROM workflows
// over the engine: the board opened under its lock, the shared read
// procedure, and the protected write (backup, write, verify, rollback) the
// command line runs too. The window adds the size dialog, the progress
// display, the PASS / FAIL result, the boxes and the log files.
#include <QCoreApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>
#include <cstring>
#include <ctime>

#include "Backup.h"
#include "BoardHandle.h"
#include "EepromProcedure.h"
#include "ImageFiles.h"
#include "LogManager.h"
#include "MainForm.h"
#include "MessageTable.h"
#include "ReadEEPROMForm.h"
#include "Trace.h"
#include "WriteOutcome.h"
#include "ui_UMainForm.h"

namespace qrt::app {

// What the procedure reports, turned into widgets, boxes and log files.
class TMainForm::CTransferObserver : public USB42XX_MGR::IEepromObserver {
 public:
  explicit CTransferObserver(TMainForm& form) : m_Form(form) {}

  void OnPlainMessage(const std::string& szText) override {
    // English in both languages, without the window's title.
    m_Form.m_UiServices.MessageBox(&m_Form, QString(), QString::fromStdString(szText), false);
  }
  void OnProgress(USB42XX_MGR::EEepromProgress eKind, int nPercent) override {
    Ui::TMainForm* u = m_Form.m_pUi;
    switch (eKind) {
      case USB42XX_MGR::EEepromProgress::Read:
        u->ReadWriteProgressBar->setValue(nPercent);
        u->ReadEEPROMPercentEdit->setText(QString::number(nPercent) + "%");
        break;
      case USB42XX_MGR::EEepromProgress::Write:
      case USB42XX_MGR::EEepromProgress::Verify:
        u->WriteProgressBar->setValue(nPercent);
        u->WriteEEPROMPercentEdit->setText(QString::number(nPercent) + "%");
        break;
      case USB42XX_MGR::EEepromProgress::Probe:
        break;
    }
    ProcessPendingMessages();
  }
  void ProcessPendingMessages() override { m_Form.ProcessPendingMessages(); }

  // The log switch is consulted at every step, so switching it off in the
  // middle of a transfer stops the lines; the close always happens.
  void OnLogOpen() override {
    if (!m_Form.m_bLogEnabled) return;
    m_Form.m_pLogManager->Open(m_Form.m_pLogManager->MakeLogFileName());
    m_Form.LogLockNotice();
  }
  void OnLogLine(int nCode, int nValue) override {
    if (m_Form.m_bLogEnabled) m_Form.m_pLogManager->WriteLine(nCode, nValue);
  }
  void OnLogText(const std::string& szText) override {
    if (m_Form.m_bLogEnabled) m_Form.m_pLogManager->WriteText(szText);
  }
  void OnLogClose() override { m_Form.m_pLogManager->Close(); }
  void OnDumpReadData(const uint8_t* pData, size_t nSize) override {
    if (m_Form.m_bLogEnabled) m_Form.m_pLogManager->DumpReadData(pData, nSize);
  }
  void OnDumpCompareData(const uint8_t* pRead, const uint8_t* pWritten, size_t nSize) override {
    if (m_Form.m_bLogEnabled) m_Form.m_pLogManager->DumpCompareData(pRead, pWritten, nSize);
  }

 private:
  TMainForm& m_Form;
};

void TMainForm::CreateTransferObjects() {
  m_pObserver = new CTransferObserver(*this);
}

void TMainForm::DestroyTransferObjects() {
  delete m_pObserver;
  m_pObserver = nullptr;
}

void TMainForm::ProcessPendingMessages() {
  if (m_fnProcessPendingMessages) {
    m_fnProcessPendingMessages();
  } else {
    QCoreApplication::processEvents();
  }
}

void TMainForm::LogLockNotice() {
  const std::string& szNotice = m_pUsbMgr->GetLockNotice();
  if (m_bLockNoticeLogged || szNotice.empty()) return;
  m_pLogManager->WriteText("Device lock: " + szNotice);
  m_bLockNoticeLogged = true;
}

void TMainForm::SetStatus(EStatus eStatus) {
  m_eStatus = eStatus;
  ShowStatus();
}

void TMainForm::ShowStatus() {
  QString szText;
  switch (m_eStatus) {
    case EStatus::kNone:
      break;
    case EStatus::kDeviceInUse:
      szText = QString::fromUtf8(MessageText(m_Language, MSG_DEVICE_IN_USE)).arg(m_szLockHolder);
      break;
    case EStatus::kWriteFailed:
      szText = QString::fromStdString(qrt::transfer::OutcomeText(
          m_LastWriteOutcome, static_cast<qrt::transfer::ELanguage>(m_Language)));
      break;
  }
  m_pUi->StatusLabel->setText(szText);
  m_pUi->StatusLabel->setToolTip(szText);  // in full, should a long text be cut
  // The FAIL of a write explains itself where the eye already is.
  m_pUi->WriteEEPROMPercentEdit->setToolTip(m_eStatus == EStatus::kWriteFailed ? szText
                                                                               : QString());
}

void TMainForm::ShowResult(QLineEdit* pEdit, bool bPass) {
  pEdit->setText(QString::fromUtf8(MessageText(m_Language, bPass ? MSG_PASS : MSG_FAIL)));
  QPalette palette = pEdit->palette();
  palette.setColor(QPalette::Base, bPass ? QColor(0, 255, 0) : QColor(255, 0, 0));
  palette.setColor(QPalette::Text, Qt::black);
  pEdit->setPalette(palette);
}

uint32_t TMainForm::RomSizeFromComboBox() const {
  // The list's items are the EEPROM types in their table's order.
  const int nItem = m_pUi->ReadEEPROMRomSizeComboBox->currentIndex();
  return nItem >= 0 && nItem < qrt::image::kEepromTypeCount ? qrt::image::kEepromTypes[nItem].dwSize
                                                            : qrt::image::kEepromTypes[0].dwSize;
}

void TMainForm::SetTransferButtons(bool bEnable) {
  for (QWidget* pButton : {m_pUi->LoadFileBitBtn, m_pUi->ReadEEPROMBitBtn, m_pUi->WriteEEPROMBitBtn,
                           m_pUi->WriteFileBitBtn, m_pUi->ResetBitBtn}) {
    pButton->setEnabled(bEnable);
  }
}

void TMainForm::FillTransferSettings() {
  USB42XX_MGR::EEPROM_TRANSFER_SETTINGS& s = m_Settings;
  s = USB42XX_MGR::EEPROM_TRANSFER_SETTINGS{};
  s.m_dwRomSize = m_Session.GetRomSize();
  s.m_dwReadTimeOut = m_dwReadTimeOut;
  s.m_dwReadSleepTime = m_dwReadSleepTime;
  s.m_dwWriteTimeOut = m_dwWriteTimeOut;
  s.m_dwWriteSleepTime = m_dwWriteSleepTime;
  s.m_bRWTimeEnabled = m_bRWTimeEnabled == 1;
  s.m_dwI2CSpeed = m_dwI2CSpeed;
  s.m_bI2CEnabled = m_bI2CEnabled == 1;
  s.m_bReportId = m_pUi->ReportIdCheckBox->isChecked() ? 1 : 0;
  s.m_bLogEnabled = m_bLogEnabled == 1;
  m_bReportId = s.m_bReportId;
  // Without the I2C box the chip gets the default speed (the edit keeps its
  // text).
  if (m_bI2CEnabled == 0) m_dwI2CSpeed = 0x20;
}

void TMainForm::SetDeviceLockSleep(std::function<void(uint32_t)> fnSleep) {
  m_fnLockSleep = fnSleep;
  m_pUsbMgr->SetDeviceLockSleep(std::move(fnSleep));
}

USB42XX_MGR::BOARD_ID TMainForm::SelectedBoard() const {
  for (const USB42XX_MGR::BOARD_INFO& board : m_vPresentBoards) {
    if (board.Id.wVID == m_SelectedVid && board.Id.wPID == m_SelectedPid) return board.Id;
  }
  USB42XX_MGR::BOARD_ID id;
  id.wVID = m_SelectedVid;
  id.wPID = m_SelectedPid;
  return id;
}

std::unique_ptr<USB42XX_MGR::CBoardHandle> TMainForm::OpenSelectedBoard() {
  USB42XX_MGR::BOARD_LOCK_WAIT wait;
  wait.dwTimeOutMs = kDeviceLockWaitMs;
  wait.fnSleep = m_fnLockSleep;
  wait.fnWaiting = [this](uint32_t, const std::string&) { ProcessPendingMessages(); };
  USB42XX_MGR::BOARD_OPEN_RESULT result;
  std::unique_ptr<USB42XX_MGR::CBoardHandle> pBoard =
      USB42XX_MGR::OpenBoard(m_Platform, SelectedBoard(), wait, result);
  m_bBoardInUse = result.eResult == USB42XX_MGR::EBoardOpen::kInUse;
  if (m_bBoardInUse) m_szLockHolder = QString::fromStdString(result.szHolder);
  if (!pBoard) {
    diag::Trace(result.szWhy + "\n");
    // English in both languages, as the procedure's own messages.
    m_UiServices.MessageBox(this, QString(), QString::fromStdString(result.szWhy), false);
  }
  return pBoard;
}

int TMainForm::ReadDataFromEEPROM() {
  FillTransferSettings();
  int nCode = 0;
  return ReadSelectedBoard(m_Session.GetRomSize(), m_btLoadBuffer, sizeof(m_btLoadBuffer), nCode);
}

int TMainForm::ReadSelectedBoard(uint32_t dwSize, uint8_t* pBuffer, size_t nBufferSize,
                                 int& nCode) {
  SelectActiveDevice();
  std::unique_ptr<USB42XX_MGR::CBoardHandle> pBoard = OpenSelectedBoard();
  if (!pBoard) {
    // Nothing was read: the buffer holds no bytes of this transfer.
    std::memset(pBuffer, 0xFF, nBufferSize);
    nCode = m_bBoardInUse ? USB42XX_MGR::kDeviceLockNotHad : -1;
    return nCode;
  }
  USB42XX_MGR::CEepromProcedure procedure(*pBoard, *m_pObserver);
  procedure.Settings() = m_Settings;
  procedure.Settings().m_dwRomSize = dwSize;
  const int nResult = procedure.ReadDataFromEEPROM(pBuffer, nBufferSize);
  nCode = nResult == 0 ? 0 : procedure.GetLastCode();
  if (nResult == 0) {
    const size_t nRead = std::min<size_t>(dwSize, nBufferSize);
    m_KnownContents[pBoard->Id().Label()].assign(pBuffer, pBuffer + nRead);
    KeepBackup(pBoard->Id(), pBuffer, nRead);
  }
  return nResult;
}

int TMainForm::WriteDataToEEPROM(const uint8_t* pImage, size_t nImageSize, bool bRollback) {
  FillTransferSettings();
  // A restored backup has its own size, whatever the window's image has.
  m_Settings.m_dwRomSize = static_cast<uint32_t>(nImageSize);
  SelectActiveDevice();
  m_LastWriteOutcome = qrt::transfer::WRITE_OUTCOME{};
  std::unique_ptr<USB42XX_MGR::CBoardHandle> pBoard = OpenSelectedBoard();
  if (!pBoard) return 1;
  // The backup: what this window last read from (or verified on) the board
  // at this size, else a read of its own. Never a write without one.
  const std::string szBoard = pBoard->Id().Label();
  const auto known = m_KnownContents.find(szBoard);
  qrt::transfer::PROTECTED_WRITE_OPTIONS options;
  options.bRollback = bRollback;
  if (known != m_KnownContents.end()) options.pKnownContents = &known->second;
  m_LastWriteOutcome =
      qrt::transfer::ProtectedWrite(*pBoard, m_Settings, *m_pObserver, pImage, nImageSize, options);
  const qrt::transfer::WRITE_OUTCOME& outcome = m_LastWriteOutcome;
  m_KnownContents.erase(szBoard);
  if (!outcome.vReadBack.empty()) {
    std::memcpy(m_btLoadBuffer, outcome.vReadBack.data(),
                std::min(outcome.vReadBack.size(), sizeof(m_btLoadBuffer)));
  }
  LogWriteOutcome();
  if (outcome.Passed()) {
    // Read back in full and compared: the board now holds the image.
    m_KnownContents[szBoard].assign(pImage, pImage + nImageSize);
    return 0;
  }
  // After a failure the next write reads a fresh backup.
  return outcome.eStopped == qrt::transfer::EWriteStep::kWrite ? outcome.Write.nResult : 1;
}

void TMainForm::KeepBackup(const USB42XX_MGR::BOARD_ID& board, const uint8_t* pData,
                           size_t nSize) {
  std::string szFile, szError;
  const bool bSaved = qrt::production::SaveBackup(
      std::string(), qrt::production::DefaultBackupFolder(), std::time(nullptr), board.wVID,
      board.wPID, board.Label(), pData, nSize, szFile, szError);
  if (m_bLogEnabled != 1) return;
  m_pLogManager->Open(m_pLogManager->MakeLogFileName());
  LogLockNotice();
  m_pLogManager->WriteText(bSaved ? "Backup: " + szFile : "Backup failed: " + szError);
  m_pLogManager->Close();
}

void TMainForm::LogWriteOutcome() {
  const qrt::transfer::WRITE_OUTCOME& outcome = m_LastWriteOutcome;
  if (m_bLogEnabled != 1 || (outcome.Passed() && outcome.szBackupFile.empty())) return;
  m_pLogManager->Open(m_pLogManager->MakeLogFileName());
  if (!outcome.szBackupFile.empty()) m_pLogManager->WriteText("Backup: " + outcome.szBackupFile);
  if (!outcome.Passed()) {
    m_pLogManager->WriteText(
        qrt::transfer::OutcomeText(outcome, qrt::transfer::ELanguage::kEnglish));
  }
  m_pLogManager->Close();
}

void TMainForm::OnReadEEPROMBitBtnClick() {
  if (m_bTransferRunning || RefuseTransferWithDuplicates()) return;
  m_bTransferRunning = true;
  Ui::TMainForm* u = m_pUi;
  const int nPreviousSource = m_bImageFromFile;
  m_bImageFromFile = 2;
  DumpReadFileSize();
  m_bFilling = 1;
  SetTransferButtons(false);
  EnableSettingControls(false);
  ClearProgress();
  m_pTimer1->stop();
  u->WriteEEPROMPercentEdit->clear();

  m_pReadEEPROMForm->SetLanguage(m_Language);
  m_pReadEEPROMForm->SetRomSize(m_Session.GetRomSize());
  m_UiServices.ShowModal(m_pReadEEPROMForm);
  int nItemIndex = 0;
  uint32_t dwDialogSize = 256;
  m_pReadEEPROMForm->GetItemIndex(nItemIndex);
  m_pReadEEPROMForm->GetRomSize(dwDialogSize);
  ShowEepromRomSize(dwDialogSize);
  u->ReadEEPROMRomSizeComboBox->setCurrentIndex(nItemIndex);
  u->ReadEEPROMRomSizeComboBox->setEnabled(true);
  // The size read follows the list's item.
  m_Session.SetRomSize(RomSizeFromComboBox());

  const int nResult = ReadDataFromEEPROM();
  u->WriteEEPROMPercentEdit->clear();
  bool bBanksBeyondEnd = false;
  if (nResult == 0) {
    ShowResult(u->ReadEEPROMPercentEdit, true);
    u->ReadWriteProgressBar->setValue(0);
    // Bytes beyond the size read are 0xFF in the load buffer.
    if (ApplyLoadedImage(m_Session.GetRomSize())) {
      bBanksBeyondEnd = m_Session.BanksBeyondEnd();
    } else {
      m_bImageFromFile = nPreviousSource;
    }
  } else {
    ShowResult(u->ReadEEPROMPercentEdit, false);
  }

  EnableSettingControls(true);
  m_pTimer1->start();
  SetTransferButtons(true);
  m_bFilling = 0;
  u->ChangeStringBitBtn->setEnabled(false);
  DumpReadFileSize();
  m_bTransferRunning = false;
  FinishTransfer();
  // Told once the read is over and the controls show what was taken.
  if (bBanksBeyondEnd) ShowMessageId(m_Language, MSG_BANKS_BEYOND_END);
}

void TMainForm::OnWriteEEPROMBitBtnClick() {
  if (m_bTransferRunning || RefuseTransferWithDuplicates()) return;
  SetTransferButtons(false);
  EnableSettingControls(false);
  ClearProgress();

  uint8_t btImage[qrt::image::kMaxImageSize];
  size_t nSize = 0;
  if (m_Session.BuildOutputImage(btImage, &nSize) != qrt::image::EBuildResult::kOk) {
    // The banks do not fit the EEPROM size: nothing is written.
    ShowMessageId(m_Language, MSG_BANKS_DO_NOT_FIT);
    SetTransferButtons(true);
    EnableSettingControls(true);
    RestoreDeviceButtons();
    return;
  }
  RunWrite(btImage, nSize);
  EnableSettingControls(true);
}

void TMainForm::RunWrite(const uint8_t* pImage, size_t nSize, bool bRollback) {
  Ui::TMainForm* u = m_pUi;
  std::memset(m_WriteImage, 0xFF, sizeof(m_WriteImage));
  std::memcpy(m_WriteImage, pImage, std::min(nSize, sizeof(m_WriteImage)));

  m_bTransferRunning = true;
  m_pTimer1->stop();
  const int nResult = WriteDataToEEPROM(m_WriteImage, nSize, bRollback);
  u->ReadEEPROMPercentEdit->clear();
  if (nResult == 0) {
    ShowResult(u->WriteEEPROMPercentEdit, true);
    u->WriteProgressBar->setValue(0);
  } else {
    ShowResult(u->WriteEEPROMPercentEdit, false);
    // No box: what the write left and what the rollback did go under the
    // FAIL and on the status line.
    if (m_LastWriteOutcome.eStopped != qrt::transfer::EWriteStep::kDone) {
      SetStatus(EStatus::kWriteFailed);
    }
  }
  m_pTimer1->start();
  SetTransferButtons(true);
  m_bTransferRunning = false;
  FinishTransfer();
}

void TMainForm::FinishTransfer() {
  RestoreDeviceButtons();
  // The board's lock was held by another program (found by this transfer or
  // by a search during it): Read and Write wait for the poll to find it free.
  if (m_bBoardInUse) m_bDeviceInUse = true;
  m_bBoardInUse = false;
  if (m_bDeviceInUse) EnterDeviceInUse();
}

void TMainForm::RestoreDeviceButtons() {
  // With no device the transfer buttons stay off, also when the device went
  // away during the transfer.
  if (m_DeviceId.Number == 0) {
    m_pUi->ReadEEPROMBitBtn->setEnabled(false);
    m_pUi->WriteEEPROMBitBtn->setEnabled(false);
  }
}

}  // namespace qrt::app
