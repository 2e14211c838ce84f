#include "MainForm.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QPalette>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QTimer>
#include <QTranslator>
#include <QValidator>
#include <cstring>
#include <functional>

#include "DeviceEventNotifier.h"
#include "EepromProcedure.h"
#include "HotKeys.h"
#include "ImageFiles.h"
#include "ImageMapForm.h"
#include "LogManager.h"
#include "MessageTable.h"
#include "ReadEEPROMForm.h"
#include "SettingsRules.h"
#include "StrToIntDef.h"
#include "TextNumbers.h"
#include "Trace.h"
#include "Version.h"
#include "VolumeTables.h"
#include "ui_UMainForm.h"

namespace qrt::app {

namespace {

// Controls whose caption is a table row, in both languages.
struct CAPTION_ROW {
  const char* pszControl;
  int nId;
};

constexpr CAPTION_ROW kCaptionRows[] = {
    {"CompanyLabel", 2},
    {"TelephoneNumber1Label", 3},
    {"TelephoneNumber2Label", 4},
    {"LanguageLabel", 5},
    {"ChinesePanel", 6},
    {"EnglishPanel", 7},
    {"VIDPIDLabel", 8},
    {"LoadFileBitBtn", 9},
    {"ReadEEPROMBitBtn", 10},
    {"ReadEEPROMRomSizeLabel", 11},
    {"SelectCorrectRomSizeLabel", 12},
    {"GenericGroupBox", 13},
    {"VIDLabel", 14},
    {"PIDLabel", 15},
    {"ResetBitBtn", 16},
    {"VolumeConfigGroupBox", 17},
    {"PlayVolumeDefaultLabel", 18},
    {"RecordVolumeDefaultLabel", 19},
    {"MixVolumeDefaultLabel", 20},
    {"MaxPowerDefaultGain1Label", 21},
    {"EnableMICBoostCheckBox", 22},
    {"MixMuteLabel", 23},
    {"EquipmentTypeGroupBox", 24},
    {"PlaySettingLabel", 25},
    {"RecordSettingLabel", 28},
    {"EnableMICHighPassFilterRCheckBox", 31},
    {"EnableMICHighPassFilterLLabel", 32},
    {"SerialNumberLabel", 33},
    {"ProductStringLabel", 34},
    {"ManufactureStringLabel", 35},
    {"WriteFileBitBtn", 36},
    {"WriteEEPROMBitBtn", 37},
    {"EnableMICBoostControlLabel", 62},
    {"EnableMICBoostDefaultLabel", 63},
    {"ReadFileSizeLabel", 65},
    {"GainLabel", 66},
    {"ChangeStringBitBtn", 68},
    {"MaxRecVolumeLabel", 69},
    {"MinRecVolumeLabel", 70},
    {"ImageMapBitBtn", MSG_IMAGE_MAP},
    {"BackupTemplateBitBtn", MSG_BACKUP_TEMPLATE},
    {"RestoreBackupAction", MSG_RESTORE_BACKUP},
    {"ExportTemplateAction", MSG_EXPORT_TEMPLATE},
    {"ApplyTemplateAction", MSG_APPLY_TEMPLATE},
    {"OperatorStationAction", MSG_OPERATOR_STATION},
};

QString TableText(int nLanguage, int nId) {
  const char* pszText = MessageText(nLanguage, nId);
  return pszText ? QString::fromUtf8(pszText) : QString();
}

QString Dec2(uint32_t dwValue) {
  return QString::asprintf("%.2u", dwValue);
}
QString Hex2(uint32_t dwValue) {
  return QString::asprintf("%.2x", dwValue);
}

uint32_t Lengthen(uint32_t dwValue, uint32_t dwTop, uint32_t dwLow, uint32_t dwHigh) {
  if (dwValue >= dwTop) return dwHigh;
  if (dwValue >= dwLow) return dwValue * 2;
  return dwLow;
}

uint32_t Shorten(uint32_t dwValue, uint32_t dwAbove, uint32_t dwTo, uint32_t dwFloor,
                 uint32_t dwMin) {
  if (dwValue > dwAbove) return dwTo;
  if (dwValue > dwFloor) return dwValue / 2;
  return dwMin;
}

// Decimal digits only, with a value in [dwMin, dwMax]; false otherwise.
bool ParseDecimalInRange(const QString& szText, uint32_t dwMin, uint32_t dwMax, uint32_t& dwValue) {
  uint64_t qwValue = 0;
  if (!diag::ParseDecimal(szText.toStdString(), dwMax, qwValue) || qwValue < dwMin) return false;
  dwValue = static_cast<uint32_t>(qwValue);
  return true;
}

// A timing edit holds decimal digits whose value lies in the range a
// transfer accepts. While typing, an empty text or a value below the range
// is tolerated (the member keeps its value); leaving the edit puts the
// member's value back.
class CDecimalRangeValidator : public QValidator {
 public:
  CDecimalRangeValidator(uint32_t dwMin, uint32_t dwMax, std::function<uint32_t()> fnStored,
                         QObject* pParent)
      : QValidator(pParent), m_dwMin(dwMin), m_dwMax(dwMax), m_fnStored(std::move(fnStored)) {}

  State validate(QString& szText, int&) const override {
    if (szText.isEmpty()) return Intermediate;
    uint32_t dwValue = 0;
    if (ParseDecimalInRange(szText, m_dwMin, m_dwMax, dwValue)) return Acceptable;
    // Digits below the range may still grow into it ("0" before "05").
    if (ParseDecimalInRange(szText, 0, m_dwMax, dwValue)) return Intermediate;
    return Invalid;
  }
  void fixup(QString& szText) const override { szText = Dec2(m_fnStored()); }

 private:
  uint32_t m_dwMin;
  uint32_t m_dwMax;
  std::function<uint32_t()> m_fnStored;
};

// Hex digits up to the width the edit stores, typed or pasted.
void SetHexValidator(QLineEdit* pEdit, unsigned nDigits) {
  pEdit->setMaxLength(static_cast<int>(nDigits));
  pEdit->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QString("[0-9A-Fa-f]{0,%1}").arg(nDigits)), pEdit));
}

}  // namespace

TMainForm::TMainForm(IUiServices& uiServices, USB42XX_MGR::IHidPlatform& platform,
                     USB42XX_MGR::IDeviceIdStore& store, const std::string& szLockDir,
                     QWidget* pParent)
    : QWidget(pParent),
      m_RecInternalOpt(m_Session.m_RecInternalOpt),
      m_RecOriginalOpt(m_Session.m_RecOriginalOpt),
      m_pUi(new Ui::TMainForm),
      m_UiServices(uiServices),
      m_Platform(platform) {
  std::memset(m_btLoadBuffer, 0xFF, sizeof(m_btLoadBuffer));
  m_pUi->setupUi(this);
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(797, 679);

  m_pTimer1 = new QTimer(this);
  m_pTimer1->setObjectName("Timer1");
  m_pTimer1->setInterval(4000);

  using image::EFieldId;
  using image::Field;
  using image::FieldHexDigits;
  SetHexValidator(m_pUi->VIDEdit, FieldHexDigits(Field(EFieldId::kVid)));
  SetHexValidator(m_pUi->PIDEdit, FieldHexDigits(Field(EFieldId::kPid)));
  SetHexValidator(m_pUi->SerialNumberEdit, FieldHexDigits(Field(EFieldId::kSerial)));
  SetHexValidator(m_pUi->NECIRGPONUMEdit, 1);
  SetHexValidator(m_pUi->I2CEdit, 2);  // one register byte
  for (QLineEdit* pEdit :
       {m_pUi->VIDEdit, m_pUi->PIDEdit, m_pUi->SerialNumberEdit, m_pUi->NECIRGPONUMEdit,
        m_pUi->I2CEdit, m_pUi->PlayVolumeDefaultEdit, m_pUi->RecordVolumeDefaultEdit,
        m_pUi->MaxPowerDefaultGain1Edit, m_pUi->ReadTimeOutEdit, m_pUi->ReadContinuousEdit,
        m_pUi->WriteTimeOutEdit, m_pUi->WriteContinuousEdit}) {
    pEdit->installEventFilter(this);
  }
  // Before the sizes are reserved: the button's menu arrow takes room.
  CreateBackupMenu();
  ReserveControlSizes();
  ConnectHandlers();
  ConnectSettingsHandlers();
  ConnectDeviceHandlers();

  // A box of the start-up (messages 47, 50, 51) is Chinese like the window
  // and centred where the window will show.
  m_Language = kLanguageChinese;
  m_szMsgCaption = TableText(m_Language, MSG_TITLE);
  ApplyQtTranslation(m_Language);
  if (QScreen* pScreen = QGuiApplication::primaryScreen())
    move(pScreen->availableGeometry().center() - rect().center());

  // The facade comes last among the owned objects; it selects its first
  // device. The window then switches the device-id check off and lists the
  // present devices. Its operations never wait for a lock another program
  // holds (the GUI would freeze): the window takes the lock itself, at once
  // for a search and waiting a little for a transfer.
  m_pLogManager = std::make_unique<qrt::diag::CLogManager>();
  m_pUsbMgr = std::make_unique<USB42XX_MGR::CUsb42xxMgr>(platform, store, szLockDir, 0);
  CreateTransferObjects();
  const EDeviceLock eLock = TryDeviceLock();
  if (eLock == EDeviceLock::kBusy) {
    m_bCheckDeviceIdPending = true;
  } else if (m_pUsbMgr->SetCheckDeviceId(0) != 0) {
    ShowMessageId(m_Language, MSG_SET_CHECK_DEVICE_ID_FAIL);
  }
  RefreshDeviceList();
  ReleaseDeviceLock(eLock);
  m_bImageFromFile = 1;
  // The size dialog is made once, right after the window.
  m_pReadEEPROMForm = new TReadEEPROMForm(this);
  m_pReadEEPROMForm->setObjectName("ReadEEPROMForm");
  RegisterHotKeys();  // FormCreate
}

void TMainForm::ReserveControlSizes() {
  // Each captioned control is as large as its larger caption in either
  // language (Chinese glyphs are taller, English texts mostly wider), so a
  // language switch moves nothing. Runs before any handler is connected.
  for (const CAPTION_ROW& row : kCaptionRows) {
    auto* pControl = findChild<QWidget*>(row.pszControl);
    // A group box's title does not take part in its layout.
    if (!pControl || qobject_cast<QGroupBox*>(pControl)) continue;
    QSize size = pControl->minimumSize();
    for (int nLanguage : {kLanguageChinese, kLanguageEnglish}) {
      SetCaptionText(pControl, TableText(nLanguage, row.nId));
      size = size.expandedTo(pControl->sizeHint());
    }
    pControl->setMinimumSize(size);
  }
  // The status line keeps two lines' room while empty, and no more: what a
  // failed write left (its reason, the rollback, the backup) wraps into the
  // second line; the tooltip has it all.
  int nStatusHeight = 0;
  for (int nLanguage : {kLanguageChinese, kLanguageEnglish}) {
    m_pUi->StatusLabel->setText(TableText(nLanguage, MSG_DEVICE_IN_USE));
    nStatusHeight = std::max(nStatusHeight, m_pUi->StatusLabel->sizeHint().height());
  }
  m_pUi->StatusLabel->clear();
  m_pUi->StatusLabel->setWordWrap(true);
  m_pUi->StatusLabel->setFixedHeight(2 * nStatusHeight);
  // The service row keeps its room while hidden, so revealing it moves no
  // other control.
  for (QWidget* pWidget :
       {static_cast<QWidget*>(m_pUi->LogFileCheckBox),
        static_cast<QWidget*>(m_pUi->EnableRWTimeCheckBox),
        static_cast<QWidget*>(m_pUi->ReadWriteTest1Label),
        static_cast<QWidget*>(m_pUi->ReadTimeOutEdit),
        static_cast<QWidget*>(m_pUi->ReadWriteTest2Label),
        static_cast<QWidget*>(m_pUi->ReadContinuousEdit),
        static_cast<QWidget*>(m_pUi->ReadWriteTest3Label),
        static_cast<QWidget*>(m_pUi->WriteTimeOutEdit),
        static_cast<QWidget*>(m_pUi->ReadWriteTest4Label),
        static_cast<QWidget*>(m_pUi->WriteContinuousEdit),
        static_cast<QWidget*>(m_pUi->EnableI2CCheckBox), static_cast<QWidget*>(m_pUi->I2CEdit)}) {
    QSizePolicy policy = pWidget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    pWidget->setSizePolicy(policy);
  }
}

void TMainForm::RegisterHotKeys() {
  m_pHotKeys = new CHotKeys(this, [this](uint32_t dwVirtualKey) { OnHotKey(dwVirtualKey); });
}

void TMainForm::UnregisterHotKeys() {
  delete m_pHotKeys;
  m_pHotKeys = nullptr;
}

void TMainForm::ReplaceLogManager(std::unique_ptr<qrt::diag::CLogManager> pLogManager) {
  if (!m_bTransferRunning && pLogManager) m_pLogManager = std::move(pLogManager);
}

TMainForm::~TMainForm() {
  // The map watches the application's events and reads this window's
  // controls and image: it goes before any of them.
  delete m_pImageMapForm;
  m_pImageMapForm = nullptr;
  UnregisterHotKeys();  // FormDestroy
  m_pTimer1->stop();
  delete m_pDeviceNotifier;
  m_pDeviceNotifier = nullptr;
  // The owned objects in reverse order of construction.
  DestroyTransferObjects();
  m_pUsbMgr.reset();
  m_pLogManager.reset();
  delete m_pUi;
}

void TMainForm::ConnectHandlers() {
  connect(m_pUi->ChinesePanel, &QPushButton::clicked, this, &TMainForm::OnPanel1Click);
  connect(m_pUi->EnglishPanel, &QPushButton::clicked, this, &TMainForm::OnPanel2Click);
  connect(m_pUi->LogFileCheckBox, &QCheckBox::toggled, this, &TMainForm::OnLogFileCheckBoxClick);
  connect(m_pUi->EnableRWTimeCheckBox, &QCheckBox::toggled, this,
          &TMainForm::OnReadWriteCheckBoxClick);
  connect(m_pUi->EnableI2CCheckBox, &QCheckBox::toggled, this, &TMainForm::OnI2CCheckBoxClick);
  // A timing edit stores only a value a transfer accepts.
  const auto decimal = [this](QLineEdit* pEdit, uint32_t TMainForm::*pMember, uint32_t dwMin,
                              uint32_t dwMax) {
    pEdit->setValidator(new CDecimalRangeValidator(
        dwMin, dwMax, [this, pMember] { return this->*pMember; }, pEdit));
    connect(pEdit, &QLineEdit::textChanged, this,
            [this, pMember, dwMin, dwMax](const QString& szText) {
              ParseDecimalInRange(szText, dwMin, dwMax, this->*pMember);
            });
  };
  using USB42XX_MGR::kMaxTransferDelayMs;
  using USB42XX_MGR::kMaxTransferTimeOutMs;
  using USB42XX_MGR::kMinTransferTimeOutMs;
  decimal(m_pUi->ReadTimeOutEdit, &TMainForm::m_dwReadTimeOut, kMinTransferTimeOutMs,
          kMaxTransferTimeOutMs);
  decimal(m_pUi->ReadContinuousEdit, &TMainForm::m_dwReadSleepTime, 0, kMaxTransferDelayMs);
  decimal(m_pUi->WriteTimeOutEdit, &TMainForm::m_dwWriteTimeOut, kMinTransferTimeOutMs,
          kMaxTransferTimeOutMs);
  decimal(m_pUi->WriteContinuousEdit, &TMainForm::m_dwWriteSleepTime, 0, kMaxTransferDelayMs);
  connect(m_pUi->I2CEdit, &QLineEdit::textChanged, this, &TMainForm::OnI2CChange);
  connect(m_pUi->LoadFileBitBtn, &QPushButton::clicked, this, &TMainForm::LoadFileBitBtnClick);
  connect(m_pUi->ReadEEPROMBitBtn, &QPushButton::clicked, this,
          &TMainForm::OnReadEEPROMBitBtnClick);
  connect(m_pUi->WriteEEPROMBitBtn, &QPushButton::clicked, this,
          &TMainForm::OnWriteEEPROMBitBtnClick);
  connect(m_pUi->WriteFileBitBtn, &QPushButton::clicked, this, &TMainForm::OnWriteFileBitBtnClick);
  connect(m_pUi->AGCIRBankCheckBox, &QCheckBox::toggled, this, &TMainForm::AGCIRBankCheckBoxClick);
  connect(m_pUi->IREnableCheckBox, &QCheckBox::toggled, this, &TMainForm::IREnableCheckBoxClick);
  connect(m_pUi->NECIRGPONUMEdit, &QLineEdit::textChanged, this, &TMainForm::OnNECIRGPONUMChange);
  connect(m_pUi->ImageMapBitBtn, &QPushButton::clicked, this, &TMainForm::OnImageMapBitBtnClick);
}

void TMainForm::showEvent(QShowEvent* pEvent) {
  QWidget::showEvent(pEvent);
  if (!m_bShown) {
    m_bShown = true;
    FormShow();
  }
}

void TMainForm::FormShow() {
  m_pUi->ChangeStringBitBtn->setEnabled(false);
  m_bFilling = 1;
  m_Language = kLanguageChinese;
  OnPanel1Click();  // texts, caption
  ShowFileRomSize(256);
  ShowEepromRomSize(256);
  m_Session.SetRomSize(256);
  m_szProductString.clear();
  m_szManufacturerString.clear();
  FillVolumeItems();
  // The session holds the built-in default image and both records already.
  m_szProductString = m_pUi->ProductStringEdit->text();
  m_szManufacturerString = m_pUi->ManufactureStringEdit->text();
  m_pUi->ReadEEPROMRomSizeComboBox->setEnabled(false);
  EnableSettingControls(false);

  const int nResult =
      m_pUsbMgr->SetDeviceChange([this](uint16_t wVID, uint16_t wPID, USB42XX_MGR::WINDOW_HANDLE hWnd,
                                        uint32_t uMessage, uintptr_t wParam, intptr_t lParam) {
        return OnDeviceChangeEx(wVID, wPID, hWnd, uMessage, wParam, lParam);
      });
  if (nResult != 0) {
    ShowMessageId(m_Language, MSG_SET_DEVICE_CHANGE_FAIL);
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    return;
  }
  m_pDeviceNotifier = WatchDeviceEvents(m_pUsbMgr->GetDeviceEventHandle(), this,
                                        [this] { m_pUsbMgr->DispatchDeviceEvents(); });

  m_bFilling = 0;
  TestFillGainNew();
  ShowSettings(m_RecInternalOpt);
  diag::TraceFormat("[TMainForm::FormShow] m_DeviceId.Number = %d", m_DeviceId.Number);
  m_pUi->WriteFileBitBtn->setEnabled(false);
  m_pUi->WriteEEPROMBitBtn->setEnabled(false);
  m_pUi->ChangeStringBitBtn->setEnabled(false);
  InitDiagnostics();
}

// ---------------------------------------------------------------- messages

void TMainForm::ShowMessageId(int nLanguage, int nId) {
  const char* pszText = MessageText(nLanguage, nId);
  if (!pszText) return;
  m_UiServices.MessageBox(this, m_szMsgCaption, QString::fromUtf8(pszText), false);
}

int TMainForm::AskMessageId(int nLanguage, int nId) {
  const char* pszText = MessageText(nLanguage, nId);
  if (!pszText) return 0;
  return m_UiServices.MessageBox(this, m_szMsgCaption, QString::fromUtf8(pszText), true);
}

// --------------------------------------------------------------- languages

void TMainForm::OnPanel1Click() {
  QPalette chinese = m_pUi->ChinesePanel->palette();
  QPalette english = m_pUi->EnglishPanel->palette();
  chinese.setColor(QPalette::Button, palette().color(QPalette::Dark));
  english.setColor(QPalette::Button, palette().color(QPalette::Button));
  m_pUi->ChinesePanel->setPalette(chinese);
  m_pUi->EnglishPanel->setPalette(english);
  ApplyChineseTexts();
}

void TMainForm::OnPanel2Click() {
  QPalette chinese = m_pUi->ChinesePanel->palette();
  QPalette english = m_pUi->EnglishPanel->palette();
  english.setColor(QPalette::Button, palette().color(QPalette::Dark));
  chinese.setColor(QPalette::Button, palette().color(QPalette::Button));
  m_pUi->ChinesePanel->setPalette(chinese);
  m_pUi->EnglishPanel->setPalette(english);
  ApplyEnglishTexts();
}

void TMainForm::ApplyChineseTexts() {
  ApplyTexts(kLanguageChinese);
}
void TMainForm::ApplyEnglishTexts() {
  ApplyTexts(kLanguageEnglish);
}

void TMainForm::SetCaptionText(QObject* pControl, const QString& szText) {
  if (auto* pLabel = qobject_cast<QLabel*>(pControl)) {
    // A label shows the text as it stands; "&&" stands for one ampersand.
    QString szShown = szText;
    pLabel->setText(szShown.replace("&&", "&"));
  } else if (auto* pButton = qobject_cast<QAbstractButton*>(pControl)) {
    pButton->setText(szText);  // buttons show "&&" as "&" themselves
  } else if (auto* pGroup = qobject_cast<QGroupBox*>(pControl)) {
    pGroup->setTitle(szText);
  } else if (auto* pAction = qobject_cast<QAction*>(pControl)) {
    pAction->setText(szText);
  }
}

void TMainForm::ApplyTexts(int nLanguage) {
  m_Language = nLanguage;
  for (const CAPTION_ROW& row : kCaptionRows) {
    if (QObject* pControl = findChild<QObject*>(row.pszControl)) {
      SetCaptionText(pControl, TableText(nLanguage, row.nId));
    }
  }
  RefillDeviceTypeLists(nLanguage);
  ApplyQtTranslation(nLanguage);

  // English keeps the long check-box caption at the top of its row.
  m_pUi->EnableMICBoostControlLabel->setAlignment(
      nLanguage == kLanguageEnglish ? (Qt::AlignLeft | Qt::AlignTop)
                                    : m_pUi->EnableMICBoostControlLabel->alignment());

  QString szTitle, szPrefix, szVersion;
  BuildCaption(szTitle, szPrefix, szVersion);
  m_szCaption = szTitle;
  m_szMsgCaption = szPrefix;
  setWindowTitle(szTitle);

  TranslateResultText(m_pUi->ReadEEPROMPercentEdit, nLanguage);
  TranslateResultText(m_pUi->WriteEEPROMPercentEdit, nLanguage);
  ShowStatus();
  if (m_pImageMapForm) m_pImageMapForm->ApplyTexts(nLanguage);
}

void TMainForm::RefillDeviceTypeLists(int nLanguage) {
  // A language switch changes the texts, never the choice: the lists keep
  // the items they show (ShowSettings may show the Headset pairing, which
  // the record's digits alone do not give). Program-set selections run no
  // handler, so the record is not touched here.
  for (QComboBox* pList : {m_pUi->PlaySettingComboBox, m_pUi->RecordSettingComboBox}) {
    const int nItem = pList->currentIndex();
    const bool bPlay = pList == m_pUi->PlaySettingComboBox;
    pList->clear();
    pList->addItems({TableText(nLanguage, bPlay ? 27 : 29), TableText(nLanguage, 26),
                     TableText(nLanguage, bPlay ? 64 : 30)});
    pList->setCurrentIndex(nItem);
  }
}

void TMainForm::ApplyQtTranslation(int nLanguage) {
  if (nLanguage != kLanguageChinese) {
    if (m_bQtTranslatorInstalled) QCoreApplication::removeTranslator(m_pQtTranslator);
    m_bQtTranslatorInstalled = false;
    return;
  }
  if (m_bQtTranslatorInstalled) return;
  if (!m_pQtTranslator) {
    m_pQtTranslator = new QTranslator(this);
    const QString szFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!m_pQtTranslator->load(QStringLiteral("qtbase_zh_CN"), szFolder)) {
      // Without the catalogue Qt's own buttons stay English; nothing else
      // depends on it.
      diag::TraceFormat("qtbase_zh_CN not found in %s", szFolder.toLocal8Bit().constData());
    }
  }
  if (!m_pQtTranslator->isEmpty()) {
    m_bQtTranslatorInstalled = QCoreApplication::installTranslator(m_pQtTranslator);
  }
}

void TMainForm::TranslateResultText(QLineEdit* pEdit, int nLanguage) {
  const int nOther = nLanguage == kLanguageEnglish ? kLanguageChinese : kLanguageEnglish;
  for (int nId : {MSG_PASS, MSG_FAIL}) {
    if (pEdit->text() == TableText(nOther, nId)) {
      pEdit->setText(TableText(nLanguage, nId));
      return;
    }
  }
}

void TMainForm::BuildCaption(QString& szTitle, QString& szPrefix, QString& szVersion) const {
  szPrefix = TableText(m_Language, MSG_TITLE);
  szVersion = QString::fromLatin1(kProgramVersion);
  szTitle = szPrefix + "V" + szVersion;
}

// ------------------------------------------------------------ volume lists

void TMainForm::FillVolumeItems() {
  const auto fill = [](QComboBox* pList, image::EFieldId eId) {
    const image::FIELD_DEF& def = image::Field(eId);
    QStringList items;
    for (int i = 0; i < image::FieldItemCount(def); ++i) {
      items << QString::fromStdString(image::FieldItemText(def, i));
    }
    pList->clear();
    pList->addItems(items);
  };
  fill(m_pUi->PlayVolumeDefaultComboBox, image::EFieldId::kPlayVolume);
  fill(m_pUi->RecordVolumeDefaultComboBox, image::EFieldId::kRecordVolume);
  fill(m_pUi->MaxPowerDefaultGain1ComboBox, image::EFieldId::kMaxPowerGain1);
  fill(m_pUi->MixVolumeDefaultComboBox, image::EFieldId::kMixVolume);
}

void TMainForm::TestFillGainNew() {
  m_pUi->IFGainComboBox->clear();
  for (int i = 0; i < editor::kIfGainItemCount; ++i) {
    m_pUi->IFGainComboBox->addItem(QString::fromStdString(editor::IfGainItemText(i)));
  }
}

void TMainForm::UpdateRecordVolumeRange() {
  const editor::RECORD_VOLUME_RANGE range = editor::ComputeRecordVolumeRange(
      m_pUi->IFGainComboBox->currentIndex(), m_pUi->EnableMICBoostDefaultCheckBox->isChecked());
  m_pUi->MaxEdit->setText(QString::fromStdString(range.szMax));
  m_pUi->MinEdit->setText(QString::fromStdString(range.szMin));
}

// ------------------------------------------------------------- key filters

bool TMainForm::eventFilter(QObject* pWatched, QEvent* pEvent) {
  if (pEvent->type() == QEvent::KeyPress) {
    auto* pKey = static_cast<QKeyEvent*>(pEvent);
    bool bAccept = true;
    if (pWatched == m_pUi->VIDEdit || pWatched == m_pUi->PIDEdit ||
        pWatched == m_pUi->SerialNumberEdit || pWatched == m_pUi->NECIRGPONUMEdit ||
        pWatched == m_pUi->I2CEdit) {
      bAccept = OnKeyPress(pKey->key(), pKey->text());
    } else if (pWatched == m_pUi->ReadTimeOutEdit || pWatched == m_pUi->ReadContinuousEdit ||
               pWatched == m_pUi->WriteTimeOutEdit || pWatched == m_pUi->WriteContinuousEdit) {
      bAccept = OnDecimalKeyPress(pKey->key(), pKey->text());
    } else if (pWatched == m_pUi->PlayVolumeDefaultEdit ||
               pWatched == m_pUi->RecordVolumeDefaultEdit) {
      bAccept = OnNumberKeyPress(pKey->key(), pKey->text());
    } else if (pWatched == m_pUi->MaxPowerDefaultGain1Edit) {
      bAccept = OnMaxPowerGain1KeyPress(pKey->key(), pKey->text());
    }
    if (!bAccept) {
      // The box takes the focus, and an edit that loses it fixes its text
      // up through its validator (a timing edit puts its stored value
      // back): a refused key leaves the edit exactly as it was before that
      // key, also while the box is open.
      auto* pEdit = qobject_cast<QLineEdit*>(pWatched);
      const QString szText = pEdit ? pEdit->text() : QString();
      const int nCursor = pEdit ? pEdit->cursorPosition() : 0;
      const int nSelStart = pEdit ? pEdit->selectionStart() : -1;
      const int nSelLength = pEdit ? pEdit->selectionLength() : 0;
      const QValidator* pValidator = pEdit ? pEdit->validator() : nullptr;
      if (pValidator) pEdit->setValidator(nullptr);  // the edit still owns it
      ShowMessageId(m_Language, MSG_INVALID_CHARACTER);
      if (pEdit) {
        if (pValidator) pEdit->setValidator(pValidator);
        if (pEdit->text() != szText) pEdit->setText(szText);
        if (nSelStart >= 0 && nSelLength > 0) {
          // The cursor stays at the end of the selection it was at.
          if (nCursor == nSelStart)
            pEdit->setSelection(nSelStart + nSelLength, -nSelLength);
          else
            pEdit->setSelection(nSelStart, nSelLength);
        } else {
          pEdit->setCursorPosition(nCursor);
        }
      }
      return true;  // the key is dropped
    }
  }
  return QWidget::eventFilter(pWatched, pEvent);
}

namespace {

// Keys that carry no character (cursor, function keys, shortcuts) are the
// edit's own business; the filters judge the typed characters.
bool IsCharacterKey(const QString& szText) {
  return !szText.isEmpty() && szText[0].isPrint();
}

bool IsOneOf(const QString& szText, const char* pszAllowed) {
  if (szText.size() != 1) return false;
  const char16_t c = szText[0].unicode();
  for (const char* p = pszAllowed; *p; ++p) {
    if (c == static_cast<char16_t>(*p)) return true;
  }
  return false;
}

}  // namespace

bool TMainForm::OnKeyPress(int nKey, const QString& szText) {
  if (nKey == Qt::Key_Backspace || !IsCharacterKey(szText)) return true;
  // No space: a hex edit holds only the digits it stores.
  return IsOneOf(szText, "0123456789ABCDEFabcdef");
}

bool TMainForm::OnDecimalKeyPress(int nKey, const QString& szText) {
  if (nKey == Qt::Key_Backspace || !IsCharacterKey(szText)) return true;
  return IsOneOf(szText, "0123456789");
}

bool TMainForm::OnNumberKeyPress(int nKey, const QString& szText) {
  if (nKey == Qt::Key_Backspace || nKey == Qt::Key_Return || nKey == Qt::Key_Enter ||
      !IsCharacterKey(szText)) {
    return true;
  }
  return IsOneOf(szText, "0123456789 ");
}

bool TMainForm::OnMaxPowerGain1KeyPress(int nKey, const QString& szText) {
  if (nKey == Qt::Key_Backspace || nKey == Qt::Key_Return || nKey == Qt::Key_Enter ||
      !IsCharacterKey(szText)) {
    return true;
  }
  return IsOneOf(szText, "0123456789 -");
}

// -------------------------------------------------------------------- exit

void TMainForm::closeEvent(QCloseEvent* pEvent) {
  // Nothing may be destroyed under a running transfer: the request is
  // ignored until it has ended.
  if (m_bTransferRunning) {
    pEvent->ignore();
    return;
  }
  diag::Trace("FormClose");
  if (AskMessageId(m_Language, MSG_CONFIRM_EXIT) == kIdOk) {
    pEvent->accept();
  } else {
    pEvent->ignore();
  }
}

// ------------------------------------------------------------- diagnostics

void TMainForm::InitDiagnostics() {
  m_dwWriteTimeOut = 128;
  m_dwReadTimeOut = 128;
  m_dwWriteSleepTime = 5;
  m_dwReadSleepTime = 5;
  m_dwI2CSpeed = 0x20;
  ShowTimingEdits();
  m_pUi->I2CEdit->setText(Hex2(m_dwI2CSpeed));
  ShowLogControls(false, false);
  ShowRWTimeControls(false, false);
  ShowI2CControls(false, false);
}

void TMainForm::ShowTimingEdits() {
  // Copies first: each setText runs its edit's handler, which stores back.
  const uint32_t dwValues[4] = {m_dwReadTimeOut, m_dwReadSleepTime, m_dwWriteTimeOut,
                                m_dwWriteSleepTime};
  m_pUi->ReadTimeOutEdit->setText(Dec2(dwValues[0]));
  m_pUi->ReadContinuousEdit->setText(Dec2(dwValues[1]));
  m_pUi->WriteTimeOutEdit->setText(Dec2(dwValues[2]));
  m_pUi->WriteContinuousEdit->setText(Dec2(dwValues[3]));
}

void TMainForm::ShowLogControls(bool bVisible, bool bChecked) {
  m_pUi->LogFileCheckBox->setVisible(bVisible);
  m_pUi->LogFileCheckBox->setChecked(bChecked);
  m_bLogEnabled = m_pUi->LogFileCheckBox->isChecked() ? 1 : 0;
}

void TMainForm::ShowRWTimeControls(bool bVisible, bool bChecked) {
  m_pUi->EnableRWTimeCheckBox->setVisible(bVisible);
  m_pUi->EnableRWTimeCheckBox->setChecked(bChecked);
  for (QWidget* pWidget : {static_cast<QWidget*>(m_pUi->ReadTimeOutEdit),
                           static_cast<QWidget*>(m_pUi->ReadContinuousEdit),
                           static_cast<QWidget*>(m_pUi->WriteTimeOutEdit),
                           static_cast<QWidget*>(m_pUi->WriteContinuousEdit),
                           static_cast<QWidget*>(m_pUi->ReadWriteTest1Label),
                           static_cast<QWidget*>(m_pUi->ReadWriteTest2Label),
                           static_cast<QWidget*>(m_pUi->ReadWriteTest3Label),
                           static_cast<QWidget*>(m_pUi->ReadWriteTest4Label)}) {
    pWidget->setVisible(bVisible);
  }
  OnReadWriteCheckBoxClick();
}

void TMainForm::ShowI2CControls(bool bVisible, bool bChecked) {
  m_pUi->EnableI2CCheckBox->setChecked(bChecked);
  m_pUi->EnableI2CCheckBox->setVisible(bVisible);
  m_pUi->I2CEdit->setVisible(bVisible);
  OnI2CCheckBoxClick();
}

void TMainForm::OnLogFileCheckBoxClick() {
  m_bLogEnabled = m_pUi->LogFileCheckBox->isChecked() ? 1 : 0;
}

void TMainForm::OnReadWriteCheckBoxClick() {
  const bool bChecked = m_pUi->EnableRWTimeCheckBox->isChecked();
  m_bRWTimeEnabled = bChecked ? 1 : 0;
  for (QLineEdit* pEdit : {m_pUi->ReadTimeOutEdit, m_pUi->ReadContinuousEdit,
                           m_pUi->WriteTimeOutEdit, m_pUi->WriteContinuousEdit}) {
    pEdit->setReadOnly(!bChecked);
    pEdit->setEnabled(bChecked);
  }
}

void TMainForm::OnI2CCheckBoxClick() {
  const bool bChecked = m_pUi->EnableI2CCheckBox->isChecked();
  m_bI2CEnabled = bChecked ? 1 : 0;
  m_pUi->I2CEdit->setReadOnly(!bChecked);
  m_pUi->I2CEdit->setEnabled(bChecked);
}

void TMainForm::OnI2CChange() {
  const QString szText = m_pUi->I2CEdit->text();
  if (szText.isEmpty()) {
    m_dwI2CSpeed = 0;
  } else {
    uint32_t dwValue = 0;
    if (!editor::ParseHexUInt32(szText.toStdString(), dwValue)) {
      // Not a hexadecimal number: say so and keep the speed.
      ShowMessageId(m_Language, MSG_INVALID_CHARACTER);
      return;
    }
    m_dwI2CSpeed = dwValue;
  }
  diag::TraceFormat("m_dwI2CSpeed = %d", static_cast<int>(m_dwI2CSpeed));
}

void TMainForm::OnHotKey(uint32_t dwVirtualKey) {
  switch (dwVirtualKey) {
    case VK_DOWN_KEY:
      m_pUi->ReportIdCheckBox->setVisible(m_pUi->ReportIdCheckBox->isHidden());
      return;
    case VK_RETURN_KEY: {
      diag::Trace("[WndProc]==  VK_RETURN  ==");
      const bool bShow = m_pUi->LogFileCheckBox->isHidden();
      ShowLogControls(bShow, m_pUi->LogFileCheckBox->isChecked());
      ShowRWTimeControls(bShow, m_pUi->EnableRWTimeCheckBox->isChecked());
      ShowI2CControls(bShow, m_pUi->EnableI2CCheckBox->isChecked());
      return;
    }
    case 'A':
    case VK_LEFT_KEY:
    case VK_ADD_KEY:
      if (m_bRWTimeEnabled != 1) return;
      m_dwReadTimeOut = Lengthen(m_dwReadTimeOut, 512, 64, 1024);
      m_dwWriteTimeOut = Lengthen(m_dwWriteTimeOut, 512, 64, 1024);
      m_dwReadSleepTime = Lengthen(m_dwReadSleepTime, 40, 5, 80);
      m_dwWriteSleepTime = Lengthen(m_dwWriteSleepTime, 40, 5, 80);
      ShowTimingEdits();
      return;
    case 'S':
    case VK_RIGHT_KEY:
    case VK_SUBTRACT_KEY:
      if (m_bRWTimeEnabled != 1) return;
      m_dwReadTimeOut = Shorten(m_dwReadTimeOut, 2048, 1024, 128, 64);
      m_dwWriteTimeOut = Shorten(m_dwWriteTimeOut, 2048, 1024, 128, 64);
      m_dwReadSleepTime = Shorten(m_dwReadSleepTime, 160, 80, 5, 2);
      m_dwWriteSleepTime = Shorten(m_dwWriteSleepTime, 160, 80, 5, 2);
      ShowTimingEdits();
      return;
    case 'L':
      ShowLogControls(!m_pUi->LogFileCheckBox->isHidden(), !m_pUi->LogFileCheckBox->isChecked());
      return;
    case 'M':
      ShowRWTimeControls(!m_pUi->EnableRWTimeCheckBox->isHidden(),
                         !m_pUi->EnableRWTimeCheckBox->isChecked());
      return;
    case 'I':
    case 'C':
    case 'T':
      if (m_pUi->EnableRWTimeCheckBox->isChecked()) {
        m_dwI2CSpeed = dwVirtualKey == 'I' ? 0x10 : (dwVirtualKey == 'C' ? 0x20 : 0x40);
      }
      m_pUi->I2CEdit->setText(Hex2(m_dwI2CSpeed));
      return;
    default:
      break;
  }
  if (dwVirtualKey >= '1' && dwVirtualKey <= '8') {
    if (m_bI2CEnabled == 1) {
      m_dwI2CSpeed = 1u << (dwVirtualKey - '1');
      m_pUi->I2CEdit->setText(Hex2(m_dwI2CSpeed));
    }
    diag::TraceFormat("m_dwI2CSpeed = 0x%02X", m_dwI2CSpeed);
  }
}

}  // namespace qrt::app
