// TMainForm, the image map's side: the button, the settings controls a click
// selects bytes for, and the two images a comparison takes (a file, a fresh
// read of the board), neither of which touches the working image.
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <array>
#include <iterator>

#include "EepromProcedure.h"
#include "ImageFiles.h"
#include "ImageMap.h"
#include "ImageMapForm.h"
#include "MainForm.h"
#include "MessageTable.h"
#include "ReadEEPROMForm.h"
#include "ui_UMainForm.h"

namespace qrt::app {

namespace {

using qrt::image::CImageMap;
using qrt::image::EFieldId;
using qrt::image::EMapArea;

MAP_SELECTION FieldSelection(std::vector<EFieldId> vIds) {
  return [vIds](const CImageMap& map) {
    std::vector<bool> v(map.Size());
    for (EFieldId eId : vIds) {
      const std::vector<bool> vField = map.FieldBytes(qrt::image::Field(eId));
      for (size_t i = 0; i < v.size(); ++i) v[i] = v[i] || vField[i];
    }
    return v;
  };
}

// The AGC/IR bank, or one byte of it (nByte 0-31).
MAP_SELECTION AgcIrSelection(int nByte = -1) {
  return [nByte](const CImageMap& map) {
    std::vector<bool> v = map.BankBytes(EMapArea::kAgcIr, 0);
    if (nByte < 0) return v;
    const auto it = std::find(v.begin(), v.end(), true);
    const size_t nAt = static_cast<size_t>(it - v.begin()) + static_cast<size_t>(nByte);
    std::fill(v.begin(), v.end(), false);
    if (nAt < v.size()) v[nAt] = true;
    return v;
  };
}

}  // namespace

void TMainForm::OnImageMapBitBtnClick() {
  if (m_pImageMapForm == nullptr) {
    m_pImageMapForm = new TImageMapForm(*this);
    // Beside the window, as far as the screen allows.
    const QRect screen = this->screen()->availableGeometry();
    QPoint at = frameGeometry().topRight() + QPoint(8, 0);
    at.setX(std::max(screen.left(), std::min(at.x(), screen.right() - m_pImageMapForm->width())));
    m_pImageMapForm->move(at);
  }
  m_pImageMapForm->show();
  m_pImageMapForm->raise();
  m_pImageMapForm->activateWindow();
}

MAP_SELECTION TMainForm::SettingSelection(QObject* pControl) const {
  const Ui::TMainForm* u = m_pUi;
  struct CONTROL_FIELDS {
    std::vector<QObject*> vControls;
    std::vector<EFieldId> vIds;
  };
  const CONTROL_FIELDS kTable[] = {
      {{u->VIDEdit, u->VIDLabel}, {EFieldId::kVid}},
      {{u->PIDEdit, u->PIDLabel}, {EFieldId::kPid}},
      {{u->SerialNumberEdit, u->SerialNumberLabel}, {EFieldId::kSerial}},
      {{u->SerialNumbercontrlCheckBox}, {EFieldId::kSerialCtrl}},
      {{u->ProductStringEdit, u->ProductStringLabel}, {EFieldId::kProduct}},
      {{u->ProductStringControlCheckBox}, {EFieldId::kProductCtrl}},
      {{u->ManufactureStringEdit, u->ManufactureStringLabel}, {EFieldId::kManufacturer}},
      {{u->ManufactureStringControlCheckBox}, {EFieldId::kManufacturerCtrl}},
      {{u->PlaySettingComboBox, u->PlaySettingLabel, u->PlaySettingCheckBox},
       {EFieldId::kPlayDevice}},
      {{u->RecordSettingComboBox, u->RecordSettingLabel, u->RecordSettingCheckBox},
       {EFieldId::kRecordDevice}},
      {{u->PlayVolumeDefaultComboBox, u->PlayVolumeDefaultLabel, u->PlayVolumeDefaultCheckBox},
       {EFieldId::kPlayVolume}},
      {{u->RecordVolumeDefaultComboBox, u->RecordVolumeDefaultLabel,
        u->RecordVolumeDefaultCheckBox},
       {EFieldId::kRecordVolume}},
      {{u->MixVolumeDefaultComboBox, u->MixVolumeDefaultLabel, u->MixVolumeDefaultCheckBox},
       {EFieldId::kMixVolume}},
      {{u->MaxPowerDefaultGain1ComboBox, u->MaxPowerDefaultGain1Label,
        u->MaxPowerDefaultGain1CheckBox},
       {EFieldId::kMaxPowerGain1}},
      {{u->IFGainComboBox, u->GainLabel, u->IFGainCheckBox},
       {EFieldId::kGainA, EFieldId::kGainB, EFieldId::kGainC}},
      {{u->MixMuteCheckBox, u->MixMuteLabel}, {EFieldId::kMixMute}},
      {{u->EnableMICBoostDefaultCheckBox, u->EnableMICBoostDefaultLabel},
       {EFieldId::kMicBoostDefault}},
      {{u->EnableMICBoostControlCheckBox, u->EnableMICBoostControlLabel},
       {EFieldId::kMicBoostCtrl}},
      {{u->EnableMICHighPassFilterLCheckBox, u->EnableMICHighPassFilterLLabel}, {EFieldId::kHpfL}},
  };
  for (const CONTROL_FIELDS& row : kTable) {
    if (std::find(row.vControls.begin(), row.vControls.end(), pControl) != row.vControls.end())
      return FieldSelection(row.vIds);
  }
  // The two fields of the AGC/IR bank the window edits: byte 30 bit 0 and
  // byte 11 bits 0-3.
  if (pControl == u->AGCIRBankCheckBox) return AgcIrSelection();
  if (pControl == u->IREnableCheckBox) return AgcIrSelection(30);
  if (pControl == u->NECIRGPONUMEdit || pControl == u->NECIRGPONUMLabel) return AgcIrSelection(11);
  return {};
}

bool TMainForm::ChooseImageForCompare(std::vector<uint8_t>& vImage, QString& szName) {
  const FILE_DIALOG_RESULT chosen =
      m_UiServices.OpenFileDialog(this, kImageOpenFilter, QDir::currentPath().left(1023));
  if (!chosen.bAccepted) return false;
  std::vector<uint8_t> vFile(qrt::image::kRomBufferSize, 0xFF);
  size_t nCount = 0;
  if (qrt::image::ReadImageFile(chosen.szPath.toStdString(), vFile.data(),
                                qrt::image::kMaxImageSize, &nCount) != qrt::image::kReadOk) {
    ShowMessageId(m_Language, MSG_LOAD_FILE_FAIL);
    return false;
  }
  vFile.resize(nCount);
  // Refused as a load refuses it.
  qrt::image::CImageSession check;
  const qrt::image::EApplyResult r = check.ApplyLoadedImage(vFile.data(), vFile.size());
  if (r != qrt::image::EApplyResult::kAccepted) {
    ShowMessageId(m_Language, r == qrt::image::EApplyResult::kNoSignature ? MSG_NOT_QRT_IMAGE
                                                                          : MSG_LOAD_FILE_FAIL);
    return false;
  }
  vImage = std::move(vFile);
  szName = QFileInfo(chosen.szPath).fileName();
  return true;
}

bool TMainForm::ReadBoardForCompare(std::vector<uint8_t>& vImage, QString& szBoard,
                                    QString& szWhy) {
  szWhy.clear();
  if (m_bTransferRunning || RefuseTransferWithDuplicates()) return false;
  if (m_DeviceId.Number == 0) {
    ShowMessageId(m_Language, MSG_CONNECT_DEVICE);
    return false;
  }
  for (int i = 0; i < m_DeviceId.Number && i < static_cast<int>(m_vPresentBoards.size()); ++i) {
    if (m_DeviceId.VID[i] == m_SelectedVid && m_DeviceId.PID[i] == m_SelectedPid)
      szBoard = QString::fromStdString(m_vPresentBoards[i].Id.ListLabel(true));
  }
  // The EEPROM type, as Read EEPROM asks for it.
  m_pReadEEPROMForm->SetLanguage(m_Language);
  m_pReadEEPROMForm->SetRomSize(m_Session.GetRomSize());
  if (m_UiServices.ShowModal(m_pReadEEPROMForm) != QDialog::Accepted) return false;
  uint32_t dwSize = qrt::image::kEepromTypes[0].dwSize;
  m_pReadEEPROMForm->GetRomSize(dwSize);

  // A transfer like Read EEPROM's: the buttons off, the poll stopped, the
  // progress in the read row; afterwards every button as it was (a string
  // edit not yet accepted keeps Write off).
  m_bTransferRunning = true;
  QWidget* const pButtons[] = {m_pUi->LoadFileBitBtn, m_pUi->ReadEEPROMBitBtn,
                               m_pUi->WriteEEPROMBitBtn, m_pUi->WriteFileBitBtn,
                               m_pUi->ResetBitBtn};
  std::array<bool, std::size(pButtons)> bWasEnabled{};
  for (size_t i = 0; i < std::size(pButtons); ++i) bWasEnabled[i] = pButtons[i]->isEnabled();
  SetTransferButtons(false);
  ClearProgress();
  m_pTimer1->stop();
  std::vector<uint8_t> vRead(qrt::image::kRomBufferSize, 0xFF);
  FillTransferSettings();
  int nCode = 0;
  const int nResult = ReadSelectedBoard(dwSize, vRead.data(), vRead.size(), nCode);
  m_pUi->ReadWriteProgressBar->setValue(0);
  m_pUi->ReadEEPROMPercentEdit->clear();
  for (size_t i = 0; i < std::size(pButtons); ++i) pButtons[i]->setEnabled(bWasEnabled[i]);
  m_pTimer1->start();
  m_bTransferRunning = false;
  FinishTransfer();
  if (nResult != 0) {
    szWhy = QString::fromUtf8(MessageText(m_Language, MSG_MAP_READ_FAILED))
                .arg(nCode);
    return false;
  }
  vRead.resize(dwSize);
  vImage = std::move(vRead);
  return true;
}

}  // namespace qrt::app
