#include "StationForm.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
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
#include "WriteOutcome.h"

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
      {
        std::lock_guard<std::mutex> guard(m_Mutex);
        m_Given.insert(qwSerial);
      }
      if (m_fnTaken) m_fnTaken();
    }
    return e;
  }
  // Runs on the board's thread after each serial the counter gave.
  void OnTaken(std::function<void()> fn) { m_fnTaken = std::move(fn); }
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
  std::set<uint64_t> Given() {
    std::lock_guard<std::mutex> guard(m_Mutex);
    return m_Given;
  }
  // The scanned serials no board took (the run is over).
  std::deque<uint64_t> TakeQueued() {
    std::lock_guard<std::mutex> guard(m_Mutex);
    return std::exchange(m_Queue, {});
  }

 private:
  qrt::production::ISerialSource* m_pSource;
  std::mutex m_Mutex;
  std::deque<uint64_t> m_Queue;
  std::set<uint64_t> m_Given;
  std::function<void()> m_fnTaken;
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
      Post([szStop](TStationForm& f) {
        f.AddLogLine(szStop);
        f.m_szEndReason = szStop;
      });
    }
    return result.szStop.empty();
  }
  void OnReady() override {
    Post([](TStationForm& f) { f.AddLogLine(Text(f.m_Language, MSG_STATION_READY)); });
    PostFigures();
  }
  void OnError(const std::string& szText) override {
    const QString sz = Q(szText);
    Post([sz](TStationForm& f) {
      f.AddLogLine(sz);
      f.m_szEndReason = sz;
    });
  }

  // Reads the counter (and the station's block) on this thread, never the
  // window's: they wait for the counter file's lock, which another station
  // may hold for seconds. Serialised, so the last figures read are the last
  // shown.
  void PostFigures() {
    if (!m_Run.pCounter) return;
    std::lock_guard<std::mutex> guard(m_FiguresMutex);
    COUNTER_FIGURES figures;
    if (m_Run.pCounter->Peek(figures.qwNext, figures.szError) ==
        qrt::production::ESerialResult::kOk) {
      figures.qwLast = m_Run.pCounter->Last();
      figures.bKnown =
          !m_Run.pLease || m_Run.pLease->Remaining(figures.qwLeaseNext, figures.qwLeaseLast,
                                                   figures.bLeaseHeld, figures.szError);
    }
    Post([figures](TStationForm& f) { f.OnFigures(figures); });
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
  std::mutex m_FiguresMutex;
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
  m_pRetries->setRange(0, 10);  // as program --retries
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
  m_pBarcode->setMaxLength(32);  // room for spaces around the 12 digits
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
  // The sha shown is of the image as built for the chosen EEPROM size.
  connect(m_pEeprom, &QComboBox::currentIndexChanged, this, &TStationForm::UpdateGoldenHash);
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
  if (!Running()) UpdateGoldenHash();  // while it runs, the label shows what the run uses
  UpdateCounts();
}

void TStationForm::AddLogLine(const QString& szLine) { m_pLogView->appendPlainText(szLine); }

void TStationForm::UpdateCounts() {
  const int nDone = m_Totals.Passed() + m_Totals.Failed();
  const QString szYield =
      nDone == 0 ? QString("-") : QString::number(100.0 * m_Totals.Passed() / nDone, 'f', 1) + " %";
  QString szLeft = "-";
  const COUNTER_FIGURES& f = m_Figures;
  if (m_pRun && m_pRun->pCounter && m_pRun->bSerialEnd && f.bKnown) {
    uint64_t qwLeft = f.qwNext > f.qwLast ? 0 : f.qwLast - f.qwNext + 1;
    // The block this station holds is the range's too, not yet used.
    if (f.bLeaseHeld) qwLeft += f.qwLeaseLast - f.qwLeaseNext + 1;
    szLeft = QString::number(qwLeft);
  }
  // Every serial taken, a board still being written included: used and
  // remaining add up to the range at any moment.
  std::set<uint64_t> used(m_Totals.Serials().begin(), m_Totals.Serials().end());
  if (m_pRun && m_pRun->pScanned) used.merge(m_pRun->pScanned->Given());
  m_pCounts->setText(Text(m_Language, MSG_STATION_COUNTS)
                         .arg(m_Totals.Passed())
                         .arg(m_Totals.Failed())
                         .arg(szYield)
                         .arg(used.size())
                         .arg(szLeft));
}

void TStationForm::OnFigures(const COUNTER_FIGURES& figures) {
  m_Figures = figures;
  UpdateCounts();
}

bool TStationForm::LoadGolden(qrt::image::CImageSession& base, std::string& szSha,
                              QString& szError) const {
  // A .json is a template over the built-in image, anything else an image
  // file. Both readers take regular files of a bounded size only: a FIFO
  // or a device named here never blocks the window.
  const std::string szGolden = m_pGolden->text().toStdString();
  if (szGolden.empty()) {
    szError = Text(m_Language, MSG_STATION_NEEDS_GOLDEN);
    return false;
  }
  if (QFileInfo(m_pGolden->text()).suffix().toLower() == "json") {
    std::string szText;
    std::string szWhy = qrt::image::ReadTemplateFile(szGolden, szText);
    if (szWhy.empty()) szWhy = qrt::image::ApplyTemplate(base, szText);
    if (!szWhy.empty()) {
      szError = Q(qrt::image::QuoteText(szGolden) + ": " + szWhy);
      return false;
    }
  } else {
    uint8_t buffer[qrt::image::kRomBufferSize];
    size_t n = 0;
    const int nRead = qrt::image::ReadImageFile(szGolden, buffer, sizeof buffer, &n);
    if (nRead != qrt::image::kReadOk) {
      szError = Q(qrt::image::QuoteText(szGolden) + ": " + qrt::image::ReadImageFileError(nRead));
      return false;
    }
    const qrt::image::EApplyResult r = base.ApplyLoadedImage(buffer, n);
    if (r != qrt::image::EApplyResult::kAccepted) {
      szError = Q(qrt::image::QuoteText(szGolden) + ": " + qrt::image::ApplyResultText(r));
      return false;
    }
  }
  base.SetRomSize(qrt::image::RomSizeFromEepromType(m_pEeprom->currentText().toStdString()));
  // What every board's line carries as golden_sha256: the image as built
  // for the board, before its serial.
  qrt::image::CImageSession built = base;
  uint8_t btImage[qrt::image::kMaxImageSize];
  size_t nSize = 0;
  const qrt::image::EBuildResult eBuild = built.BuildOutputImage(btImage, &nSize);
  if (eBuild != qrt::image::EBuildResult::kOk) {
    szError = Q(qrt::image::QuoteText(szGolden) +
                ": cannot build the image: " + qrt::image::BuildResultText(eBuild));
    return false;
  }
  szSha = qrt::production::Sha256Hex(btImage, nSize);
  return true;
}

void TStationForm::UpdateGoldenHash() {
  if (m_pGolden->text().isEmpty()) {
    m_pGoldenSha->clear();
    return;
  }
  qrt::image::CImageSession base;
  std::string szSha;
  QString szError;
  m_pGoldenSha->setText(LoadGolden(base, szSha, szError)
                            ? Text(m_Language, MSG_STATION_GOLDEN_SHA).arg(Q(szSha))
                            : szError);
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
  // The golden file is read again now and its sha shown again: the run
  // uses what the window shows, even when the file changed since.
  const std::string szGolden = m_pGolden->text().toStdString();
  std::string szSha;
  const bool bLoaded = LoadGolden(run.Base, szSha, szError);
  m_pGoldenSha->setText(bLoaded ? Text(m_Language, MSG_STATION_GOLDEN_SHA).arg(Q(szSha))
                                : QString());
  if (!bLoaded) return false;

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
  CView* pView = m_pView.get();
  m_pRun->pScanned->OnTaken([pView] { pView->PostFigures(); });
  m_Totals = qrt::transfer::CProductionTotals{};
  m_Figures = COUNTER_FIGURES{};
  m_Results.clear();
  m_szEndReason.clear();
  m_bStop = false;
  Lock(true);
  UpdateCounts();
  qrt::transfer::STATION_HOOKS hooks = m_Hooks;
  hooks.fnBeforeWait = [this, fnUser = m_Hooks.fnBeforeWait](qrt::sim::CSimPlatform* pSim) {
    if (m_bStop) return true;
    return fnUser ? fnUser(pSim) : false;
  };
  m_Thread = std::thread([this, hooks] {
    m_pView->PostFigures();
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

void TStationForm::closeEvent(QCloseEvent* pEvent) {
  if (!Running()) {
    QWidget::closeEvent(pEvent);
    return;
  }
  // Boards are being written: the window stays until they are done, or
  // the process would go on writing with no window to say how it ended.
  pEvent->ignore();
  if (m_bCloseWhenEnded) return;
  if (!m_bStop && m_UiServices.MessageBox(this, Text(m_Language, MSG_STATION_TITLE),
                                          Text(m_Language, MSG_STATION_ASK_CLOSE), true) != kIdOk) {
    return;
  }
  m_bCloseWhenEnded = true;
  AddLogLine(Text(m_Language, MSG_STATION_FINISHING));
  Stop();
  // Boards being written say so under their progress; a board that waits
  // will not be written.
  for (TILE& tile : m_Tiles) {
    if (tile.szPath.empty() || tile.bGone) continue;
    if (tile.bRunning) {
      tile.pState->setText(tile.pState->text() + "\n" + Text(m_Language, MSG_STATION_FINISHING));
    } else if (m_Results.count(tile.szPath) == 0) {
      SetTileState(tile, Text(m_Language, MSG_STATION_FINISHING), nullptr);
    }
  }
}

void TStationForm::OnEnded() {
  if (m_Thread.joinable()) m_Thread.join();
  EndLease();
  Lock(false);
  // Serials scanned for boards that never came: the operator relabels them.
  if (m_pRun && m_pRun->pScanned) {
    for (const uint64_t qwSerial : m_pRun->pScanned->TakeQueued()) {
      AddLogLine(Text(m_Language, MSG_STATION_SCAN_NOT_USED).arg(Q(FormatSerial(qwSerial))));
    }
  }
  // Stopped by the operator, by the run (its reason is in the view already)
  // or by SIGINT/SIGTERM: the only end that names no reason on its own.
  const QString szWhy = m_bStop                    ? Text(m_Language, MSG_STATION_BY_OPERATOR)
                        : !m_szEndReason.isEmpty() ? m_szEndReason
                                                   : Text(m_Language, MSG_STATION_INTERRUPTED);
  AddLogLine(Text(m_Language, MSG_STATION_ENDED).arg(szWhy));
  UpdateCounts();
  emit StationEnded();
  if (m_bCloseWhenEnded) {
    m_bCloseWhenEnded = false;
    close();
  }
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
  // The figures only lag: the counter and the block only move on, so a
  // serial below what they last said is below what they say now.
  const COUNTER_FIGURES& f = m_Figures;
  if (!f.bKnown) {
    szWhy = f.szError.empty() ? Text(m_Language, MSG_STATION_SCAN_COUNTER_BUSY) : Q(f.szError);
    return false;
  }
  if (qwSerial >= f.qwNext) {
    szWhy = Text(m_Language, MSG_STATION_SCAN_COUNTER_LATER);
    return false;
  }
  // The station's block was taken from the counter but not yet handed out.
  if (f.bLeaseHeld && qwSerial >= f.qwLeaseNext && qwSerial <= f.qwLeaseLast) {
    szWhy = Text(m_Language, MSG_STATION_SCAN_BLOCK_LATER);
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
    szWhy = Text(m_Language, MSG_STATION_SCAN_FORMAT);
  } else if (!m_pRun || !m_pRun->pCounter || !Running()) {
    szWhy = Text(m_Language, MSG_STATION_SCAN_NO_SERIALS);
  } else if (qwSerial > m_pRun->pCounter->Last()) {
    szWhy =
        Text(m_Language, MSG_STATION_SCAN_AFTER_END).arg(Q(FormatSerial(m_pRun->pCounter->Last())));
  } else if (!CounterPassed(qwSerial, szWhy)) {
    // The counter would hand it out again later: two boards, one serial.
  } else if (m_pRun->pScanned->Taken(qwSerial)) {
    szWhy = Text(m_Language, MSG_STATION_SCAN_USED);
  } else {
    std::string szError;
    switch (qrt::production::FindSerialInLog(m_pRun->szLog, qwSerial, szError)) {
      case qrt::production::ELogSerial::kUsed:
        szWhy = Text(m_Language, MSG_STATION_SCAN_USED);
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
    if (tile.szPath != szPath) continue;
    if (!bTake || !tile.bGone) return &tile;
    FreeTile(tile);  // plugged again: a new board
  }
  if (!bTake) return nullptr;
  // A free tile first; else one kept for a board pulled mid-transfer.
  TILE* pTile = nullptr;
  for (TILE& tile : m_Tiles) {
    if (tile.szPath.empty()) {
      pTile = &tile;
      break;
    }
  }
  for (TILE& tile : m_Tiles) {
    if (pTile == nullptr && tile.bGone) pTile = &tile;
  }
  if (pTile == nullptr) return nullptr;  // more boards than tiles: programmed and logged, not shown
  FreeTile(*pTile);
  pTile->szPath = szPath;
  pTile->pPath->setText(Q(szPath));
  pTile->pFrame->setVisible(true);
  const auto it = m_Results.find(szPath);
  if (it != m_Results.end()) {
    SetTileState(*pTile, it->second.szState, it->second.pszColour);
  } else {
    SetTileState(*pTile, Text(m_Language, m_bStop ? MSG_STATION_FINISHING : MSG_STATION_WAITING),
                 nullptr);
  }
  return pTile;
}

void TStationForm::FreeTile(TILE& tile) {
  // Nothing of the previous board may show on the next one.
  tile.szPath.clear();
  tile.bRunning = false;
  tile.bGone = false;
  tile.bFailedSinceListing = false;
  tile.pPath->clear();
  tile.pBar->setValue(0);
  SetTileState(tile, QString(), nullptr);
  tile.pFrame->setVisible(false);
}

void TStationForm::SetTileState(TILE& tile, const QString& szState, const char* pszColour) {
  tile.pState->setText(szState);
  tile.pFrame->setStyleSheet(pszColour == nullptr
                                 ? QString()
                                 : QString("QFrame#%1 { background: %2; }")
                                       .arg(tile.pFrame->objectName(), pszColour));
}

void TStationForm::OnPresent(const std::vector<std::string>& vPaths) {
  const auto present = [&vPaths](const std::string& szPath) {
    return std::find(vPaths.begin(), vPaths.end(), szPath) != vPaths.end();
  };
  for (auto it = m_Results.begin(); it != m_Results.end();) {
    it = present(it->first) ? std::next(it) : m_Results.erase(it);
  }
  for (TILE& tile : m_Tiles) {
    const bool bFailedNow = std::exchange(tile.bFailedSinceListing, false);
    if (tile.szPath.empty() || tile.bRunning || tile.bGone || present(tile.szPath)) continue;
    if (bFailedNow) {
      // Failed and gone before the next listing: pulled while it was
      // written. Its FAIL stays in view until the tile is needed.
      tile.bGone = true;
      tile.pPath->setText(Q(tile.szPath) + " (" + Text(m_Language, MSG_STATION_UNPLUGGED) + ")");
      continue;
    }
    FreeTile(tile);
  }
  for (const std::string& szPath : vPaths) TileOf(szPath, true);
}

void TStationForm::OnTileStarted(const std::string& szPath) {
  m_Results.erase(szPath);
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
  QString szState =
      Text(m_Language, MSG_STATION_RUNNING) + QString(" %1 %").arg(pTile->pBar->value());
  if (m_bStop) szState += "\n" + Text(m_Language, MSG_STATION_FINISHING);
  pTile->pState->setText(szState);
}

QString TStationForm::ReasonText(const qrt::transfer::BOARD_STEP& step) const {
  const auto& r = step.Record;
  // The write's own story has both languages; a run stop, a refused serial
  // and a board never written keep the engine's English words.
  if (step.szStop.empty() && !step.bUnusable && !step.bPass) {
    const std::string sz =
        qrt::transfer::StopText(step.Outcome, static_cast<qrt::transfer::ELanguage>(m_Language));
    if (!sz.empty()) return Q(sz);
  }
  return Q(r.szReason.empty() ? step.szNote : r.szReason);
}

QString TStationForm::LogViewLine(const qrt::production::PRODUCTION_RECORD& record,
                                  const QString& szReason) const {
  QDateTime time = QDateTime::fromString(Q(record.szTime), Qt::ISODate);
  const QString szTime =
      time.isValid() ? time.toLocalTime().toString("HH:mm:ss") : Q(record.szTime);
  const int nResult = record.szResult == "pass"          ? MSG_STATION_PASS
                      : record.szResult == "rolled-back" ? MSG_STATION_ROLLED_BACK
                      : record.szResult == "retry"       ? MSG_STATION_RETRY
                                                         : MSG_STATION_FAIL;
  QStringList vParts = {szTime, Q(record.szPath), Text(m_Language, nResult)};
  if (record.qwSerial) vParts << Q(FormatSerial(*record.qwSerial));
  if (!szReason.isEmpty()) vParts << szReason;
  return vParts.join("  ");
}

void TStationForm::OnTileFinished(const qrt::transfer::BOARD_STEP& step) {
  m_Totals.Add(step);
  const QString szReason = ReasonText(step);
  for (const auto& retry : step.vRetries) AddLogLine(LogViewLine(retry, Q(retry.szReason)));
  AddLogLine(LogViewLine(step.Record, step.bPass ? QString() : szReason));
  UpdateCounts();
  const auto& r = step.Record;
  RESULT_VIEW result;
  if (step.bPass) {
    result.szState = Text(m_Language, MSG_STATION_PASS) + "\n" +
                     (r.qwSerial ? Q(FormatSerial(*r.qwSerial)) : QString());
    result.pszColour = "#7fd67f";
  } else {
    const bool bRolledBack = r.szResult == "rolled-back";
    result.szState = Text(m_Language, bRolledBack ? MSG_STATION_ROLLED_BACK : MSG_STATION_FAIL) +
                     "\n" + szReason;
    result.pszColour = bRolledBack ? "#f0c060" : "#f07070";
  }
  m_Results[r.szPath] = result;
  TILE* pTile = TileOf(r.szPath, true);
  if (pTile == nullptr) return;
  pTile->bRunning = false;
  pTile->bFailedSinceListing = !step.bPass;
  if (step.bPass) pTile->pBar->setValue(100);
  SetTileState(*pTile, result.szState, result.pszColour);
}

QString TStationForm::TileText(int nTile) const {
  const TILE& tile = m_Tiles[nTile];
  if (tile.szPath.empty()) return {};
  return Q(tile.szPath) + "\n" + tile.pState->text();
}

}  // namespace qrt::app
