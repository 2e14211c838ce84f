// TMainForm, image files and the AGC/IR bank controls: the load and save
// flows over the image session, the accept sequence's window side, the size
// displays.
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QTimer>
#include <cstring>

#include "ImageFiles.h"
#include "MainForm.h"
#include "MessageTable.h"
#include "StrToIntDef.h"
#include "Trace.h"
#include "ui_UMainForm.h"

namespace qrt::app {

namespace {

const char kSaveFilter[] = "BIN files(*.bin)|*.bin|HEX files(*.hex)|*.hex";

}  // namespace

void TMainForm::DumpReadFileSize() const {
  diag::TraceFormat("[DumpReadFileSize] m_dwReadRomSize = %d",
                    static_cast<int>(m_Session.GetReadRomSize()));
}

void TMainForm::ShowFileRomSize(uint32_t dwSize) {
  m_pUi->ReadFileSizeEdit->setText(QString::fromLatin1(qrt::image::EepromTypeText(dwSize)));
}

void TMainForm::ShowEepromRomSize(uint32_t dwSize) {
  m_pUi->ReadRomSizeEdit->setText(QString::fromLatin1(qrt::image::EepromTypeText(dwSize)));
}

bool TMainForm::ApplyLoadedImage(size_t n) {
  const qrt::image::EApplyResult result = m_Session.ApplyLoadedImage(m_btLoadBuffer, n);
  if (result != qrt::image::EApplyResult::kAccepted) {
    ShowMessageId(m_Language, result == qrt::image::EApplyResult::kNoSignature
                                  ? MSG_NOT_QRT_IMAGE
                                  : MSG_LOAD_FILE_FAIL);
    return false;
  }
  // Accepted: only now the AGC/IR display of the previous image is reset.
  ShowSessionInControls();
  diag::TraceFormat("m_bReadAGCFromOutSide = %d", m_Session.ReadAGCFromOutSide());
  return true;
}

void TMainForm::ShowSessionInControls() {
  // The boxes are cleared without their handlers, which would drop the bank
  // the session has just taken.
  {
    const QSignalBlocker agc(m_pUi->AGCIRBankCheckBox);
    const QSignalBlocker ir(m_pUi->IREnableCheckBox);
    m_pUi->AGCIRBankCheckBox->setChecked(false);
    m_pUi->IREnableCheckBox->setChecked(false);
  }
  m_pUi->NECIRGPONUMEdit->setText("0");
  ShowSettings(m_RecInternalOpt);
  m_bAcceptingImage = true;
  ShowAgcIrControls();
  m_bAcceptingImage = false;
}

void TMainForm::LoadFileBitBtnClick() {
  Ui::TMainForm* u = m_pUi;
  // Whatever the load enables, Read and Write stay off while another
  // program holds the device lock.
  const auto keepDeviceInUse = qScopeGuard([u, this] {
    if (!m_bDeviceInUse) return;
    u->ReadEEPROMBitBtn->setEnabled(false);
    u->WriteEEPROMBitBtn->setEnabled(false);
  });
  DumpReadFileSize();
  m_bFilling = 1;
  const FILE_DIALOG_RESULT chosen =
      m_UiServices.OpenFileDialog(this, kImageOpenFilter, QDir::currentPath().left(1023));
  const auto enableButtons = [u] {
    for (QWidget* pButton :
         {u->LoadFileBitBtn, u->ReadEEPROMBitBtn, u->WriteEEPROMBitBtn, u->WriteFileBitBtn}) {
      pButton->setEnabled(true);
    }
  };
  if (!chosen.bAccepted) {
    enableButtons();
    m_bFilling = 0;
    return;
  }
  const std::string szPath = chosen.szPath.toStdString();
  // Read into a scratch buffer so that a refused file leaves the load buffer
  // as it was.
  uint8_t btFile[qrt::image::kRomBufferSize];
  size_t nCount = 0;
  const int nRead =
      qrt::image::ReadImageFile(szPath, btFile, qrt::image::kMaxImageSize, &nCount);
  if (nRead == qrt::image::kReadUnknownType) {
    ShowMessageId(m_Language, MSG_LOAD_FILE_FAIL);
    m_bFilling = 0;
    return;
  }
  if (nRead != qrt::image::kReadOk) {
    enableButtons();
    ShowMessageId(m_Language, MSG_LOAD_FILE_FAIL);
    m_bFilling = 0;
    return;
  }
  m_szFilePath = chosen.szPath;
  std::memset(m_btLoadBuffer, 0xFF, sizeof(m_btLoadBuffer));
  std::memcpy(m_btLoadBuffer, btFile, nCount);
  if (!ApplyLoadedImage(nCount)) {
    m_bFilling = 0;
    return;
  }
  ClearProgress();
  m_bImageFromFile = 1;
  m_Session.SetRomSize(static_cast<uint32_t>(nCount));
  ShowFileRomSize(static_cast<uint32_t>(nCount));
  u->LoadFileEdit->setText(m_szFilePath);
  m_szProductString = u->ProductStringEdit->text();
  m_szManufacturerString = u->ManufactureStringEdit->text();
  m_bFilling = 0;
  u->WriteEEPROMBitBtn->setEnabled(true);
  u->WriteFileBitBtn->setEnabled(true);
  u->ChangeStringBitBtn->setEnabled(false);
  EnableSettingControls(true);
  DumpReadFileSize();
  if (m_Session.BanksBeyondEnd()) ShowMessageId(m_Language, MSG_BANKS_BEYOND_END);
}

void TMainForm::OnWriteFileBitBtnClick() {
  Ui::TMainForm* u = m_pUi;
  u->WriteFileEdit->clear();
  m_pTimer1->stop();
  const QString szName = QString::fromStdString(qrt::image::MakeDefaultFileName(
      m_RecInternalOpt.wVID, m_RecInternalOpt.wPID, m_Session.GetRomSize()));
  const FILE_DIALOG_RESULT chosen =
      m_UiServices.SaveFileDialog(this, kSaveFilter, QDir::currentPath().left(511), szName);
  if (!chosen.bAccepted) {
    m_pTimer1->start();
    return;
  }
  const qrt::image::EImageFileType type = chosen.nFilterIndex == 2
                                              ? qrt::image::EImageFileType::kHex
                                              : qrt::image::EImageFileType::kBin;
  m_szFilePath =
      QString::fromStdString(qrt::image::AppendImageExtension(chosen.szPath.toStdString(), type));

  int nResult = qrt::image::kWriteFailed;
  uint8_t btOut[qrt::image::kMaxImageSize];
  size_t nSize = 0;
  if (m_Session.BuildOutputImage(btOut, &nSize) != qrt::image::EBuildResult::kOk) {
    // The banks do not fit the image size: nothing is written.
    ShowMessageId(m_Language, MSG_BANKS_DO_NOT_FIT);
  } else {
    const auto confirm = [this](const std::string&) {
      return AskMessageId(m_Language, MSG_OVERWRITE_FILE) == kIdOk;
    };
    const std::string szPath = m_szFilePath.toStdString();
    std::string szWhy;
    nResult = type == qrt::image::EImageFileType::kHex
                  ? qrt::image::WriteHexFile(szPath, btOut, nSize, confirm, &szWhy)
                  : qrt::image::WriteBinFile(szPath, btOut, nSize, confirm, &szWhy);
    if (nResult == qrt::image::kWriteFailed) {
      // The message row and why, in the system's words (a read-only file,
      // a full disk), so the user knows what to change.
      m_UiServices.MessageBox(this, m_szMsgCaption,
                              QString::fromUtf8(MessageText(m_Language, MSG_WRITE_FAIL)) + "\n" +
                                  m_szFilePath + ": " + QString::fromLocal8Bit(szWhy.c_str()),
                              false);
    }
  }
  // Only a file that was written is named as saved.
  if (nResult == qrt::image::kWriteOk) {
    u->WriteFileEdit->setText(m_szFilePath);
  } else {
    u->WriteFileEdit->clear();
  }
  m_pTimer1->start();
}

// --------------------------------------------------------------- AGC / IR

void TMainForm::ShowAgcIrControls() {
  const CAgcIrMgr& agc = m_Session.AgcIrMgr();
  if (agc.GetIrEnable() == 1) m_pUi->IREnableCheckBox->setChecked(true);
  // The bank cannot be removed while I2C initialisation banks precede it.
  m_pUi->AGCIRBankCheckBox->setEnabled(m_Session.I2CInitMgr().GetCount() == 0);
  m_pUi->NECIRGPONUMEdit->setText(QString::asprintf("%.1X", agc.GetNecIrGpoNum()));
  if (agc.IsPresent() == 1) m_pUi->AGCIRBankCheckBox->setChecked(true);
}

void TMainForm::AGCIRBankCheckBoxClick() {
  QCheckBox* pBox = m_pUi->AGCIRBankCheckBox;
  if (!pBox->isChecked()) {
    if (!m_Session.RemoveAgcIrBank()) {
      const QSignalBlocker block(pBox);
      pBox->setChecked(true);
    }
    return;
  }
  // Checked by the accept sequence: the bank came with the image; nothing to
  // ask and nothing to reset.
  if (m_bAcceptingImage) return;

  const qrt::image::CCodeSizeOffer offer =
      qrt::image::CheckAgcIrCodeSize(m_Session.GetReadRomSize(), m_Session.GetBankAreaSize());
  if (offer.bNeedsMoreRoom) {
    if (offer.dwOfferedSize == 0) {
      // A 24C16 is the largest part: there is no room to offer.
      ShowMessageId(m_Language, MSG_NO_ROOM_FOR_AGC);
      pBox->setChecked(false);
      return;
    }
    if (AskMessageId(m_Language, MSG_AGC_MORE_SIZE) != kIdOk) {
      pBox->setChecked(false);
      return;
    }
    m_Session.SetRomSize(offer.dwOfferedSize);
    if (m_bImageFromFile == 1) {
      ShowFileRomSize(offer.dwOfferedSize);
    } else {
      ShowEepromRomSize(offer.dwOfferedSize);
    }
  }
  m_Session.AddAgcIrBank();
  // Show what will be written: a new bank has the default IR settings.
  const CAgcIrMgr& agc = m_Session.AgcIrMgr();
  const uint8_t btFilling = m_bFilling;
  m_bFilling = 1;
  m_pUi->IREnableCheckBox->setChecked(agc.GetIrEnable() == 1);
  m_pUi->NECIRGPONUMEdit->setText(QString::asprintf("%.1X", agc.GetNecIrGpoNum()));
  m_bFilling = btFilling;
}

void TMainForm::IREnableCheckBoxClick() {
  m_Session.AgcIrMgr().SetIrEnable(m_pUi->IREnableCheckBox->isChecked() ? 1 : 0);
}

void TMainForm::OnNECIRGPONUMChange() {
  if (m_bFilling) return;
  // Appended, not "$" + string: GCC 12 at -O3 warns falsely (-Wrestrict)
  // about the inlined insert of that operator.
  std::string szText = "$";
  szText += m_pUi->NECIRGPONUMEdit->text().toStdString();
  m_Session.AgcIrMgr().SetNecIrGpoNum(editor::StrToIntDef(szText, 0) & 0x0F);
}

}  // namespace qrt::app
