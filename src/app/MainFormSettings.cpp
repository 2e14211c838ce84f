// TMainForm, settings editor: every settings control, ShowSettings, the
// string rules, Reset all and the unlock check boxes.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <algorithm>
#include <cstring>

#include "MainForm.h"
#include "MessageTable.h"
#include "SettingsRules.h"
#include "StrToIntDef.h"
#include "VolumeTables.h"
#include "ui_UMainForm.h"

namespace qrt::app {

namespace {

QString HexBytes(const uint8_t* pBytes, int nCount) {
  QString szText;
  for (int i = 0; i < nCount; ++i) szText += QString::asprintf("%.2X", pBytes[i]);
  return szText;
}

// True when every character fits one byte (Latin-1: the byte is the code).
bool IsLatin1(const QString& szText) {
  for (QChar c : szText) {
    if (c.unicode() > 0xFF) return false;
  }
  return true;
}

}  // namespace

void TMainForm::ConnectSettingsHandlers() {
  Ui::TMainForm* u = m_pUi;
  connect(u->VIDEdit, &QLineEdit::textChanged, this, &TMainForm::OnVIDChange);
  connect(u->PIDEdit, &QLineEdit::textChanged, this, &TMainForm::OnPIDChange);
  connect(u->SerialNumberEdit, &QLineEdit::textChanged, this, &TMainForm::OnSerialNumberChange);
  connect(u->ProductStringEdit, &QLineEdit::textChanged, this, &TMainForm::OnProdcuctStringChange);
  connect(u->ManufactureStringEdit, &QLineEdit::textChanged, this,
          &TMainForm::OnManufacturerChange);
  connect(u->ChangeStringBitBtn, &QPushButton::clicked, this, &TMainForm::OnChangeString);
  connect(u->ResetBitBtn, &QPushButton::clicked, this, &TMainForm::ResetBitBtnClick);

  // Lists: user choices only (activated); program selections run nothing.
  connect(u->PlaySettingComboBox, &QComboBox::activated, this,
          [this](int nItem) { editor::SetPlayDevice(m_RecInternalOpt, nItem); });
  connect(u->RecordSettingComboBox, &QComboBox::activated, this,
          [this](int nItem) { editor::SetRecordDevice(m_RecInternalOpt, nItem); });
  connect(u->PlayVolumeDefaultComboBox, &QComboBox::activated, this, [this](int nItem) {
    m_RecInternalOpt.btPlayVolume = static_cast<uint8_t>(editor::VolumeItemToCode(nItem));
  });
  connect(u->MixVolumeDefaultComboBox, &QComboBox::activated, this, [this](int nItem) {
    m_RecInternalOpt.btMixVolume = static_cast<uint8_t>(editor::VolumeItemToCode(nItem));
  });
  connect(u->MaxPowerDefaultGain1ComboBox, &QComboBox::activated, this, [this](int nItem) {
    if (nItem >= 0 && nItem < editor::kVolumeItemCount) {
      m_RecInternalOpt.btMaxPowerGain1 = static_cast<uint8_t>(nItem);
    }
  });
  connect(u->RecordVolumeDefaultComboBox, &QComboBox::activated, this, [this](int nItem) {
    m_RecInternalOpt.btRecordVolume = static_cast<uint8_t>(editor::RecordVolumeItemToCode(nItem));
  });
  connect(u->IFGainComboBox, &QComboBox::activated, this, &TMainForm::OnGainClick);

  // Check boxes: every change of state, by the user or the program.
  const auto flag = [this](QCheckBox* pBox, uint8_t _INTERNAL_OPT::*pField, QLabel* pLabel) {
    connect(pBox, &QCheckBox::toggled, this, [this, pField, pLabel](bool bChecked) {
      m_RecInternalOpt.*pField = bChecked ? 1 : 0;
      if (pLabel) pLabel->setEnabled(bChecked);
    });
  };
  flag(u->MixMuteCheckBox, &_INTERNAL_OPT::btMixMute, u->MixMuteLabel);
  flag(u->EnableMICBoostControlCheckBox, &_INTERNAL_OPT::btMicBoostCtrl,
       u->EnableMICBoostControlLabel);
  flag(u->EnableMICBoostDefaultCheckBox, &_INTERNAL_OPT::btMicBoostDefault,
       u->EnableMICBoostDefaultLabel);
  connect(u->EnableMICBoostDefaultCheckBox, &QCheckBox::toggled, this,
          &TMainForm::UpdateRecordVolumeRange);
  flag(u->EnableMICHighPassFilterLCheckBox, &_INTERNAL_OPT::btHpfLEnable,
       u->EnableMICHighPassFilterLLabel);
  flag(u->EnableMICHighPassFilterRCheckBox, &_INTERNAL_OPT::btHpfREnable, nullptr);
  connect(u->EnableMICBoostCheckBox, &QCheckBox::toggled, this, [this](bool bChecked) {
    m_RecInternalOpt.btMicBoostCtrl = bChecked ? 1 : 0;
    m_RecInternalOpt.btMicBoostDefault = bChecked ? 1 : 0;
  });
  const auto control = [this](QCheckBox* pBox, uint8_t _INTERNAL_OPT::*pField, QLabel* pLabel,
                              QLineEdit* pEdit) {
    connect(pBox, &QCheckBox::toggled, this, [this, pField, pLabel, pEdit](bool bChecked) {
      m_RecInternalOpt.*pField = bChecked ? 1 : 0;
      pLabel->setEnabled(bChecked);
      pEdit->setEnabled(bChecked);
    });
  };
  control(u->SerialNumbercontrlCheckBox, &_INTERNAL_OPT::btSerialNumberCtrl, u->SerialNumberLabel,
          u->SerialNumberEdit);
  control(u->ProductStringControlCheckBox, &_INTERNAL_OPT::btProductStringCtrl,
          u->ProductStringLabel, u->ProductStringEdit);
  control(u->ManufactureStringControlCheckBox, &_INTERNAL_OPT::btManufacturerStringCtrl,
          u->ManufactureStringLabel, u->ManufactureStringEdit);

  // Unlock check boxes: they only enable a label and a list.
  const auto unlock = [this](QCheckBox* pBox, QLabel* pLabel, QWidget* pList) {
    connect(pBox, &QCheckBox::toggled, this,
            [this, pBox, pLabel, pList] { SetUnlockState(pBox, pLabel, pList); });
  };
  unlock(u->PlaySettingCheckBox, u->PlaySettingLabel, u->PlaySettingComboBox);
  unlock(u->RecordSettingCheckBox, u->RecordSettingLabel, u->RecordSettingComboBox);
  unlock(u->PlayVolumeDefaultCheckBox, u->PlayVolumeDefaultLabel, u->PlayVolumeDefaultComboBox);
  unlock(u->MaxPowerDefaultGain1CheckBox, u->MaxPowerDefaultGain1Label,
         u->MaxPowerDefaultGain1ComboBox);
  unlock(u->MixVolumeDefaultCheckBox, u->MixVolumeDefaultLabel, u->MixVolumeDefaultComboBox);
  unlock(u->RecordVolumeDefaultCheckBox, u->RecordVolumeDefaultLabel,
         u->RecordVolumeDefaultComboBox);
  unlock(u->IFGainCheckBox, u->GainLabel, u->IFGainComboBox);

  // Hidden numeric edits.
  connect(u->PlayVolumeDefaultEdit, &QLineEdit::textChanged, this, [this] {
    OnHiddenVolumeChange(m_pUi->PlayVolumeDefaultEdit, &_INTERNAL_OPT::btPlayVolume);
  });
  connect(u->RecordVolumeDefaultEdit, &QLineEdit::textChanged, this, [this] {
    OnHiddenVolumeChange(m_pUi->RecordVolumeDefaultEdit, &_INTERNAL_OPT::btRecordVolume);
  });
  connect(u->MaxPowerDefaultGain1Edit, &QLineEdit::textChanged, this,
          &TMainForm::OnMaxPowerGain1Change);
}

void TMainForm::SetUnlockState(QCheckBox* pCheck, QLabel* pLabel, QWidget* pList) {
  pLabel->setEnabled(pCheck->isChecked());
  pList->setEnabled(pCheck->isChecked());
}

// ------------------------------------------------------------ ShowSettings

void TMainForm::ShowSettings(_INTERNAL_OPT rec) {
  Ui::TMainForm* u = m_pUi;
  if (!qrt::image::HasQrtSignature(rec.btSignature, rec.btConfig1)) return;

  u->VIDEdit->setText(QString::asprintf("%.2X%.2X", rec.btVIDRaw[1], rec.btVIDRaw[0]));
  u->PIDEdit->setText(QString::asprintf("%.2X%.2X", rec.btPIDRaw[1], rec.btPIDRaw[0]));

  // One byte per character both ways, so lengths and text always agree.
  const QString szProduct = QString::fromLatin1(editor::ShownProductText(rec));
  const QString szManufacturer = QString::fromLatin1(editor::ShownManufacturerText(rec));
  u->ProductStringEdit->clear();
  u->ManufactureStringEdit->clear();
  u->ProductStringEdit->setText(szProduct);
  u->ManufactureStringEdit->setText(szManufacturer);
  m_szLastProductText = szProduct;
  m_szLastManufacturerText = szManufacturer;
  m_nProductSize = rec.btProductLen > 0 ? rec.btProductLen - 1 : 0;
  m_nManufacturerSize = rec.btManufacturerLen > 0 ? rec.btManufacturerLen - 1 : 0;

  u->SerialNumberEdit->setText(HexBytes(rec.btSerialNumber, 6));
  // Long texts show their beginning.
  for (QLineEdit* pEdit : {u->ProductStringEdit, u->ManufactureStringEdit, u->SerialNumberEdit}) {
    pEdit->setCursorPosition(0);
  }

  u->PlayVolumeDefaultComboBox->setCurrentIndex(editor::VolumeCodeToItem(rec.btPlayVolume));
  u->RecordVolumeDefaultComboBox->setCurrentIndex(
      editor::RecordVolumeCodeToItem(rec.btRecordVolume, -1));
  u->MaxPowerDefaultGain1Edit->setText(QString::number(int(rec.btMaxPowerGain1) - 57));
  u->MaxPowerDefaultGain1ComboBox->setCurrentIndex(rec.btMaxPowerGain1 < 64 ? rec.btMaxPowerGain1
                                                                            : -1);
  u->MixVolumeDefaultComboBox->setCurrentIndex(editor::VolumeCodeToItem(rec.btMixVolume));

  u->EnableMICBoostControlCheckBox->setChecked(rec.btMicBoostCtrl == 1);
  u->EnableMICBoostDefaultCheckBox->setChecked(rec.btMicBoostDefault == 1);
  u->MixMuteCheckBox->setChecked(rec.btMixMute == 1);

  static constexpr bool kFilterR[4] = {true, true, false, false};
  static constexpr bool kFilterL[4] = {false, true, false, true};
  u->EnableMICHighPassFilterRCheckBox->setChecked(kFilterR[rec.btHpfMode & 3]);
  u->EnableMICHighPassFilterLCheckBox->setChecked(kFilterL[rec.btHpfMode & 3]);

  // The Headset pairing is shown only: the terminals change when the user
  // picks an item, so an image loaded and saved keeps its header bytes.
  const editor::CDeviceItems items = editor::ShownDeviceItems(rec);
  u->PlaySettingComboBox->setCurrentIndex(items.nPlay);
  u->RecordSettingComboBox->setCurrentIndex(items.nRecord);

  m_nGainA = rec.btGainA;
  m_nGainB = rec.btGainB;
  m_nGainC = rec.btGainC;
  const int nGainItem = editor::FindIfGainItem(m_nGainA, m_nGainB, m_nGainC);
  u->IFGainComboBox->setCurrentIndex(nGainItem < editor::kIfGainItemCount ? nGainItem : -1);
  u->GainTrackBar->setValue(nGainItem);

  u->ProductStringControlCheckBox->setChecked(rec.btProductStringCtrl == 1);
  u->ProductStringEdit->setEnabled(rec.btProductStringCtrl == 1);
  u->SerialNumbercontrlCheckBox->setChecked(rec.btSerialNumberCtrl == 1);
  u->SerialNumberEdit->setEnabled(rec.btSerialNumberCtrl == 1);
  u->ManufactureStringControlCheckBox->setChecked(rec.btManufacturerStringCtrl == 1);
  u->ManufactureStringEdit->setEnabled(rec.btManufacturerStringCtrl == 1);

  UpdateRecordVolumeRange();
}

// ----------------------------------------------------------- VID, PID, SN

void TMainForm::OnVIDChange() {
  const std::string szText = m_pUi->VIDEdit->text().toStdString();
  if (!editor::IsHexText(szText)) return;
  uint32_t dwValue = 0;
  editor::ParseHexUInt32(szText, dwValue);  // empty text: 0
  m_RecInternalOpt.wVID = static_cast<uint16_t>(dwValue & 0xFFFF);
}

void TMainForm::OnPIDChange() {
  const std::string szText = m_pUi->PIDEdit->text().toStdString();
  if (!editor::IsHexText(szText)) return;
  uint32_t dwValue = 0;
  editor::ParseHexUInt32(szText, dwValue);
  m_RecInternalOpt.wPID = static_cast<uint16_t>(dwValue & 0xFFFF);
}

void TMainForm::OnSerialNumberChange() {
  uint8_t btSerial[6] = {};
  if (editor::ParseSerialNumber(m_pUi->SerialNumberEdit->text().toStdString(), btSerial)) {
    std::memcpy(m_RecInternalOpt.btSerialNumber, btSerial, sizeof(btSerial));
  }
  m_Session.RomDataMgr().SetGenConfig(&m_RecInternalOpt);
}

// ----------------------------------------------------------------- strings

void TMainForm::SetWriteButtonsForStringEdit() {
  m_pUi->WriteFileBitBtn->setEnabled(false);
  m_pUi->WriteEEPROMBitBtn->setEnabled(false);
  m_pUi->ChangeStringBitBtn->setEnabled(true);
}

bool TMainForm::TakeStringText(QLineEdit* pEdit, QString& szLastGood) {
  if (m_bRestoringText) return false;
  if (IsLatin1(pEdit->text())) {
    szLastGood = pEdit->text();
    return true;
  }
  // A character one byte cannot carry: refuse it and put the text back.
  m_bRestoringText = true;
  const int nCursor = pEdit->cursorPosition();
  pEdit->setText(szLastGood);
  pEdit->setCursorPosition(std::min<int>(nCursor, static_cast<int>(szLastGood.size())));
  m_bRestoringText = false;
  ShowMessageId(m_Language, MSG_INVALID_CHARACTER);
  return false;
}

void TMainForm::PackStringsFromEdits(bool bFromProduct, bool bFromManufacturer) {
  const QByteArray product = m_pUi->ProductStringEdit->text().toLatin1();
  const QByteArray manufacturer = m_pUi->ManufactureStringEdit->text().toLatin1();
  // Over 56 bytes together the record keeps its previous strings; OK
  // refuses such texts with message 59.
  const int nPack =
      editor::PackStrings(m_RecInternalOpt, std::string_view(product.constData(), product.size()),
                          std::string_view(manufacturer.constData(), manufacturer.size()),
                          bFromProduct, bFromManufacturer);
  if (nPack == editor::kPackOk) {
    m_nProductSize = static_cast<int>(product.size());
    m_nManufacturerSize = static_cast<int>(manufacturer.size());
  }
  if (bFromProduct) m_pUi->ProductStringControlCheckBox->setChecked(!product.isEmpty());
  if (bFromManufacturer) {
    m_pUi->ManufactureStringControlCheckBox->setChecked(!manufacturer.isEmpty());
  }
  m_Session.RomDataMgr().SetGenConfig(&m_RecInternalOpt);
}

void TMainForm::OnProdcuctStringChange() {
  if (!TakeStringText(m_pUi->ProductStringEdit, m_szLastProductText)) return;
  SetWriteButtonsForStringEdit();
  if (m_bFilling) return;
  m_szProductString = m_pUi->ProductStringEdit->text();
  PackStringsFromEdits(true, false);
}

void TMainForm::OnManufacturerChange() {
  if (!TakeStringText(m_pUi->ManufactureStringEdit, m_szLastManufacturerText)) return;
  SetWriteButtonsForStringEdit();
  if (m_bFilling) return;
  m_szManufacturerString = m_pUi->ManufactureStringEdit->text();
  PackStringsFromEdits(false, true);
}

void TMainForm::OnChangeString() {
  if (m_bFilling) return;
  const qsizetype nTotal =
      m_pUi->ProductStringEdit->text().size() + m_pUi->ManufactureStringEdit->text().size();
  if (nTotal > static_cast<qsizetype>(editor::kMaxStringBytes)) {
    ShowMessageId(m_Language, MSG_STRINGS_TOO_LONG);
    m_pUi->ProductStringEdit->setText(m_szProductString);
    return;
  }
  m_pUi->WriteFileBitBtn->setEnabled(true);
  m_pUi->WriteEEPROMBitBtn->setEnabled(true);
  m_pUi->ChangeStringBitBtn->setEnabled(false);
  m_szProductString = m_pUi->ProductStringEdit->text();
  // Packing takes both texts (the manufacturer text may have been typed
  // while the pair was too long), but "from product": the manufacturer
  // string's switch stays as the user left it.
  PackStringsFromEdits(true, false);
}

// -------------------------------------------------------------- Reset all

void TMainForm::ResetBitBtnClick() {
  m_bFilling = 1;
  if (AskMessageId(m_Language, MSG_RESET_ALL) != kIdOk) {
    m_bFilling = 0;
    return;
  }
  m_RecInternalOpt = m_RecOriginalOpt;
  ShowSettings(m_RecOriginalOpt);
  m_bFilling = 0;
}

// ------------------------------------------------------------ gain, volume

void TMainForm::OnGainClick() {
  int nGainA = 0, nGainB = 0, nGainC = 0;
  if (editor::GetIfGainStages(m_pUi->IFGainComboBox->currentIndex(), nGainA, nGainB, nGainC)) {
    m_RecInternalOpt.btGainA = static_cast<uint8_t>(nGainA);
    m_RecInternalOpt.btGainB = static_cast<uint8_t>(nGainB);
    m_RecInternalOpt.btGainC = static_cast<uint8_t>(nGainC);
  }
  UpdateRecordVolumeRange();
}

void TMainForm::OnHiddenVolumeChange(QLineEdit* pEdit, uint8_t _INTERNAL_OPT::*pField) {
  const int nValue = editor::StrToIntDef(pEdit->text().toStdString(), 0);
  if (nValue < 0 || nValue > 63) {
    ShowMessageId(m_Language, MSG_INVALID_VOLUME);
    pEdit->clear();
    m_RecInternalOpt.*pField = 0;
    return;
  }
  m_RecInternalOpt.*pField = static_cast<uint8_t>(nValue);
}

void TMainForm::OnMaxPowerGain1Change() {
  const int nValue = editor::StrToIntDef(m_pUi->MaxPowerDefaultGain1Edit->text().toStdString(), 0);
  if (nValue < -57 || nValue > 6) {
    ShowMessageId(m_Language, MSG_INVALID_POWER);
    m_pUi->MaxPowerDefaultGain1Edit->clear();  // the empty edit stores 0 + 57
    return;
  }
  m_RecInternalOpt.btMaxPowerGain1 = static_cast<uint8_t>(nValue + 57);
}

// ------------------------------------------------------- enabling controls

void TMainForm::EnableSettingControls(bool bEnable) {
  Ui::TMainForm* u = m_pUi;
  for (QLineEdit* pEdit : {u->VIDEdit, u->PIDEdit, u->PlayVolumeDefaultEdit,
                           u->RecordVolumeDefaultEdit, u->MaxPowerDefaultGain1Edit,
                           u->SerialNumberEdit, u->ProductStringEdit, u->ManufactureStringEdit}) {
    pEdit->setReadOnly(!bEnable);
    pEdit->setEnabled(bEnable);
  }
  const QList<QWidget*> others = {u->EnableMICBoostCheckBox,
                                  u->EnableMICBoostControlCheckBox,
                                  u->EnableMICBoostDefaultCheckBox,
                                  u->MixMuteCheckBox,
                                  u->EnableMICHighPassFilterRCheckBox,
                                  u->EnableMICHighPassFilterLCheckBox,
                                  u->PlayVolumeDefaultComboBox,
                                  u->MaxPowerDefaultGain1ComboBox,
                                  u->RecordVolumeDefaultComboBox,
                                  u->MixVolumeDefaultComboBox,
                                  u->IFGainComboBox,
                                  u->ReadEEPROMRomSizeComboBox,
                                  u->PlaySettingComboBox,
                                  u->RecordSettingComboBox,
                                  u->GainTrackBar,
                                  u->SerialNumbercontrlCheckBox,
                                  u->ProductStringControlCheckBox,
                                  u->ManufactureStringControlCheckBox,
                                  u->PlaySettingCheckBox,
                                  u->RecordSettingCheckBox,
                                  u->PlayVolumeDefaultCheckBox,
                                  u->MaxPowerDefaultGain1CheckBox,
                                  u->MixVolumeDefaultCheckBox,
                                  u->RecordVolumeDefaultCheckBox,
                                  u->IFGainCheckBox,
                                  u->PlaySettingLabel,
                                  u->RecordSettingLabel,
                                  u->PlayVolumeDefaultLabel,
                                  u->MaxPowerDefaultGain1Label,
                                  u->MixVolumeDefaultLabel,
                                  u->RecordVolumeDefaultLabel,
                                  u->GainLabel,
                                  u->MinRecVolumeLabel,
                                  u->MaxRecVolumeLabel,
                                  u->IREnableCheckBox,
                                  u->NECIRGPONUMEdit};
  for (QWidget* pWidget : others) pWidget->setEnabled(bEnable);
  // The AGC/IR bank cannot be removed while I2C initialisation banks precede
  // it; during a transfer it cannot be touched at all.
  u->AGCIRBankCheckBox->setEnabled(bEnable && m_Session.I2CInitMgr().GetCount() == 0);
  if (!bEnable) {
    for (QWidget* pWidget :
         {static_cast<QWidget*>(u->EnableMICHighPassFilterLLabel),
          static_cast<QWidget*>(u->SerialNumberLabel), static_cast<QWidget*>(u->ProductStringLabel),
          static_cast<QWidget*>(u->ManufactureStringLabel), static_cast<QWidget*>(u->MixMuteLabel),
          static_cast<QWidget*>(u->EnableMICBoostDefaultLabel),
          static_cast<QWidget*>(u->EnableMICBoostControlLabel)}) {
      pWidget->setEnabled(false);
    }
    return;
  }
  SetUnlockState(u->PlaySettingCheckBox, u->PlaySettingLabel, u->PlaySettingComboBox);
  SetUnlockState(u->RecordSettingCheckBox, u->RecordSettingLabel, u->RecordSettingComboBox);
  SetUnlockState(u->PlayVolumeDefaultCheckBox, u->PlayVolumeDefaultLabel,
                 u->PlayVolumeDefaultComboBox);
  SetUnlockState(u->MaxPowerDefaultGain1CheckBox, u->MaxPowerDefaultGain1Label,
                 u->MaxPowerDefaultGain1ComboBox);
  SetUnlockState(u->MixVolumeDefaultCheckBox, u->MixVolumeDefaultLabel,
                 u->MixVolumeDefaultComboBox);
  SetUnlockState(u->RecordVolumeDefaultCheckBox, u->RecordVolumeDefaultLabel,
                 u->RecordVolumeDefaultComboBox);
  SetUnlockState(u->IFGainCheckBox, u->GainLabel, u->IFGainComboBox);
  const struct {
    QCheckBox* pBox;
    QLabel* pLabel;
    QLineEdit* pEdit;
  } controls[] = {
      {u->SerialNumbercontrlCheckBox, u->SerialNumberLabel, u->SerialNumberEdit},
      {u->ProductStringControlCheckBox, u->ProductStringLabel, u->ProductStringEdit},
      {u->ManufactureStringControlCheckBox, u->ManufactureStringLabel, u->ManufactureStringEdit}};
  for (const auto& c : controls) {
    c.pLabel->setEnabled(c.pBox->isChecked());
    c.pEdit->setEnabled(c.pBox->isChecked());
  }
  // The switch captions follow their boxes, also when a newly shown record
  // left a box's state (and so its handler) unchanged.
  u->MixMuteLabel->setEnabled(u->MixMuteCheckBox->isChecked());
  u->EnableMICBoostDefaultLabel->setEnabled(u->EnableMICBoostDefaultCheckBox->isChecked());
  u->EnableMICBoostControlLabel->setEnabled(u->EnableMICBoostControlCheckBox->isChecked());
  u->EnableMICHighPassFilterLLabel->setEnabled(u->EnableMICHighPassFilterLCheckBox->isChecked());
}

}  // namespace qrt::app
