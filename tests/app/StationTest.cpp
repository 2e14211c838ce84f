// The operator station on four simulated boards with faults, driven as an
// operator drives it (set-up, Start, a scanned serial, Stop), and the same
// boards programmed by qrt4250-cli program: the same log keys and serials.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTest>
#include <atomic>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "CliRun.h"
#include "FakeUiServices.h"
#include "GatedPlatform.h"
#include "LogLines.h"
#include "MessageTable.h"
#include "ProductionLog.h"
#include "SimPlatform.h"
#include "SimSetup.h"
#include "StationForm.h"
#include "TestDirectory.h"
#include "TestEnvironment.h"

namespace qrt::app::test {

namespace {

// Board 2 has a marginal cell in the serial (its write rolled back, no
// retry), board 3 a cell that flips on every write (the rollback fails too).
const std::vector<std::string> kFaults = {"2@flip-once:0x21", "3@flip:0x21"};

// A key's value as JSON text ("null" when missing).
std::string Field(const nlohmann::json& j, const char* pszKey) {
  return j.contains(pszKey) ? j[pszKey].dump() : std::string("null");
}

}  // namespace

class StationTest : public QObject {
  Q_OBJECT

 private:
  std::string P(const char* pszName) const { return (m_Dir / pszName).string(); }
  template <class T>
  T* Child(TStationForm& form, const char* pszName) {
    T* p = form.findChild<T*>(pszName);
    if (p == nullptr) qFatal("no %s", pszName);
    return p;
  }
  // The tile showing szPath ("" when none does).
  static QString TileOf(const TStationForm& form, const QString& szPath) {
    for (int i = 0; i < TStationForm::kTileCount; ++i) {
      if (form.TileText(i).startsWith(szPath + "\n")) return form.TileText(i);
    }
    return {};
  }

  std::filesystem::path m_Dir;

 private slots:
  void initTestCase() {
    m_Dir = qrt::test::MakeTestDirectory("qrt-station-");
    QVERIFY(!m_Dir.empty());
    std::ofstream(P("t.json")) << R"({"product": "Line 7", "playVolume": 50})";
  }
  void cleanupTestCase() {
    std::error_code ec;
    std::filesystem::remove_all(m_Dir, ec);
  }

  void StationAndCliOnFourBoards() {
    transfer::SIM_OPTIONS sim;
    sim.nBoards = 4;
    sim.vFaults = kFaults;
    sim.bBoardClocks = true;
    transfer::SIM_SPEC spec;
    std::string szError;
    QVERIFY2(transfer::ParseSimSpec(sim, spec, szError), szError.c_str());
    transfer::CSimRig rig(spec);

    // The station thread plugs: board 4 leaves after the first round and
    // comes back once the test has scanned a serial for it.
    std::atomic<bool> bScanned{false};
    std::atomic<int> nStep{0};
    transfer::STATION_HOOKS hooks;
    hooks.nPollMs = 5;
    hooks.fnBeforeWait = [&](sim::CSimPlatform* pSim) {
      if (nStep == 0) {
        pSim->Unplug(3);
        nStep = 1;
      } else if (nStep == 1 && bScanned) {
        pSim->Plug(3);
        nStep = 2;
      }
      return false;
    };

    // The log holds an earlier run: a pass, a burned serial, a returned block.
    {
      std::ofstream earlier(P("station.jsonl"));
      production::PRODUCTION_RECORD r;
      r.qwSerial = 0xE0;
      r.szResult = "pass";
      earlier << production::ProductionLogLine(r) << "\n";
      r.qwSerial = 0xE1;
      r.szResult = "fail";
      earlier << production::ProductionLogLine(r) << "\n"
              << R"({"event": "returned-unused", "first": "0000000000D0", "last": "0000000000D7"})"
              << "\n";
    }
    const size_t nEarlier = 2;

    CFakeUiServices ui;
    TStationForm form(ui, rig.Platform(), &rig.Platform(), kLanguageEnglish);
    form.SetHooks(hooks);
    Child<QLineEdit>(form, "GoldenEdit")->setText(QString::fromStdString(P("t.json")));
    Child<QLineEdit>(form, "SerialFileEdit")->setText(QString::fromStdString(P("c")));
    Child<QLineEdit>(form, "SerialStartEdit")->setText("100");
    Child<QLineEdit>(form, "SerialEndEdit")->setText("1FF");
    Child<QLineEdit>(form, "LogEdit")->setText(QString::fromStdString(P("station.jsonl")));
    Child<QLineEdit>(form, "OperatorEdit")->setText("ana");
    Child<QSpinBox>(form, "RetriesSpin")->setValue(0);
    form.show();

    QVERIFY(form.Start());
    QVERIFY(form.Running());
    QVERIFY(!Child<QGroupBox>(form, "SetupBox")->isEnabled());
    QVERIFY(!Child<QPushButton>(form, "StartButton")->isEnabled());

    QTRY_COMPARE_WITH_TIMEOUT(form.Totals().Steps().size(), size_t{4}, 30000);
    // Every result in words beside its colour; the serials in list order.
    QCOMPARE(TileOf(form, "sim:1"), QString("sim:1\nPASS\n000000000100"));
    QVERIFY2(TileOf(form, "sim:2").startsWith("sim:2\nROLLED BACK\n"),
             qPrintable(TileOf(form, "sim:2")));
    QVERIFY2(TileOf(form, "sim:3").startsWith("sim:3\nFAIL\n"), qPrintable(TileOf(form, "sim:3")));
    QVERIFY(TileOf(form, "sim:3").size() > QString("sim:3\nFAIL\n").size());  // the reason
    // Unplugged: its tile clears.
    QTRY_VERIFY_WITH_TIMEOUT(TileOf(form, "sim:4").isEmpty(), 30000);

    // The scanner: refused serials say why and queue nothing; the good one
    // goes to the board that comes next.
    auto* pBarcode = Child<QLineEdit>(form, "BarcodeEdit");
    auto* pLogView = Child<QPlainTextEdit>(form, "LogView");
    const struct {
      const char* pszTyped;
      const char* pszSays;
    } kScans[] = {
        {"0100", "(12 hex digits)"},
        {"000000000100", "(already used in this log)"},
        {"0000000000E0", "0000000000E0 (already used in this log)"},  // earlier runs
        {"0000000000E1", "0000000000E1 (already used in this log)"},
        {"0000000000D3", "0000000000D3 (already used in this log)"},
        {"000000000200", "(after the range end 0000000001FF)"},
        {"0000000001A0", "(the counter hands it out later)"},
        {"0000000000F0", "barcode serial 0000000000F0 goes to the next board"},
    };
    for (const auto& scan : kScans) {
      QTest::keyClicks(pBarcode, scan.pszTyped);
      QTest::keyClick(pBarcode, Qt::Key_Return);
      QVERIFY2(pLogView->toPlainText().contains(scan.pszSays), scan.pszTyped);
    }
    bScanned = true;
    QTRY_COMPARE_WITH_TIMEOUT(form.Totals().Steps().size(), size_t{5}, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(TileOf(form, "sim:4"), QString("sim:4\nPASS\n0000000000F0"), 30000);
    QVERIFY2(Child<QLabel>(form, "CountsLabel")->text().contains(
                 "Passed 3   Failed 2   Yield 60.0 %   Serials used 5   Remaining 252"),
             qPrintable(Child<QLabel>(form, "CountsLabel")->text()));

    // Stop asks first; No keeps the station running and the set-up locked.
    ui.qAnswers = {kIdCancel, kIdOk};
    QTest::mouseClick(Child<QPushButton>(form, "StopButton"), Qt::LeftButton);
    QVERIFY(form.Running());
    QVERIFY(!pLogView->toPlainText().contains("set-up unlocked by the operator"));
    QTest::mouseClick(Child<QPushButton>(form, "StopButton"), Qt::LeftButton);
    QVERIFY(pLogView->toPlainText().contains("set-up unlocked by the operator"));
    QTRY_VERIFY_WITH_TIMEOUT(!form.Running(), 30000);
    QVERIFY(Child<QGroupBox>(form, "SetupBox")->isEnabled());

    // The log: one line per board, the window's view showing them.
    std::vector<nlohmann::json> station = qrt::test::BoardLines(P("station.jsonl"));
    station.erase(station.begin(), station.begin() + nEarlier);
    QCOMPARE(station.size(), size_t{5});
    QCOMPARE(Field(station[4], "serial"), std::string("\"0000000000F0\""));
    QCOMPARE(Field(station[0], "operator"), std::string("\"ana\""));

    // qrt4250-cli program on the same four boards: the same keys, results
    // and serial sequence as the station's first round.
    std::vector<std::string> args = {"program",       "--all",          "--template",
                                     P("t.json"),     "--serial-file",  P("c2"),
                                     "--serial-start", "100",           "--serial-end",
                                     "1FF",           "--log",          P("cli.jsonl"),
                                     "--retries",     "0",              "--operator",
                                     "ana",           "--simulate",     "--sim-boards",
                                     "4"};
    for (const std::string& szFault : kFaults) {
      args.push_back("--sim-fault");
      args.push_back(szFault);
    }
    const qrt::test::CRun cli = qrt::test::RunCliWith(args);
    QCOMPARE(cli.nExit, 1);  // two boards failed
    const std::vector<nlohmann::json> line = qrt::test::BoardLines(P("cli.jsonl"));
    QCOMPARE(line.size(), size_t{4});
    for (size_t i = 0; i < line.size(); ++i) {
      std::vector<std::string> vCliKeys, vStationKeys;
      for (auto it = line[i].begin(); it != line[i].end(); ++it) vCliKeys.push_back(it.key());
      for (auto it = station[i].begin(); it != station[i].end(); ++it) {
        vStationKeys.push_back(it.key());
      }
      QCOMPARE(vStationKeys, vCliKeys);
      for (const char* pszKey : {"path", "serial", "result", "attempts", "golden", "eeprom"}) {
        QCOMPARE(Field(station[i], pszKey) + " " + pszKey, Field(line[i], pszKey) + " " + pszKey);
      }
    }
  }

  // A block of serials leased from the counter as program --serial-block
  // leases it; a stop gives back what the block still holds, logged as
  // program logs it. A scan never takes a serial the block hands out later,
  // nor the one a board being written took (in no log line yet).
  void SerialBlockLeasedAndReturned() {
    QVERIFY(qrt::test::SetEnvironment(qrt::test::kUserStateVariable, P("state")));
    transfer::SIM_OPTIONS sim;
    sim.nBoards = 2;
    sim.bBoardClocks = true;
    transfer::SIM_SPEC spec;
    std::string szError;
    QVERIFY2(transfer::ParseSimSpec(sim, spec, szError), szError.c_str());
    transfer::CSimRig rig(spec);
    transfer::STATION_HOOKS hooks;
    hooks.nPollMs = 5;
    qrt::test::CGatedPlatform gated(rig.Platform());
    gated.HoldAt("sim:2", 2100);  // in its write, its serial taken

    CFakeUiServices ui;
    TStationForm form(ui, gated, &rig.Platform(), kLanguageEnglish);
    const auto letGo = qScopeGuard([&gated] { gated.LetGo(); });  // before the form ends
    form.SetHooks(hooks);
    Child<QLineEdit>(form, "GoldenEdit")->setText(QString::fromStdString(P("t.json")));
    Child<QLineEdit>(form, "SerialFileEdit")->setText(QString::fromStdString(P("block-c")));
    Child<QLineEdit>(form, "SerialStartEdit")->setText("100");
    Child<QLineEdit>(form, "SerialEndEdit")->setText("1FF");
    Child<QLineEdit>(form, "StationEdit")->setText("line 9");
    Child<QLineEdit>(form, "LogEdit")->setText(QString::fromStdString(P("block.jsonl")));
    Child<QSpinBox>(form, "SerialBlockSpin")->setValue(5);
    QVERIFY(form.Start());
    QVERIFY(!Child<QSpinBox>(form, "SerialBlockSpin")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(gated.Holding() == 1 && form.Totals().Steps().size() == 1, 30000);
    auto* pBarcode = Child<QLineEdit>(form, "BarcodeEdit");
    auto* pLogView = Child<QPlainTextEdit>(form, "LogView");
    for (const char* pszScan : {"000000000101", "000000000103"}) {
      QTest::keyClicks(pBarcode, pszScan);
      QTest::keyClick(pBarcode, Qt::Key_Return);
    }
    QVERIFY(pLogView->toPlainText().contains("000000000101 (already used in this log)"));
    QVERIFY(pLogView->toPlainText().contains(
        "000000000103 (the station's serial block hands it out later)"));
    gated.LetGo();
    QTRY_COMPARE_WITH_TIMEOUT(form.Totals().Steps().size(), size_t{2}, 30000);

    // 100 and 101 used, 102-104 held by the station, 105 next in the counter.
    std::string szCounter;
    std::ifstream(P("block-c")) >> szCounter;
    QCOMPARE(szCounter, std::string("000000000105"));
    QVERIFY2(Child<QLabel>(form, "CountsLabel")->text().contains("Serials used 2   Remaining 254"),
             qPrintable(Child<QLabel>(form, "CountsLabel")->text()));

    QVERIFY(std::filesystem::exists(P("state/qrt4250/serial-lease-line-9.txt")));
    form.Stop();
    QTRY_VERIFY_WITH_TIMEOUT(!form.Running(), 30000);
    QVERIFY(pLogView->toPlainText().contains(
        "3 leased serial(s) returned unused, never to be used: 000000000102-000000000104"));
    QVERIFY(!std::filesystem::exists(P("state/qrt4250/serial-lease-line-9.txt")));

    // program --serial-block on the same boards logs the same return.
    const qrt::test::CRun cli = qrt::test::RunCliWith(
        {"program", "--all", "--template", P("t.json"), "--serial-file", P("block-c2"),
         "--serial-start", "100", "--serial-block", "5", "--serial-lease", P("lease-cli"),
         "--station", "line 9", "--log", P("block-cli.jsonl"), "--simulate", "--sim-boards", "2"});
    QCOMPARE(cli.nExit, 0);
    const auto returned = [](const std::string& szLog) {
      for (nlohmann::json& j : qrt::test::LogLines(szLog)) {
        if (j.value("event", "") != "returned-unused") continue;
        j.erase("time");
        return j;
      }
      return nlohmann::json();
    };
    QCOMPARE(returned(P("block.jsonl")).dump(),
             std::string(R"({"count":3,"event":"returned-unused","first":"000000000102",)"
                         R"("last":"000000000104","station":"line 9"})"));
    QCOMPARE(returned(P("block.jsonl")).dump(), returned(P("block-cli.jsonl")).dump());
  }
};

}  // namespace qrt::app::test

QTEST_MAIN(qrt::app::test::StationTest)
#include "StationTest.moc"
