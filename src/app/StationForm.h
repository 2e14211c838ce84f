#pragma once
// The operator station: the production line's own window. The set-up (the
// golden image or template, the serials, the line's facts, the log) is
// locked while the station runs; each present board gets a tile with a large
// state in words (waiting, running, PASS, FAIL, rolled back), so colour never
// carries the result alone. The boards are programmed by the same station
// loop and production line as qrt4250-cli program --wait, on a thread of
// their own; what the line reports comes to the window through queued calls.
#include <QWidget>
#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Production.h"
#include "Station.h"

class QCloseEvent;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace qrt::app {

class IUiServices;

class TStationForm : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kTileCount = 8;

  // platform (and pSim, null on real boards) must outlive the window.
  TStationForm(IUiServices& uiServices, USB42XX_MGR::IHidPlatform& platform,
               qrt::sim::CSimPlatform* pSim, int nLanguage, QWidget* pParent = nullptr);
  ~TStationForm() override;  // stops the station; running boards finish first

  // How the station waits between rounds (tests plug and unplug simulated
  // boards here). Taken at the next Start.
  void SetHooks(qrt::transfer::STATION_HOOKS hooks) { m_Hooks = std::move(hooks); }
  void SetLanguage(int nLanguage);

  // Checks the set-up, prepares the run (image, counter, log) and starts the
  // station. False (a box said why) when the set-up is refused or a station
  // runs; nothing is started then.
  bool Start();
  // Asks the operator, then lets the running boards finish and starts no
  // other board; the set-up unlocks when the station has ended. The unlock
  // is written in the station's log view.
  void RequestStop();
  // The station ends after the running round (no question asked).
  void Stop();
  // Closing while the station runs asks as Stop does; once confirmed the
  // window stays until the running boards are done, then closes itself.
  void closeEvent(QCloseEvent* pEvent) override;
  bool Running() const { return m_Thread.joinable(); }

  // The texts of tile nTile: "path\nstate"; empty when it shows no board.
  QString TileText(int nTile) const;
  const qrt::transfer::CProductionTotals& Totals() const { return m_Totals; }

 signals:
  // The station ended (stopped, or the run had to stop) and the set-up is
  // unlocked.
  void StationEnded();

 private:
  struct RUN;
  struct TILE {
    QFrame* pFrame = nullptr;
    QLabel* pPath = nullptr;
    QLabel* pState = nullptr;
    QProgressBar* pBar = nullptr;
    std::string szPath;  // empty: free
    bool bRunning = false;
    // Its board failed and was gone at the next listing: pulled during the
    // transfer. The tile keeps the FAIL until another board needs it.
    bool bGone = false;
    bool bFailedSinceListing = false;
  };
  // A board's last result while it stays plugged, shown again when it gets
  // a tile later (more boards than tiles).
  struct RESULT_VIEW {
    QString szState;
    const char* pszColour = nullptr;
  };
  // The counter's figures as the station's thread last read them: the GUI
  // never waits for the counter's lock (another station may hold it).
  struct COUNTER_FIGURES {
    bool bKnown = false;
    uint64_t qwNext = 0;
    uint64_t qwLast = 0;
    bool bLeaseHeld = false;
    uint64_t qwLeaseNext = 0;
    uint64_t qwLeaseLast = 0;
    std::string szError;  // why they could not be read (bKnown false)
  };
  class CView;

  void BuildWidgets();
  void ApplyTexts();
  void AddLogLine(const QString& szLine);
  void UpdateCounts();
  // Reads the golden file and shows the sha256 of the image every board
  // gets before its serial (the log's golden_sha256).
  void UpdateGoldenHash();
  // The base image of the set-up (the golden file at the chosen EEPROM
  // size) and its sha256; false with szError when the file is refused.
  bool LoadGolden(qrt::image::CImageSession& base, std::string& szSha, QString& szError) const;
  void BrowseGolden();
  // False with szWhy when the counter (or the station's serial block) has
  // not yet passed qwSerial, or cannot be read: a scanned serial must never
  // be one they hand out later.
  // Judged on the last figures the station's thread read; refused as busy
  // before the first.
  bool CounterPassed(uint64_t qwSerial, QString& szWhy);
  void OnBarcodeEntered();
  bool PrepareRun(RUN& run, QString& szError);
  void Lock(bool bLocked);
  TILE* TileOf(const std::string& szPath, bool bTake);
  void SetTileState(TILE& tile, const QString& szState, const char* pszColour);
  void FreeTile(TILE& tile);
  // A finished board's reason in the window's language (the log keeps the
  // English one).
  QString ReasonText(const qrt::transfer::BOARD_STEP& step) const;
  // A log record as one short line of the view: time, path, result,
  // serial, reason.
  QString LogViewLine(const qrt::production::PRODUCTION_RECORD& record,
                      const QString& szReason) const;

  // From the station's thread (queued to this one).
  void OnPresent(const std::vector<std::string>& vPaths);
  void OnTileStarted(const std::string& szPath);
  void OnTileProgress(const std::string& szPath, int nKind, int nPercent);
  void OnTileFinished(const qrt::transfer::BOARD_STEP& step);
  void OnEnded();
  void OnFigures(const COUNTER_FIGURES& figures);
  // Gives back what the run's block still holds (logged returned-unused).
  void EndLease();

  IUiServices& m_UiServices;
  USB42XX_MGR::IHidPlatform& m_Platform;
  qrt::sim::CSimPlatform* m_pSim;
  int m_Language;
  qrt::transfer::STATION_HOOKS m_Hooks;

  QGroupBox* m_pSetup = nullptr;
  QLineEdit* m_pGolden = nullptr;
  QLabel* m_pGoldenSha = nullptr;
  QComboBox* m_pEeprom = nullptr;
  QComboBox* m_pProfile = nullptr;
  QLineEdit* m_pSerialFile = nullptr;
  QLineEdit* m_pSerialStart = nullptr;
  QLineEdit* m_pSerialEnd = nullptr;
  QLineEdit* m_pStation = nullptr;
  QLineEdit* m_pOperator = nullptr;
  QLineEdit* m_pWorkOrder = nullptr;
  QLineEdit* m_pLog = nullptr;
  QSpinBox* m_pSerialBlock = nullptr;  // serials leased at a time; 0: from the counter
  QSpinBox* m_pRetries = nullptr;
  QComboBox* m_pRework = nullptr;
  QPushButton* m_pBrowse = nullptr;
  QPushButton* m_pStart = nullptr;
  QPushButton* m_pStop = nullptr;
  QLineEdit* m_pBarcode = nullptr;
  QLabel* m_pCounts = nullptr;
  QPlainTextEdit* m_pLogView = nullptr;
  std::vector<QLabel*> m_vCaptions;  // the set-up's captions, in text order
  TILE m_Tiles[kTileCount];

  std::unique_ptr<RUN> m_pRun;
  std::unique_ptr<CView> m_pView;
  std::thread m_Thread;
  std::atomic<bool> m_bStop{false};
  bool m_bCloseWhenEnded = false;
  QString m_szEndReason;  // why the station ended when not by Stop
  COUNTER_FIGURES m_Figures;
  std::map<std::string, RESULT_VIEW> m_Results;  // by path, boards still plugged
  qrt::transfer::CProductionTotals m_Totals;
};

}  // namespace qrt::app
