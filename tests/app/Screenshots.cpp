// Renders the window in the states the docs show, into PNG files:
//   app_screenshots OUTDIR
// Runs on the simulated chip with scripted boxes; not a test.
#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>

#include "AppFont.h"
#include "GatedPlatform.h"
#include "HeldLock.h"
#include "ImageMapForm.h"
#include "ImageMapView.h"
#include "MessageTable.h"
#include "ReadEEPROMForm.h"
#include "RomDataMgr.h"
#include "SimFaultOptions.h"
#include "SimSetup.h"
#include "StationForm.h"
#include "WindowFixture.h"
#include "ui_UReadEEPROMForm.h"

using namespace qrt::app;

namespace {
// Where the station's shot holds boards 3 and 4: output reports into their
// programming (a backup read, then the write with its verify).
constexpr size_t kHoldSim3 = 2100;
constexpr size_t kHoldSim4 = 3100;
}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setFont(MakeWindowFont());
  const QString szDir =
      QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString(".")).absolutePath();
  QDir().mkpath(szDir);
  // The Log switch is on for one write: its files go to a scratch folder.
  QTemporaryDir scratch;
  QDir::setCurrent(scratch.path());
  const auto save = [&](QWidget* pWidget, const char* pszName) {
    QCoreApplication::processEvents();
    pWidget->grab().save(QDir(szDir).filePath(pszName));
  };

  test::CWindowFixture w(0);
  w.PlugBoard(512);
  w.Sim.Chip(0).SetEepromContents(qrt::image::g_btDefaultImage, 256);
  save(w.pForm.get(), "start-zh.png");

  w.Ui.fnModal = [&](QDialog* pDialog) {
    auto* pForm = static_cast<TReadEEPROMForm*>(pDialog);
    pForm->Formshow();
    pForm->Form()->ComboBox1->setCurrentIndex(1);
    pForm->OnReadEEPROMChange();
    pForm->show();
    save(pForm, w.pForm->m_Language == 0 ? "size-dialog-zh.png" : "size-dialog-en.png");
    pForm->hide();
    return int(QDialog::Accepted);
  };
  w.F()->ReadEEPROMBitBtn->click();
  save(w.pForm.get(), "read-pass-zh.png");
  w.F()->EnglishPanel->click();
  save(w.pForm.get(), "read-pass-en.png");

  qrt::sim::SIM_FAULTS faults;
  qrt::sim::SIM_CHIP_CONFIG chip = w.Sim.Chip(0).Config();
  std::string szError;
  // A write sends only the bytes that differ from what was read: a new
  // product id, whose low byte (0x1A) the fault corrupts.
  qrt::sim::ParseSimFaultSpec("flip:0x1A", faults, chip, szError);
  w.Sim.Chip(0).SetFaults(faults);
  w.F()->PIDEdit->setText("4251");
  w.pForm->OnHotKey(0x0D);  // the diagnostics row
  w.pForm->OnHotKey('L');
  w.F()->WriteEEPROMBitBtn->click();
  save(w.pForm.get(), "write-fail-en.png");
  w.F()->ChinesePanel->click();
  save(w.pForm.get(), "write-fail-zh.png");
  w.F()->EnglishPanel->click();
  w.F()->ReadEEPROMBitBtn->click();

  // The image map: edits and an added AGC/IR bank compared with the board.
  w.F()->AGCIRBankCheckBox->setChecked(true);
  w.F()->VIDEdit->setText("1234");
  w.F()->PlayVolumeDefaultCheckBox->setChecked(true);
  test::CWindowFixture::Choose(w.F()->PlayVolumeDefaultComboBox, 4);
  w.F()->ImageMapBitBtn->click();
  TImageMapForm* pMap = w.pForm->ImageMapForm();
  w.Ui.fnModal = test::PickSize(1);
  pMap->CompareBoardButton()->click();
  pMap->DiffList()->setCurrentRow(1);
  const QPoint at = pMap->View()->CellRect(0x0E).center();
  QMouseEvent hover(QEvent::MouseMove, at, pMap->View()->mapToGlobal(at), Qt::NoButton,
                    Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(pMap->View(), &hover);
  save(pMap, "image-map-en.png");
  w.F()->ChinesePanel->click();
  QCoreApplication::sendEvent(pMap->View(), &hover);
  save(pMap, "image-map-zh.png");
  pMap->hide();

  // The Backup and templates menu open under its button, drawn into the
  // window's picture (a menu is a window of its own), its right edge at the
  // button's as the screen's edge would put it.
  QPushButton* pMenuButton = w.F()->BackupTemplateBitBtn;
  const auto saveMenu = [&](const char* pszName) {
    QMenu* pMenu = pMenuButton->menu();
    pMenu->popup(pMenuButton->mapToGlobal(QPoint(0, pMenuButton->height())));
    QCoreApplication::processEvents();
    const QPoint below(pMenuButton->width() - pMenu->width(), pMenuButton->height());
    QPixmap shot = w.pForm->grab();
    QPainter painter(&shot);
    painter.drawPixmap(pMenuButton->mapTo(w.pForm.get(), below), pMenu->grab());
    painter.end();
    shot.save(QDir(szDir).filePath(pszName));
    pMenuButton->menu()->hide();
  };
  saveMenu("backup-menu-zh.png");
  w.F()->EnglishPanel->click();
  saveMenu("backup-menu-en.png");

  // Another program holds the simulated boards' lock; the poll sees it.
  qrt::test::CHeldLock held(w.LockPath(qrt::sim::kSimMutexNames.pszHid));
  w.pForm->Timer1Timer();
  save(w.pForm.get(), "device-in-use-en.png");

  // The operator station mid-run on four boards: board 1 passed, board 2's
  // marginal cell rolled back, boards 3 and 4 held part-way through their
  // writes (board 3's cell flips on every write: it fails once let go); in
  // both languages.
  for (const int nLanguage : {kLanguageEnglish, kLanguageChinese}) {
    qrt::transfer::SIM_OPTIONS sim;
    sim.nBoards = 4;
    sim.vFaults = {"2@flip-once:0x21", "3@flip:0x21"};
    sim.bBoardClocks = true;
    qrt::transfer::SIM_SPEC spec;
    std::string szError;
    if (!qrt::transfer::ParseSimSpec(sim, spec, szError)) return 1;
    qrt::transfer::CSimRig rig(spec);
    // Output reports of a board's backup read, then of its write: holds
    // inside the write, after the boards took their serials.
    qrt::test::CGatedPlatform gated(rig.Platform());
    gated.HoldAt("sim:3", kHoldSim3);
    gated.HoldAt("sim:4", kHoldSim4);
    TStationForm station(w.Ui, gated, &rig.Platform(), nLanguage);
    const auto letGo = qScopeGuard([&gated] { gated.LetGo(); });  // before the station ends
    qrt::transfer::STATION_HOOKS hooks;
    hooks.nPollMs = 5;
    station.SetHooks(hooks);
    const QString szName = nLanguage == kLanguageEnglish ? "en" : "zh";
    const auto edit = [&](const char* pszName, const QString& szText) {
      station.findChild<QLineEdit*>(pszName)->setText(szText);
    };
    std::ofstream(scratch.filePath("golden-" + szName + ".json").toStdString())
        << R"({"product": "Line 7", "playVolume": 50})";
    edit("GoldenEdit", scratch.filePath("golden-" + szName + ".json"));
    edit("SerialFileEdit", scratch.filePath("counter-" + szName));
    edit("SerialStartEdit", "100");
    edit("SerialEndEdit", "1FF");
    edit("StationEdit", "line-3");
    edit("OperatorEdit", "ana");
    edit("WorkOrderEdit", "WO-2291");
    edit("LogEdit", scratch.filePath("line-" + szName + ".jsonl"));
    station.findChild<QSpinBox*>("RetriesSpin")->setValue(0);
    QMetaObject::invokeMethod(station.findChild<QLineEdit*>("GoldenEdit"), "editingFinished");
    station.resize(1100, 760);
    station.show();
    if (!station.Start()) return 1;
    for (int i = 0; i < 3000 && (gated.Holding() < 2 || station.Totals().Steps().size() < 2);
         ++i) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    if (gated.Holding() < 2 || station.Totals().Steps().size() != 2) {
      std::fprintf(stderr, "app_screenshots: the station is not mid-run (%zu boards held)\n",
                   gated.Holding());
      return 1;
    }
    QCoreApplication::processEvents();
    save(&station, qPrintable("station-" + szName + ".png"));
    gated.LetGo();
    for (int i = 0; i < 3000 && station.Totals().Steps().size() < 4; ++i) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    station.Stop();
    while (station.Running()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return 0;
}
