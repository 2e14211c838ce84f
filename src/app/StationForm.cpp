#include "StationForm.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <set>

#include "ImageFiles.h"
#include "Line.h"
#include "MessageTable.h"
#include "SettingsTemplate.h"
#include "UiServices.h"
#include "Version.h"

namespace qrt::app {

using namespace USB42XX_MGR;
using qrt::production::FormatSerial;

namespace {

QString Text(int nLanguage, int nId) {
  return QString::fromUtf8(
      MessageText(nLanguage == kLanguageChinese ? kLanguageChinese : kLanguageEnglish, nId));
}

QString Q(const std::string& sz) { return QString::fromStdString(sz); }

// "0100" as "000000000100"; false when it is not 1 to 12 hex digits.
bool ParseShortSerial(const QString& szText, uint64_t& qwSerial) {
  std::string sz = szText.trimmed().toStdString();
  if (sz.empty() || sz.size() > 12) return false;
  sz.insert(0, 12 - sz.size(), '0');
  return qrt::production::ParseSerial(sz, qwSerial);
}

}  // namespace

// Serials a scanner typed, handed out before the counter's: the next board
// that takes a serial gets the first one queued. Also remembers every
// serial handed out this run: one taken by a board still running is in no
// log line yet.
class CScannedSerials : public qrt::production::ISerialSource {
 public:
  explicit CScannedSerials(qrt::production::ISerialSource* pSource) : m_pSource(pSource) {}
  qrt::production::ESerialResult Allocate(uint64_t& qwSerial, std::string& szError) override {
    {
      std::lock_guard<std::mutex> guard(m_Mutex);
      if (!m_Queue.empty()) {
        qwSerial = m_Queue.front();
        m_Queue.pop_front();
        m_Given.insert(qwSerial);
        return qrt::production::ESerialResult::kOk;
      }
    }
    if (m_pSource == nullptr) {
      szError = "no serial source";
      return qrt::production::ESerialResult::kRefused;
    }
    const qrt::production::ESerialResult e = m_pSource->Allocate(qwSerial, szError);
    if (e == qrt::production::ESerialResult::kOk) {
      std::lock_guard<std::mutex> guard(m_Mutex);
      m_Given.insert(qwSerial);
    }
    return e;
  }
  void Push(uint64_t qwSerial) {
    std::lock_guard<std::mutex> guard(m_Mutex);
    m_Queue.push_back(qwSerial);
  }
  // Queued for a board, or handed out this run.
  bool Taken(uint64_t qwSerial) {
    std::lock_guard<std::mutex> guard(m_Mutex);
    return m_Given.count(qwSerial) != 0 ||
           std::find(m_Queue.begin(), m_Queue.end(), qwSerial) != m_Queue.end();
  }

 private:
  qrt::production::ISerialSource* m_pSource;
  std::mutex m_Mutex;
  std::deque<uint64_t> m_Queue;
  std::set<uint64_t> m_Given;
};

// What one station run shares between its boards.
struct TStationForm::RUN {
  qrt::image::CImageSession Base;
  std::unique_ptr<qrt::production::CSerialCounter> pCounter;
  // The station's block of the counter's serials; null without a block.
  std::unique_ptr<qrt::production::CSerialLease> pLease;
  bool bLeaseEnded = false;  // its unused serials given up: no board runs any more
  std::unique_ptr<CScannedSerials> pScanned;
  qrt::production::CProductionLog Log;
  std::string szLog;  // its path: a scanned serial is looked for in earlier runs' lines
  std::unique_ptr<qrt::transfer::PRODUCTION_SHARED> pShared;
  qrt::transfer::PRODUCTION_SETTINGS Settings;
  bool bSerialEnd = false;
};

// The station's view and the line's observer, on the station's thread:
// everything it hears goes to the window as a queued call.
class TStationForm::CView : public qrt::transfer::IStationView,
                            public qrt::transfer::ILineObserver {
 public:
  CView(TStationForm& form, RUN& run) : m_Form(form), m_Run(run) {}

  void OnNoHotPlug(int) override {}
  void OnListed(const std::vector<BOARD_INFO>& vPresent) override {
    std::vector<std::string> vPaths;
    for (const BOARD_INFO& board : vPresent) vPaths.push_back(board.Id.szPath);
    Post([vPaths](TStationForm& f) { f.OnPresent(vPaths); });
  }
  bool OnBoards(const std::vector<BOARD_INFO>& vBoards) override {
    m_vRound = vBoards;
    const qrt::transfer::LINE_RESULT result = qrt::transfer::ProgramBoards(
        m_Form.m_Platform, vBoards, *m_Run.pShared, m_Run.Settings, 0, *this);
    if (!result.szStop.empty()) {
      const QString szStop = Q(result.szStop);
      Post([szStop](TStationForm& f) { f.AddLogLine(szStop); });
    }
    return result.szStop.empty();
  }
  void OnReady() override {
    Post([](TStationForm& f) { f.AddLogLine(Text(f.m_Language, MSG_STATION_READY)); });
  }
  void OnError(const std::string& szText) override {
    const QString sz = Q(szText);
    Post([sz](TStationForm& f) { f.AddLogLine(sz); });
  }

  void OnBoardStarted(size_t nBoard, const BOARD_INFO&) override {
    const std::string szPath = m_vRound[nBoard].Id.szPath;
    Post([szPath](TStationForm& f) { f.OnTileStarted(szPath); });
  }
  void OnBoardProgress(size_t nBoard, EEepromProgress eKind, int nPercent) override {
    const std::string szPath = m_vRound[nBoard].Id.szPath;
    const int nKind = static_cast<int>(eKind);
    Post([szPath, nKind, nPercent](TStationForm& f) {
      f.OnTileProgress(szPath, nKind, nPercent);
    });
  }
  void OnBoardFinished(size_t, const qrt::transfer::BOARD_STEP& step) override {
    Post([step](TStationForm& f) { f.OnTileFinished(step); });
  }

 private:
  template <class F>
  void Post(F fn) {
    TStationForm* pForm = &m_Form;
    QMetaObject::invokeMethod(pForm, [pForm, fn] { fn(*pForm); }, Qt::QueuedConnection);
  }

  TStationForm& m_Form;
  RUN& m_Run;
  std::vector<BOARD_INFO> m_vRound;  // the boards of the round being programmed
};

TStationForm::TStationForm(IUiServices& uiServices, IHidPlatform& platform,
                           qrt::sim::CSimPlatform* pSim, int nLanguage, QWidget* pParent)
    : QWidget(pParent),
      m_UiServices(uiServices),
      m_Platform(platform),
      m_pSim(pSim),
      m_Language(nLanguage) {
  m_Hooks.nPollMs = 500;
  BuildWidgets();
  ApplyTexts();
  UpdateCounts();
}

TStationForm::~TStationForm() {
  m_bStop = true;
  if (m_Thread.joinable()) m_Thread.join();
  EndLease();
}

void TStationForm::BuildWidgets() {
  setObjectName("StationForm");
  auto* pMain = new QVBoxLayout(this);
  m_pSetup = new QGroupBox(this);
  m_pSetup->setObjectName("SetupBox");
  auto* pForm = new QGridLayout(m_pSetup);
  const auto edit = [this](const char* pszName) {
    auto* p = new QLineEdit(m_pSetup);
    p->setObjectName(pszName);
    return p;
  };
  const auto combo = [this](const char* pszName, const QStringList& vItems) {
    auto* p = new QComboBox(m_pSetup);
    p->setObjectName(pszName);
    p->addItems(vItems);
    return p;
  };
  m_pGolden = edit("GoldenEdit");
  m_pGoldenSha = new QLabel(m_pSetup);
  m_pGoldenSha->setObjectName("GoldenShaLabel");
  m_pGoldenSha->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_pBrowse = new QPushButton(m_pSetup);
  m_pBrowse->setObjectName("BrowseButton");
  m_pEeprom = combo("EepromCombo", {"24C02", "24C04", "24C08", "24C16"});
  m_pProfile = combo("ProfileCombo", {"default", "fast"});
  m_pSerialFile = edit("SerialFileEdit");
  m_pSerialStart = edit("SerialStartEdit");
  m_pSerialEnd = edit("SerialEndEdit");
  m_pStation = edit("StationEdit");
  m_pStation->setText(Q(qrt::production::HostName()));
  m_pOperator = edit("OperatorEdit");
  m_pWorkOrder = edit("WorkOrderEdit");
  m_pLog = edit("LogEdit");
  m_pRetries = new QSpinBox(m_pSetup);
  m_pRetries->setObjectName("RetriesSpin");
  m_pRetries->setRange(0, 9);
  m_pRetries->setValue(1);
  m_pRework = combo("ReworkCombo", {"new-serial", "keep-serial"});
  m_pSerialBlock = new QSpinBox(m_pSetup);
  m_pSerialBlock->setObjectName("SerialBlockSpin");
  m_pSerialBlock->setRange(0, 10000);
  // Two columns of captioned fields; the golden image takes a whole row.
  QWidget* const vFields[] = {m_pGolden,     m_pEeprom,    m_pProfile,     m_pSerialFile,
                              m_pSerialStart, m_pSerialEnd, m_pSerialBlock, m_pStation,
                              m_pOperator,   m_pWorkOrder, m_pLog,         m_pRetries,
                              m_pRework};
  for (int i = 0; i < static_cast<int>(std::size(vFields)); ++i) {
    auto* pCaption = new QLabel(m_pSetup);
    m_vCaptions.push_back(pCaption);
    if (i == 0) {
      pForm->addWidget(pCaption, 0, 0);
      pForm->addWidget(m_pGolden, 0, 1, 1, 2);
      pForm->addWidget(m_pBrowse, 0, 3);
      pForm->addWidget(m_pGoldenSha, 1, 1, 1, 3);
      continue;
    }
    const int nRow = 2 + (i - 1) / 2;
    const int nCol = ((i - 1) % 2) * 2;
    pForm->addWidget(pCaption, nRow, nCol);
    pForm->addWidget(vFields[i], nRow, nCol + 1);
  }
  pMain->addWidget(m_pSetup);

  auto* pButtons = new QHBoxLayout;
  m_pStart = new QPushButton(this);
  m_pStart->setObjectName("StartButton");
  m_pStop = new QPushButton(this);
  m_pStop->setObjectName("StopButton");
  m_pStop->setEnabled(false);
  m_pBarcode = new QLineEdit(this);
  m_pBarcode->setObjectName("BarcodeEdit");
  m_pBarcode->setMaxLength(12);
  auto* pBarcodeCaption = new QLabel(this);
  m_vCaptions.push_back(pBarcodeCaption);
  auto* pLanguage = new QComboBox(this);
  pLanguage->setObjectName("LanguageCombo");
  pLanguage->addItems({QString::fromUtf8("中文"), "English"});
  pLanguage->setCurrentIndex(m_Language == kLanguageChinese ? 0 : 1);
  connect(pLanguage, &QComboBox::currentIndexChanged, this, [this](int nIndex) {
    SetLanguage(nIndex == 0 ? kLanguageChinese : kLanguageEnglish);
  });
  pButtons->addWidget(m_pStart);
  pButtons->addWidget(m_pStop);
  pButtons->addWidget(pLanguage);
  pButtons->addStretch();
  pButtons->addWidget(pBarcodeCaption);
  pButtons->addWidget(m_pBarcode);
  pMain->addLayout(pButtons);

  auto* pTiles = new QGridLayout;
  for (int i = 0; i < kTileCount; ++i) {
    TILE& tile = m_Tiles[i];
    tile.pFrame = new QFrame(this);
    tile.pFrame->setObjectName(QString("Tile%1").arg(i));
    tile.pFrame->setFrameShape(QFrame::Box);
    tile.pFrame->setMinimumSize(180, 110);
    auto* pTile = new QVBoxLayout(tile.pFrame);
    tile.pPath = new QLabel(tile.pFrame);
    tile.pState = new QLabel(tile.pFrame);
    tile.pState->setWordWrap(true);
    tile.pState->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    QFont font = tile.pState->font();
    // The window's font may be sized in pixels (its point size is -1 then).
    if (font.pixelSize() > 0) {
      font.setPixelSize(font.pixelSize() * 9 / 5);
    } else {
      font.setPointSizeF(font.pointSizeF() * 1.8);
    }
    font.setBold(true);
    tile.pState->setFont(font);
    tile.pBar = new QProgressBar(tile.pFrame);
    tile.pBar->setRange(0, 100);
    pTile->addWidget(tile.pPath);
    pTile->addWidget(tile.pState, 1);
    pTile->addWidget(tile.pBar);
    tile.pFrame->setVisible(false);
    pTiles->addWidget(tile.pFrame, i / 4, i % 4);
  }
  // Four equal columns, whatever length a tile's reason has.
  for (int nColumn = 0; nColumn < 4; ++nColumn) pTiles->setColumnStretch(nColumn, 1);
  pMain->addLayout(pTiles, 1);

  m_pCounts = new QLabel(this);
  m_pCounts->setObjectName("CountsLabel");
  pMain->addWidget(m_pCounts);
  m_pLogView = new QPlainTextEdit(this);
  m_pLogView->setObjectName("LogView");
  m_pLogView->setReadOnly(true);
  m_pLogView->setMaximumBlockCount(200);
  m_pLogView->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_pLogView->setMaximumHeight(140);
  pMain->addWidget(m_pLogView);

  connect(m_pStart, &QPushButton::clicked, this, [this] { Start(); });
  connect(m_pStop, &QPushButton::clicked, this, &TStationForm::RequestStop);
  connect(m_pBrowse, &QPushButton::clicked, this, &TStationForm::BrowseGolden);
  connect(m_pGolden, &QLineEdit::editingFinished, this, &TStationForm::UpdateGoldenHash);
  connect(m_pBarcode, &QLineEdit::returnPressed, this, &TStationForm::OnBarcodeEntered);
}

void TStationForm::SetLanguage(int nLanguage) {
  m_Language = nLanguage;
  ApplyTexts();
}

void TStationForm::ApplyTexts() {
  setWindowTitle(Text(m_Language, MSG_STATION_TITLE));
  m_pSetup->setTitle(Text(m_Language, MSG_STATION_SETUP));
  const int vIds[] = {MSG_STATION_GOLDEN,       MSG_STATION_EEPROM,       MSG_STATION_PROFILE,
                      MSG_STATION_SERIAL_FILE,  MSG_STATION_SERIAL_START, MSG_STATION_SERIAL_END,
                      MSG_STATION_SERIAL_BLOCK, MSG_STATION_STATION,      MSG_STATION_OPERATOR,
                      MSG_STATION_WORK_ORDER,   MSG_STATION_LOG,          MSG_STATION_RETRIES,
                      MSG_STATION_REWORK,       MSG_STATION_BARCODE};
  for (size_t i = 0; i < m_vCaptions.size(); ++i) {
    m_vCaptions[i]->setText(Text(m_Language, vIds[i]));
  }
  m_pBrowse->setText(Text(m_Language, MSG_STATION_BROWSE));
  m_pStart->setText(Text(m_Language, MSG_STATION_START));
  m_pStop->setText(Text(m_Language, MSG_STATION_STOP));
  UpdateCounts();
}

void TStationForm::AddLogLine(const QString& szLine) { m_pLogView->appendPlainText(szLine); }

void TStationForm::UpdateCounts() {
  const int nDone = m_Totals.Passed() + m_Totals.Failed();
  const QString szYield =
      nDone == 0 ? QString("-") : QString::number(100.0 * m_Totals.Passed() / nDone, 'f', 1) + " %";
  QString szLeft = "-";
  if (m_pRun && m_pRun->pCounter && m_pRun->bSerialEnd) {
    uint64_t qwNext = 0;
    std::string szError;
    if (m_pRun->pCounter->Peek(qwNext, szError) == qrt::production::ESerialResult::kOk) {
      const uint64_t qwLast = m_pRun->pCounter->Last();
      uint64_t qwLeft = qwNext > qwLast ? 0 : qwLast - qwNext + 1;
      // The block this station holds is the range's too, not yet used.
      uint64_t qwLeaseNext = 0;
      uint64_t qwLeaseLast = 0;
      bool bHeld = false;
      if (m_pRun->pLease &&
          m_pRun->pLease->Remaining(qwLeaseNext, qwLeaseLast, bHeld, szError) && bHeld) {
        qwLeft += qwLeaseLast - qwLeaseNext + 1;
      }
      szLeft = QString::number(qwLeft);
    }
  }
  m_pCounts->setText(Text(m_Language, MSG_STATION_COUNTS)
                         .arg(m_Totals.Passed())
                         .arg(m_Totals.Failed())
                         .arg(szYield)
                         .arg(m_Totals.Serials().size())
                         .arg(szLeft));
}

void TStationForm::UpdateGoldenHash() {
  QFile file(m_pGolden->text());
  if (m_pGolden->text().isEmpty() || !file.open(QIODevice::ReadOnly)) {
    m_pGoldenSha->clear();
    return;
  }
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(&file);
  m_pGoldenSha->setText("sha256 " + QString::fromLatin1(hash.result().toHex()));
}

void TStationForm::BrowseGolden() {
  const FILE_DIALOG_RESULT chosen = m_UiServices.OpenFileDialog(
      this, "BIN file(*.bin)|*.bin|HEX file(*.hex)|*.hex|JSON file(*.json)|*.json",
      QFileInfo(m_pGolden->text()).absolutePath());
  if (!chosen.bAccepted) return;
  m_pGolden->setText(chosen.szPath);
  UpdateGoldenHash();
}

bool TStationForm::PrepareRun(RUN& run, QString& szError) {
  // The image of every board: a .json is a template over the built-in
  // image, anything else an image file.
  const std::string szGolden = m_pGolden->text().toStdString();
  if (szGolden.empty()) {
    szError = Text(m_Language, MSG_STATION_NEEDS_GOLDEN);
    return false;
  }
  if (QFileInfo(m_pGolden->text()).suffix().toLower() == "json") {
    std::string szText;
    std::string szWhy = qrt::image::ReadTemplateFile(szGolden, szText);
    if (szWhy.empty()) szWhy = qrt::image::ApplyTemplate(run.Base, szText);
    if (!szWhy.empty()) {
      szError = Q(qrt::image::QuoteText(szGolden) + ": " + szWhy);
      return false;
    }
  } else {
    uint8_t buffer[qrt::image::kRomBufferSize];
    size_t n = 0;
    const int nRead =
        qrt::image::ReadImageFile(szGolden, buffer, sizeof buffer, &n);
    if (nRead != qrt::image::kReadOk) {
      szError = Q(qrt::image::QuoteText(szGolden) + ": " + qrt::image::ReadImageFileError(nRead));
      return false;
    }
    const qrt::image::EApplyResult r = run.Base.ApplyLoadedImage(buffer, n);
    if (r != qrt::image::EApplyResult::kAccepted) {
      szError = Q(qrt::image::QuoteText(szGolden) + ": " + qrt::image::ApplyResultText(r));
      return false;
    }
    run.Base.SetRomSize(static_cast<uint32_t>(n));
  }
  run.Base.SetRomSize(qrt::image::RomSizeFromEepromType(m_pEeprom->currentText().toStdString()));

  qrt::transfer::PRODUCTION_FILES files;
  files.szSerialFile = m_pSerialFile->text().toStdString();
  files.szLog = m_pLog->text().toStdString();
  run.szLog = files.szLog;
  uint64_t qwSerial = 0;
  if (!m_pSerialStart->text().trimmed().isEmpty()) {
    if (!ParseShortSerial(m_pSerialStart->text(), qwSerial)) {
      szError = Text(m_Language, MSG_STATION_BAD_SERIAL);
      return false;
    }
    files.qwSerialStart = qwSerial;
  }
  uint64_t qwEnd = qrt::production::kLastSerial;
  run.bSerialEnd = !m_pSerialEnd->text().trimmed().isEmpty();
  if (run.bSerialEnd && !ParseShortSerial(m_pSerialEnd->text(), qwEnd)) {
    szError = Text(m_Language, MSG_STATION_BAD_SERIAL);
    return false;
  }
  std::string szWhy;
  if (!qrt::transfer::PrepareProduction(run.Base, files, run.pCounter, run.Log, szWhy)) {
    szError = Q(szWhy);
    return false;
  }
  if (run.pCounter) run.pCounter->SetLast(qwEnd);
  const QString szStation = m_pStation->text().trimmed();
  const std::string szStationName =
      szStation.isEmpty() ? qrt::production::HostName() : szStation.toStdString();
  if (m_pSerialBlock->value() > 0 && !run.pCounter) {
    szError = Text(m_Language, MSG_STATION_BLOCK_NEEDS_FILE);
    return false;
  }
  if (m_pSerialBlock->value() > 0) {
    run.pLease = qrt::transfer::OpenSerialLease(
        *run.pCounter, qrt::transfer::DefaultLeaseFile(szStationName),
        static_cast<uint64_t>(m_pSerialBlock->value()), szWhy);
    if (!run.pLease) {
      szError = Q(szWhy);
      return false;
    }
  }
  qrt::production::ISerialSource* pSource = run.pCounter.get();
  if (run.pLease) pSource = run.pLease.get();
  run.pScanned = std::make_unique<CScannedSerials>(pSource);

  run.pShared = std::make_unique<qrt::transfer::PRODUCTION_SHARED>(qrt::transfer::PRODUCTION_SHARED{
      run.Base, run.pCounter ? run.pScanned.get() : nullptr, run.Log});
  qrt::transfer::LINE_FACTS& facts = run.pShared->Facts;
  facts.szStation = szStationName;
  facts.szOperator = m_pOperator->text().toStdString();
  facts.szWorkOrder = m_pWorkOrder->text().toStdString();
  facts.szToolVersion = kProgramVersion;
  facts.szProfile = m_pProfile->currentText().toStdString();
  facts.szGolden = std::filesystem::path(szGolden).filename().string();
  run.pShared->nRetries = m_pRetries->value();
  run.pShared->eRework = m_pRework->currentIndex() == 1 ? qrt::transfer::ERework::kKeepSerial
                                                        : qrt::transfer::ERework::kNewSerial;

  // The transfer as qrt4250-cli's defaults have it.
  EEPROM_TRANSFER_SETTINGS& t = run.Settings.Transfer;
  t = EEPROM_TRANSFER_SETTINGS{};
  t.m_bRWTimeEnabled = true;
  t.m_dwReadTimeOut = 128;
  t.m_dwReadSleepTime = 5;
  t.m_dwWriteTimeOut = 128;
  t.m_dwWriteSleepTime = 5;
  t.m_bI2CEnabled = true;
  t.m_dwI2CSpeed = 0x20;
  if (facts.szProfile == "fast") t.m_Profile.eKind = ETransferProfile::Fast;
  run.Settings.Lock.dwTimeOutMs = 1000;
  run.Settings.bModelledTime = m_pSim != nullptr;
  return true;
}

bool TStationForm::Start() {
  if (Running()) return false;
  auto pRun = std::make_unique<RUN>();
  QString szError;
  if (!PrepareRun(*pRun, szError)) {
    m_UiServices.MessageBox(this, Text(m_Language, MSG_STATION_TITLE), szError, false);
    return false;
  }
  m_pRun = std::move(pRun);
  m_pView = std::make_unique<CView>(*this, *m_pRun);
  m_Totals = qrt::transfer::CProductionTotals{};
  m_bStop = false;
  Lock(true);
  UpdateCounts();
  qrt::transfer::STATION_HOOKS hooks = m_Hooks;
  hooks.fnBeforeWait = [this, fnUser = m_Hooks.fnBeforeWait](qrt::sim::CSimPlatform* pSim) {
    if (m_bStop) return true;
    return fnUser ? fnUser(pSim) : false;
  };
  m_Thread = std::thread([this, hooks] {
    qrt::transfer::RunStation(m_Platform, m_pSim, hooks, *m_pView);
    QMetaObject::invokeMethod(this, [this] { OnEnded(); }, Qt::QueuedConnection);
  });
  return true;
}

void TStationForm::RequestStop() {
  if (!Running()) return;
  if (m_UiServices.MessageBox(this, Text(m_Language, MSG_STATION_TITLE),
                              Text(m_Language, MSG_STATION_ASK_UNLOCK), true) != kIdOk) {
    return;
  }
  AddLogLine(Text(m_Language, MSG_STATION_UNLOCKED));
  Stop();
}

void TStationForm::Stop() {
  m_bStop = true;
  m_pStop->setEnabled(false);
}

void TStationForm::OnEnded() {
  if (m_Thread.joinable()) m_Thread.join();
  EndLease();
  Lock(false);
  AddLogLine(Text(m_Language, MSG_STATION_ENDED));
  UpdateCounts();
  emit StationEnded();
}

void TStationForm::EndLease() {
  if (!m_pRun || !m_pRun->pLease || m_pRun->bLeaseEnded) return;
  qrt::transfer::LEASE_RETURN returned;
  std::string szError;
  const bool bEnded = qrt::transfer::EndSerialLease(*m_pRun->pLease, m_pRun->Log,
                                                    m_pRun->pShared->Facts.szStation, returned,
                                                    szError);
  if (returned.bReturned) AddLogLine(Q(returned.Text()));
  if (!bEnded) AddLogLine(Q(szError));
  m_pRun->bLeaseEnded = true;
}

void TStationForm::Lock(bool bLocked) {
  m_pSetup->setEnabled(!bLocked);
  m_pStart->setEnabled(!bLocked);
  m_pStop->setEnabled(bLocked);
}

bool TStationForm::CounterPassed(uint64_t qwSerial, QString& szWhy) {
  uint64_t qwNext = 0;
  std::string szError;
  if (m_pRun->pCounter->Peek(qwNext, szError) != qrt::production::ESerialResult::kOk) {
    szWhy = Q(szError);
    return false;
  }
  if (qwSerial >= qwNext) {
    szWhy = "the counter hands it out later";
    return false;
  }
  // The station's block was taken from the counter but not yet handed out.
  uint64_t qwLeaseNext = 0;
  uint64_t qwLeaseLast = 0;
  bool bHeld = false;
  if (!m_pRun->pLease) return true;
  if (!m_pRun->pLease->Remaining(qwLeaseNext, qwLeaseLast, bHeld, szError)) {
    szWhy = Q(szError);
    return false;
  }
  if (bHeld && qwSerial >= qwLeaseNext && qwSerial <= qwLeaseLast) {
    szWhy = "the station's serial block hands it out later";
    return false;
  }
  return true;
}

void TStationForm::OnBarcodeEntered() {
  // A scanner types the serial and Enter: it goes to the next board instead
  // of the counter's, once it is 12 hex digits inside the work order's range,
  // below the counter's next serial (a label printed earlier, a board back
  // for rework) and not used in the log: not by this run, nor by any
  // earlier run or station whose lines the log holds.
  const QString szText = m_pBarcode->text().trimmed();
  m_pBarcode->clear();
  uint64_t qwSerial = 0;
  QString szWhy;
  if (szText.size() != 12 || !qrt::production::ParseSerial(szText.toStdString(), qwSerial)) {
    szWhy = "12 hex digits";
  } else if (!m_pRun || !m_pRun->pCounter || !Running()) {
    szWhy = "no serials in this run";
  } else if (qwSerial > m_pRun->pCounter->Last()) {
    szWhy = "after the range end " + Q(FormatSerial(m_pRun->pCounter->Last()));
  } else if (!CounterPassed(qwSerial, szWhy)) {
    // The counter would hand it out again later: two boards, one serial.
  } else if (m_pRun->pScanned->Taken(qwSerial)) {
    szWhy = "already used in this log";
  } else {
    std::string szError;
    switch (qrt::production::FindSerialInLog(m_pRun->szLog, qwSerial, szError)) {
      case qrt::production::ELogSerial::kUsed:
        szWhy = "already used in this log";
        break;
      case qrt::production::ELogSerial::kUnreadable:
        szWhy = Q(szError);
        break;
      case qrt::production::ELogSerial::kUnused:
        break;
    }
  }
  if (!szWhy.isEmpty()) {
    AddLogLine(Text(m_Language, MSG_STATION_BAD_BARCODE).arg(szText + " (" + szWhy + ")"));
    return;
  }
  m_pRun->pScanned->Push(qwSerial);
  AddLogLine(Text(m_Language, MSG_STATION_BARCODE_TAKEN).arg(Q(FormatSerial(qwSerial))));
}

TStationForm::TILE* TStationForm::TileOf(const std::string& szPath, bool bTake) {
  for (TILE& tile : m_Tiles) {
    if (tile.szPath == szPath) return &tile;
  }
  if (!bTake) return nullptr;
  for (TILE& tile : m_Tiles) {
    if (!tile.szPath.empty()) continue;
    tile.szPath = szPath;
    tile.pPath->setText(Q(szPath));
    tile.pFrame->setVisible(true);
    return &tile;
  }
  return nullptr;  // more boards than tiles: programmed and logged, not shown
}

void TStationForm::SetTileState(TILE& tile, const QString& szState, const char* pszColour) {
  tile.pState->setText(szState);
  tile.pFrame->setStyleSheet(pszColour == nullptr
                                 ? QString()
                                 : QString("QFrame#%1 { background: %2; }")
                                       .arg(tile.pFrame->objectName(), pszColour));
}

void TStationForm::OnPresent(const std::vector<std::string>& vPaths) {
  for (TILE& tile : m_Tiles) {
    if (tile.szPath.empty() || tile.bRunning) continue;
    if (std::find(vPaths.begin(), vPaths.end(), tile.szPath) != vPaths.end()) continue;
    tile.szPath.clear();
    tile.pFrame->setVisible(false);
  }
  for (const std::string& szPath : vPaths) {
    TILE* pTile = TileOf(szPath, true);
    if (pTile != nullptr && pTile->pState->text().isEmpty()) {
      SetTileState(*pTile, Text(m_Language, MSG_STATION_WAITING), nullptr);
    }
  }
}

void TStationForm::OnTileStarted(const std::string& szPath) {
  TILE* pTile = TileOf(szPath, true);
  if (pTile == nullptr) return;
  pTile->bRunning = true;
  pTile->pBar->setValue(0);
  SetTileState(*pTile, Text(m_Language, MSG_STATION_RUNNING), nullptr);
}

void TStationForm::OnTileProgress(const std::string& szPath, int nKind, int nPercent) {
  TILE* pTile = TileOf(szPath, false);
  if (pTile == nullptr) return;
  // Read, then write 0..70 and verify 70..100: the bar shows the write's
  // share once the write has begun.
  const bool bRead = nKind == static_cast<int>(EEepromProgress::Read);
  pTile->pBar->setValue(bRead ? nPercent / 5 : 20 + nPercent * 8 / 10);
  pTile->pState->setText(Text(m_Language, MSG_STATION_RUNNING) +
                         QString(" %1 %").arg(pTile->pBar->value()));
}

void TStationForm::OnTileFinished(const qrt::transfer::BOARD_STEP& step) {
  m_Totals.Add(step);
  for (const auto& retry : step.vRetries) AddLogLine(Q(qrt::production::ProductionLogLine(retry)));
  AddLogLine(Q(qrt::production::ProductionLogLine(step.Record)));
  UpdateCounts();
  TILE* pTile = TileOf(step.Record.szPath, true);
  if (pTile == nullptr) return;
  pTile->bRunning = false;
  const auto& r = step.Record;
  if (step.bPass) {
    pTile->pBar->setValue(100);
    const QString szSerial = r.qwSerial ? Q(FormatSerial(*r.qwSerial)) : QString();
    SetTileState(*pTile, Text(m_Language, MSG_STATION_PASS) + "\n" + szSerial, "#7fd67f");
    return;
  }
  const bool bRolledBack = r.szResult == "rolled-back";
  const std::string& szWhy = r.szReason.empty() ? step.szNote : r.szReason;
  SetTileState(*pTile,
               Text(m_Language, bRolledBack ? MSG_STATION_ROLLED_BACK : MSG_STATION_FAIL) + "\n" +
                   Q(szWhy),
               bRolledBack ? "#f0c060" : "#f07070");
}

QString TStationForm::TileText(int nTile) const {
  const TILE& tile = m_Tiles[nTile];
  if (tile.szPath.empty()) return {};
  return Q(tile.szPath) + "\n" + tile.pState->text();
}

}  // namespace qrt::app
