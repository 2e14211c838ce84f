// TMainForm, EEPROM transfers: the Read EEPROM and Write EEPROM workflows
// over the shared Qt-free procedure. The window adds the size dialog, the
// progress display, the PASS / FAIL result, the boxes and the log files.
#include <QCoreApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>
#include <cstring>
#include <ctime>

#include "Backup.h"
#include "EepromProcedure.h"
#include "ImageFiles.h"
#include "LogManager.h"
#include "MainForm.h"
#include "MessageTable.h"
#include "ReadEEPROMForm.h"
#include "Trace.h"
#include "ui_UMainForm.h"

namespace qrt::app {

// What the procedure reports, turned into widgets, boxes and log files.
class TMainForm::CTransferObserver : public USB42XX_MGR::IEepromObserver {
 public:
  explicit CTransferObserver(TMainForm& form) : m_Form(form) {}

  void OnSelectDeviceFailed() override {
    m_Form.ShowMessageId(m_Form.m_Language, MSG_REPLUG_DEVICE);
  }
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
  void OnDeviceLockWait(uint32_t, const std::string&) override { ProcessPendingMessages(); }

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
  m_pProcedure = std::make_unique<USB42XX_MGR::CEepromProcedure>(*m_pUsbMgr, *m_pObserver);
}

void TMainForm::DestroyTransferObjects() {
  m_pProcedure.reset();
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
    case EStatus::kVerifyFailed: {
      const VERIFY_FAILURE& f = m_VerifyFailure;
      szText = QString::fromUtf8(MessageText(m_Language, MSG_VERIFY_FAILED))
                   .arg(QString::asprintf("%04X", f.dwAddress))
                   .arg(QString::asprintf("%02X", f.btRead))
                   .arg(QString::asprintf("%02X", f.btWritten))
                   .arg(f.nDiffering);
      break;
    }
  }
  m_pUi->StatusLabel->setText(szText);
  m_pUi->StatusLabel->setToolTip(szText);  // in full, should a long holder name cut it
  // The FAIL of a write explains itself where the eye already is.
  m_pUi->WriteEEPROMPercentEdit->setToolTip(m_eStatus == EStatus::kVerifyFailed ? szText
                                                                                : QString());
}

void TMainForm::ShowVerifyFailure(size_t nLength) {
  const int nFirst = m_pProcedure->GetFirstMismatch();
  if (nFirst < 0 || static_cast<size_t>(nFirst) >= nLength) return;
  VERIFY_FAILURE& f = m_VerifyFailure;
  f.dwAddress = static_cast<uint32_t>(nFirst);
  f.btWritten = m_WriteImage[nFirst];
  f.btRead = m_btLoadBuffer[nFirst];
  f.nDiffering = 0;
  for (size_t i = 0; i < nLength; ++i) f.nDiffering += m_WriteImage[i] != m_btLoadBuffer[i];
  SetStatus(EStatus::kVerifyFailed);
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
  USB42XX_MGR::EEPROM_TRANSFER_SETTINGS& s = m_pProcedure->Settings();
  s.m_SelectedVid = m_SelectedVid;
  s.m_SelectedPid = m_SelectedPid;
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
  s.m_dwLockTimeOut = kDeviceLockWaitMs;
  m_bReportId = s.m_bReportId;
  // Without the I2C box the chip gets the default speed (the edit keeps its
  // text).
  if (m_bI2CEnabled == 0) m_dwI2CSpeed = 0x20;
}

int TMainForm::ReadDataFromEEPROM() {
  FillTransferSettings();
  return m_pProcedure->ReadDataFromEEPROM(m_btLoadBuffer, sizeof(m_btLoadBuffer));
}

int TMainForm::WriteDataToEEPROM(const uint8_t* pImage, size_t nImageSize) {
  FillTransferSettings();
  return m_pProcedure->WriteDataToEEPROM(pImage, nImageSize, m_btLoadBuffer,
                                         sizeof(m_btLoadBuffer));
}

std::string TMainForm::PairKey(uint16_t wVID, uint16_t wPID) {
  char sz[16];
  std::snprintf(sz, sizeof(sz), "%.4X:%.4X", wVID, wPID);
  return sz;
}

std::string TMainForm::BoardKey() const {
  const std::string& szPath = m_pUsbMgr->GetSelectedBoard();
  if (!szPath.empty()) return szPath;
  // Unpinned: the one present board of the pair (a transfer with two of
  // them present is refused), so the backup names where it came from.
  for (const auto& board : m_vPresentBoards) {
    if (board.wVID == m_SelectedVid && board.wPID == m_SelectedPid && !board.szPath.empty()) {
      return board.szPath;
    }
  }
  return PairKey(m_SelectedVid, m_SelectedPid);
}

void TMainForm::KeepBackup(const uint8_t* pData, size_t nSize) {
  std::string szFile, szError;
  const bool bSaved = qrt::production::SaveBackup(
      std::string(), qrt::production::DefaultBackupFolder(), std::time(nullptr), m_SelectedVid,
      m_SelectedPid, BoardKey(), pData, nSize, szFile, szError);
  if (m_bLogEnabled != 1) return;
  m_pLogManager->Open(m_pLogManager->MakeLogFileName());
  LogLockNotice();
  m_pLogManager->WriteText(bSaved ? "Backup: " + szFile : "Backup failed: " + szError);
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
    const size_t nRead = m_Session.GetRomSize();
    m_KnownContents[BoardKey()].assign(m_btLoadBuffer, m_btLoadBuffer + nRead);
    KeepBackup(m_btLoadBuffer, nRead);
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
  Ui::TMainForm* u = m_pUi;
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
  std::memset(m_WriteImage, 0xFF, sizeof(m_WriteImage));
  std::memcpy(m_WriteImage, btImage, nSize);

  m_bTransferRunning = true;
  m_pTimer1->stop();
  // Saved before the first byte goes out. A board not read at this size is
  // written without one: reading it first would change the window's timing.
  const std::string szBoard = BoardKey();
  const auto known = m_KnownContents.find(szBoard);
  if (known != m_KnownContents.end() && known->second.size() == nSize)
    KeepBackup(known->second.data(), nSize);
  m_KnownContents.erase(szBoard);
  const int nResult = WriteDataToEEPROM(m_WriteImage, nSize);
  u->ReadEEPROMPercentEdit->clear();
  if (nResult == 0) {
    // Read back in full and compared: the board now holds the image.
    m_KnownContents[szBoard].assign(m_WriteImage, m_WriteImage + nSize);
    ShowResult(u->WriteEEPROMPercentEdit, true);
    u->WriteProgressBar->setValue(0);
  } else {
    ShowResult(u->WriteEEPROMPercentEdit, false);
    // A differing read-back shows no box; the reason goes under the FAIL.
    if (nResult == 2 && m_pProcedure->GetLastCode() == 0)
      ShowVerifyFailure(m_pProcedure->GetTransferLength());
  }
  m_pTimer1->start();
  SetTransferButtons(true);
  EnableSettingControls(true);
  m_bTransferRunning = false;
  FinishTransfer();
}

void TMainForm::FinishTransfer() {
  RestoreDeviceButtons();
  // The lock was taken by another program (found by this transfer or by a
  // search during it): Read and Write wait for the poll to find it free.
  if (m_pProcedure->GetLastCode() == USB42XX_MGR::kDeviceLockNotHad) {
    m_szLockHolder = QString::fromStdString(m_pUsbMgr->DescribeDeviceLockHolder());
    m_bDeviceInUse = true;
  }
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
