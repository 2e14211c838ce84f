// TMainForm, settings editor: every settings control, ShowSettings, the
// string rules, Reset all and the unlock check boxes.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <algorithm>
#include <cstring>

#include "FieldModel.h"
#include "MainForm.h"
#include "MessageTable.h"
#include "SettingsRules.h"
#include "StrToIntDef.h"
#include "VolumeTables.h"
#include "ui_UMainForm.h"

namespace qrt::app {

namespace {

using image::EFieldId;
using image::Field;

// The hidden headphone power edit shows the code less this offset (-57..6).
constexpr int kPowerEditOffset = 57;

QString FieldEditText(EFieldId eId, const _INTERNAL_OPT& rec) {
  return QString::fromStdString(image::FieldSetValue(Field(eId), rec).szText);
}

bool IsSwitchOn(EFieldId eId, const _INTERNAL_OPT& rec) {
  return image::FieldNumber(Field(eId), rec) == 1;
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
  const auto list = [this](QComboBox* pList, EFieldId eId) {
    connect(pList, &QComboBox::activated, this, [this, eId](int nItem) {
      image::ApplyFieldItem(Field(eId), m_RecInternalOpt, nItem);
    });
  };
  list(u->PlaySettingComboBox, EFieldId::kPlayDevice);
  list(u->RecordSettingComboBox, EFieldId::kRecordDevice);
  list(u->PlayVolumeDefaultComboBox, EFieldId::kPlayVolume);
  list(u->MixVolumeDefaultComboBox, EFieldId::kMixVolume);
  list(u->MaxPowerDefaultGain1ComboBox, EFieldId::kMaxPowerGain1);
  list(u->RecordVolumeDefaultComboBox, EFieldId::kRecordVolume);
  connect(u->IFGainComboBox, &QComboBox::activated, this, &TMainForm::OnGainClick);

  // Check boxes: every change of state, by the user or the program. The
  // label and edit a box switches follow it.
  const auto flag = [this](QCheckBox* pBox, EFieldId eId, QLabel* pLabel,
                           QLineEdit* pEdit = nullptr) {
    connect(pBox, &QCheckBox::toggled, this, [this, eId, pLabel, pEdit](bool bChecked) {
      image::SetFieldNumber(Field(eId), m_RecInternalOpt, bChecked ? 1 : 0);
      if (pLabel) pLabel->setEnabled(bChecked);
      if (pEdit) pEdit->setEnabled(bChecked);
    });
  };
  flag(u->MixMuteCheckBox, EFieldId::kMixMute, u->MixMuteLabel);
  flag(u->EnableMICBoostControlCheckBox, EFieldId::kMicBoostCtrl, u->EnableMICBoostControlLabel);
  flag(u->EnableMICBoostDefaultCheckBox, EFieldId::kMicBoostDefault,
       u->EnableMICBoostDefaultLabel);
  connect(u->EnableMICBoostDefaultCheckBox, &QCheckBox::toggled, this,
          &TMainForm::UpdateRecordVolumeRange);
  flag(u->EnableMICHighPassFilterLCheckBox, EFieldId::kHpfL, u->EnableMICHighPassFilterLLabel);
  flag(u->EnableMICHighPassFilterRCheckBox, EFieldId::kHpfR, nullptr);
  flag(u->EnableMICBoostCheckBox, EFieldId::kMicBoostCtrl, nullptr);
  flag(u->EnableMICBoostCheckBox, EFieldId::kMicBoostDefault, nullptr);
  flag(u->SerialNumbercontrlCheckBox, EFieldId::kSerialCtrl, u->SerialNumberLabel,
       u->SerialNumberEdit);
  flag(u->ProductStringControlCheckBox, EFieldId::kProductCtrl, u->ProductStringLabel,
       u->ProductStringEdit);
  flag(u->ManufactureStringControlCheckBox, EFieldId::kManufacturerCtrl,
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
    OnHiddenVolumeChange(m_pUi->PlayVolumeDefaultEdit, EFieldId::kPlayVolume);
  });
  connect(u->RecordVolumeDefaultEdit, &QLineEdit::textChanged, this, [this] {
    OnHiddenVolumeChange(m_pUi->RecordVolumeDefaultEdit, EFieldId::kRecordVolume);
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

  u->VIDEdit->setText(FieldEditText(EFieldId::kVid, rec));
  u->PIDEdit->setText(FieldEditText(EFieldId::kPid, rec));

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

  u->SerialNumberEdit->setText(FieldEditText(EFieldId::kSerial, rec));
  // Long texts show their beginning.
  for (QLineEdit* pEdit : {u->ProductStringEdit, u->ManufactureStringEdit, u->SerialNumberEdit}) {
    pEdit->setCursorPosition(0);
  }

  const auto showItem = [&rec](QComboBox* pList, EFieldId eId) {
    pList->setCurrentIndex(image::FieldItem(Field(eId), rec));
  };
  showItem(u->PlayVolumeDefaultComboBox, EFieldId::kPlayVolume);
  showItem(u->RecordVolumeDefaultComboBox, EFieldId::kRecordVolume);
  u->MaxPowerDefaultGain1Edit->setText(QString::number(
      static_cast<int>(image::FieldNumber(Field(EFieldId::kMaxPowerGain1), rec)) -
      kPowerEditOffset));
  showItem(u->MaxPowerDefaultGain1ComboBox, EFieldId::kMaxPowerGain1);
  showItem(u->MixVolumeDefaultComboBox, EFieldId::kMixVolume);

  u->EnableMICBoostControlCheckBox->setChecked(IsSwitchOn(EFieldId::kMicBoostCtrl, rec));
  u->EnableMICBoostDefaultCheckBox->setChecked(IsSwitchOn(EFieldId::kMicBoostDefault, rec));
  u->MixMuteCheckBox->setChecked(IsSwitchOn(EFieldId::kMixMute, rec));
  u->EnableMICHighPassFilterRCheckBox->setChecked(IsSwitchOn(EFieldId::kHpfR, rec));
  u->EnableMICHighPassFilterLCheckBox->setChecked(IsSwitchOn(EFieldId::kHpfL, rec));

  // The Headset pairing is shown only: the terminals change when the user
  // picks an item, so an image loaded and saved keeps its header bytes.
  showItem(u->PlaySettingComboBox, EFieldId::kPlayDevice);
  showItem(u->RecordSettingComboBox, EFieldId::kRecordDevice);

  m_nGainA = static_cast<int>(image::FieldNumber(Field(EFieldId::kGainA), rec));
  m_nGainB = static_cast<int>(image::FieldNumber(Field(EFieldId::kGainB), rec));
  m_nGainC = static_cast<int>(image::FieldNumber(Field(EFieldId::kGainC), rec));
  const int nGainItem = editor::FindIfGainItem(m_nGainA, m_nGainB, m_nGainC);
  u->IFGainComboBox->setCurrentIndex(nGainItem < editor::kIfGainItemCount ? nGainItem : -1);
  u->GainTrackBar->setValue(nGainItem);

  const struct {
    QCheckBox* pBox;
    QLineEdit* pEdit;
    EFieldId eId;
  } switched[] = {
      {u->ProductStringControlCheckBox, u->ProductStringEdit, EFieldId::kProductCtrl},
      {u->SerialNumbercontrlCheckBox, u->SerialNumberEdit, EFieldId::kSerialCtrl},
      {u->ManufactureStringControlCheckBox, u->ManufactureStringEdit,
       EFieldId::kManufacturerCtrl}};
  for (const auto& c : switched) {
    c.pBox->setChecked(IsSwitchOn(c.eId, rec));
    c.pEdit->setEnabled(IsSwitchOn(c.eId, rec));
  }

  UpdateRecordVolumeRange();
}

// ----------------------------------------------------------- VID, PID, SN

void TMainForm::OnVIDChange() {
  OnHexFieldChange(m_pUi->VIDEdit, EFieldId::kVid);
}

void TMainForm::OnPIDChange() {
  OnHexFieldChange(m_pUi->PIDEdit, EFieldId::kPid);
}

void TMainForm::OnSerialNumberChange() {
  OnHexFieldChange(m_pUi->SerialNumberEdit, EFieldId::kSerial);
  m_Session.RomDataMgr().SetGenConfig(&m_RecInternalOpt);
}

void TMainForm::OnHexFieldChange(QLineEdit* pEdit, image::EFieldId eId) {
  // An emptied edit stores 0; text the field refuses leaves the record alone.
  const std::string szText = pEdit->text().toStdString();
  image::ApplyFieldText(Field(eId), m_RecInternalOpt, szText.empty() ? "0" : szText);
}

// ----------------------------------------------------------------- strings

void TMainForm::SetWriteButtonsForStringEdit() {
  m_pUi->WriteFileBitBtn->setEnabled(false);
  m_pUi->WriteEEPROMBitBtn->setEnabled(false);
  m_pUi->ChangeStringBitBtn->setEnabled(true);
}

bool TMainForm::TakeStringText(QLineEdit* pEdit, QString& szLastGood) {
  if (m_bRestoringText) return false;
  std::string szBytes;
  if (editor::Utf8ToLatin1(pEdit->text().toStdString(), szBytes)) {
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
  m_pUi->WriteEEPROMBitBtn->setEnabled(!m_bDeviceInUse);  // off while another program has the lock
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
    image::SetFieldNumber(Field(EFieldId::kGainA), m_RecInternalOpt, static_cast<unsigned>(nGainA));
    image::SetFieldNumber(Field(EFieldId::kGainB), m_RecInternalOpt, static_cast<unsigned>(nGainB));
    image::SetFieldNumber(Field(EFieldId::kGainC), m_RecInternalOpt, static_cast<unsigned>(nGainC));
  }
  UpdateRecordVolumeRange();
}

void TMainForm::OnHiddenVolumeChange(QLineEdit* pEdit, image::EFieldId eId) {
  const int nValue = editor::StrToIntDef(pEdit->text().toStdString(), 0);
  if (nValue < 0 || !image::SetFieldNumber(Field(eId), m_RecInternalOpt,
                                           static_cast<unsigned>(nValue))) {
    ShowMessageId(m_Language, MSG_INVALID_VOLUME);
    pEdit->clear();
    image::SetFieldNumber(Field(eId), m_RecInternalOpt, 0);
    return;
  }
}

void TMainForm::OnMaxPowerGain1Change() {
  const int nValue = editor::StrToIntDef(m_pUi->MaxPowerDefaultGain1Edit->text().toStdString(), 0);
  const int nCode = nValue + kPowerEditOffset;
  if (nCode < 0 || !image::SetFieldNumber(Field(EFieldId::kMaxPowerGain1), m_RecInternalOpt,
                                          static_cast<unsigned>(nCode))) {
    ShowMessageId(m_Language, MSG_INVALID_POWER);
    m_pUi->MaxPowerDefaultGain1Edit->clear();  // the empty edit stores 0 + 57
    return;
  }
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
