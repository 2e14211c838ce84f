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
#include <filesystem>
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
#include "platform/ProductionFiles.h"

#ifndef _WIN32
#include <sys/stat.h>

#include <csignal>
#endif

namespace qrt::app::test {

namespace {

// Board 2 has a marginal cell in the serial (its write rolled back, no
// retry), board 3 a cell that flips on every write (the rollback fails too).
const std::vector<std::string> kFaults = {"2@flip-once:0x21", "3@flip:0x21"};

// A key's value as JSON text ("null" when missing).
std::string Field(const nlohmann::json& j, const char* pszKey) {
  return j.contains(pszKey) ? j[pszKey].dump() : std::string("null");
}

// What one board's tile shows before each queued update of the window
// (the station's thread speaks to it through queued calls only), progress
// aside, each change once.
class CTileRecorder : public QObject {
 public:
  CTileRecorder(TStationForm& form, const QString& szPath) : m_Form(form), m_szPath(szPath) {
    form.installEventFilter(this);
  }
  ~CTileRecorder() override { m_Form.removeEventFilter(this); }
  void Record() {
    QString szNow;
    for (int i = 0; i < TStationForm::kTileCount; ++i) {
      if (m_Form.TileText(i).startsWith(m_szPath + "\n")) szNow = m_Form.TileText(i);
    }
    if (szNow.startsWith(m_szPath + "\nrunning")) return;
    if (m_vStates.isEmpty() || m_vStates.back() != szNow) m_vStates << szNow;
  }
  const QStringList& States() const { return m_vStates; }
  bool eventFilter(QObject* pObject, QEvent* pEvent) override {
    if (pObject == &m_Form && pEvent->type() == QEvent::MetaCall) Record();
    return false;
  }

 private:
  TStationForm& m_Form;
  QString m_szPath;
  QStringList m_vStates;
};

// A text of the window's table in Chinese (Zh) or English (En).
QString Zh(int nId) {
  return QString::fromUtf8(MessageText(kLanguageChinese, nId));
}
QString En(int nId) {
  return QString::fromUtf8(MessageText(kLanguageEnglish, nId));
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
  // nBoards simulated boards with clocks of their own and the given faults.
  static std::unique_ptr<transfer::CSimRig> MakeRig(int nBoards,
                                                    const std::vector<std::string>& vFaults = {}) {
    transfer::SIM_OPTIONS sim;
    sim.nBoards = nBoards;
    sim.vFaults = vFaults;
    sim.bBoardClocks = true;
    transfer::SIM_SPEC spec;
    std::string szError;
    if (!transfer::ParseSimSpec(sim, spec, szError)) qFatal("%s", szError.c_str());
    return std::make_unique<transfer::CSimRig>(spec);
  }
  QString Q(const std::string& sz) const { return QString::fromStdString(sz); }
  // Fills the set-up's text fields by object name.
  void Fill(TStationForm& form, std::initializer_list<std::pair<const char*, QString>> fields) {
    for (const auto& [pszName, szText] : fields) Child<QLineEdit>(form, pszName)->setText(szText);
  }
  // Types a line into the barcode field as a scanner does, Enter at the end.
  static void Scan(QLineEdit* pBarcode, const QString& szTyped) {
    QTest::keyClicks(pBarcode, szTyped);
    QTest::keyClick(pBarcode, Qt::Key_Return);
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
    const auto pRig = MakeRig(4, kFaults);
    transfer::CSimRig& rig = *pRig;

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

    // The Chinese window: every word it shows comes from its table or the
    // engine's Chinese texts; the log file stays English.
    CFakeUiServices ui;
    TStationForm form(ui, rig.Platform(), &rig.Platform(), kLanguageChinese);
    form.SetHooks(hooks);
    auto* pGolden = Child<QLineEdit>(form, "GoldenEdit");
    auto* pGoldenSha = Child<QLabel>(form, "GoldenShaLabel");
#ifndef _WIN32
    // Neither a FIFO nor a link to a device is read when the field is
    // left: the window would wait for a writer or read forever.
    QVERIFY(::mkfifo(P("fifo.bin").c_str(), 0600) == 0);
    std::filesystem::create_symlink("/dev/zero", P("zero.bin"));
    for (const char* pszName : {"fifo.bin", "zero.bin"}) {
      pGolden->setText(QString::fromStdString(P(pszName)));
      QTest::keyClick(pGolden, Qt::Key_Return);
      QVERIFY2(pGoldenSha->text().contains(pszName) && !pGoldenSha->text().contains("sha256"),
               qPrintable(pGoldenSha->text()));
    }
#endif
    pGolden->setText(QString::fromStdString(P("t.json")));
    QTest::keyClick(pGolden, Qt::Key_Return);
    const QString szShownSha = pGoldenSha->text();
    Fill(form, {{"SerialFileEdit", Q(P("c"))},
                {"SerialStartEdit", QString("100")},
                {"SerialEndEdit", QString("1FF")},
                {"LogEdit", Q(P("station.jsonl"))},
                {"OperatorEdit", QString("ana")}});
    Child<QSpinBox>(form, "RetriesSpin")->setValue(0);
    form.show();

    QVERIFY(form.Start());
    QVERIFY(form.Running());
    QVERIFY(!Child<QGroupBox>(form, "SetupBox")->isEnabled());
    QVERIFY(!Child<QPushButton>(form, "StartButton")->isEnabled());

    QTRY_COMPARE_WITH_TIMEOUT(form.Totals().Steps().size(), size_t{4}, 30000);
    // Every result in words beside its colour; the serials in list order;
    // the reason in the window's language.
    QCOMPARE(TileOf(form, "sim:1"), "sim:1\n" + Zh(MSG_STATION_PASS) + "\n000000000100");
    for (const auto& [pszPath, nState] :
         {std::pair{"sim:2", MSG_STATION_ROLLED_BACK}, std::pair{"sim:3", MSG_STATION_FAIL}}) {
      const QString szTile = TileOf(form, pszPath);
      QVERIFY2(szTile.startsWith(pszPath + ("\n" + Zh(nState)) + "\n" +
                                 QString::fromUtf8("校验失败：地址 0x0021 处不符")),
               qPrintable(szTile));
    }
    // Unplugged: its tile clears.
    QTRY_VERIFY_WITH_TIMEOUT(TileOf(form, "sim:4").isEmpty(), 30000);

    // The scanner: refused serials say why and queue nothing; the good one
    // goes to the board that comes next.
    auto* pBarcode = Child<QLineEdit>(form, "BarcodeEdit");
    auto* pLogView = Child<QPlainTextEdit>(form, "LogView");
    const QString szRefused = Zh(MSG_STATION_BAD_BARCODE);
    const struct {
      const char* pszTyped;
      QString szSays;
    } kScans[] = {
        {"0100", szRefused.arg("0100 (" + Zh(MSG_STATION_SCAN_FORMAT) + ")")},
        {"000000000100", szRefused.arg("000000000100 (" + Zh(MSG_STATION_SCAN_USED) + ")")},
        {"0000000000E0", szRefused.arg("0000000000E0 (" + Zh(MSG_STATION_SCAN_USED) + ")")},
        {"0000000000E1", szRefused.arg("0000000000E1 (" + Zh(MSG_STATION_SCAN_USED) + ")")},
        {"0000000000D3", szRefused.arg("0000000000D3 (" + Zh(MSG_STATION_SCAN_USED) + ")")},
        {"000000000200", szRefused.arg("000000000200 (" +
                                       Zh(MSG_STATION_SCAN_AFTER_END).arg("0000000001FF") + ")")},
        {"0000000001A0",
         szRefused.arg("0000000001A0 (" + Zh(MSG_STATION_SCAN_COUNTER_LATER) + ")")},
        // A scanner's spaces around the digits are not part of the serial.
        {"  0000000000F0 ", Zh(MSG_STATION_BARCODE_TAKEN).arg("0000000000F0")},
    };
    for (const auto& scan : kScans) {
      Scan(pBarcode, scan.pszTyped);
      QVERIFY2(pLogView->toPlainText().contains(scan.szSays), scan.pszTyped);
    }
    bScanned = true;
    QTRY_COMPARE_WITH_TIMEOUT(form.Totals().Steps().size(), size_t{5}, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(TileOf(form, "sim:4"),
                              "sim:4\n" + Zh(MSG_STATION_PASS) + "\n0000000000F0", 30000);
    QVERIFY2(Child<QLabel>(form, "CountsLabel")
                 ->text()
                 .contains(Zh(MSG_STATION_COUNTS).arg(3).arg(2).arg("60.0 %").arg(5).arg(252)),
             qPrintable(Child<QLabel>(form, "CountsLabel")->text()));

    // Stop asks first; No keeps the station running and the set-up locked.
    ui.qAnswers = {kIdCancel, kIdOk};
    QTest::mouseClick(Child<QPushButton>(form, "StopButton"), Qt::LeftButton);
    QVERIFY(form.Running());
    QVERIFY(!pLogView->toPlainText().contains(Zh(MSG_STATION_UNLOCKED)));
    QTest::mouseClick(Child<QPushButton>(form, "StopButton"), Qt::LeftButton);
    QVERIFY(pLogView->toPlainText().contains(Zh(MSG_STATION_UNLOCKED)));
    QTRY_VERIFY_WITH_TIMEOUT(!form.Running(), 30000);
    QVERIFY(Child<QGroupBox>(form, "SetupBox")->isEnabled());

    // The log: one line per board, English reasons; the window shows the
    // sha the lines carry.
    std::vector<nlohmann::json> station = qrt::test::BoardLines(P("station.jsonl"));
    station.erase(station.begin(), station.begin() + nEarlier);
    QCOMPARE(station.size(), size_t{5});
    QCOMPARE(Field(station[4], "serial"), std::string("\"0000000000F0\""));
    QCOMPARE(Field(station[0], "operator"), std::string("\"ana\""));
    QVERIFY2(station[2].value("reason", "").starts_with("verify failed: data differ at 0x0021"),
             station[2].dump().c_str());
    const QString szLogSha = QString::fromStdString(station[0].value("golden_sha256", ""));
    QVERIFY(!szLogSha.isEmpty());
    QVERIFY2(szShownSha.contains(szLogSha) && pGoldenSha->text().contains(szLogSha),
             qPrintable(szShownSha + " / " + szLogSha));
    // The view: a short line per board in the window's words, no JSON.
    const QString szView = pLogView->toPlainText();
    QVERIFY2(!szView.contains('{'), qPrintable(szView));
    for (const QString& szLine : {"sim:1  " + Zh(MSG_STATION_PASS) + "  000000000100",
                                  "sim:3  " + Zh(MSG_STATION_FAIL) + "  000000000102  " +
                                      QString::fromUtf8("校验失败：地址 0x0021 处不符")}) {
      QVERIFY2(szView.contains(szLine), qPrintable(szLine));
    }

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
  // nor the one a board being written took (in no log line yet). Closing
  // the window mid-run waits for the board being written.
  void SerialBlockLeasedAndReturned() {
    QVERIFY(qrt::test::SetEnvironment(qrt::test::kUserStateVariable, P("state")));
    const auto pRig = MakeRig(2);
    transfer::CSimRig& rig = *pRig;
    transfer::STATION_HOOKS hooks;
    hooks.nPollMs = 5;
    qrt::test::CGatedPlatform gated(rig.Platform());
    gated.HoldAt("sim:2", 2100);  // in its write, its serial taken

    CFakeUiServices ui;
    TStationForm form(ui, gated, &rig.Platform(), kLanguageEnglish);
    const auto letGo = qScopeGuard([&gated] { gated.LetGo(); });  // before the form ends
    form.SetHooks(hooks);
    Fill(form, {{"GoldenEdit", Q(P("t.json"))},
                {"SerialFileEdit", Q(P("block-c"))},
                {"SerialStartEdit", QString("100")},
                {"SerialEndEdit", QString("1FF")},
                {"StationEdit", QString("line 9")},
                {"LogEdit", Q(P("block.jsonl"))}});
    Child<QSpinBox>(form, "SerialBlockSpin")->setValue(5);
    Child<QSpinBox>(form, "RetriesSpin")->setValue(10);  // as many as program --retries takes
    QCOMPARE(Child<QSpinBox>(form, "RetriesSpin")->value(), 10);
    form.show();
    QVERIFY(form.Start());
    QVERIFY(!Child<QSpinBox>(form, "SerialBlockSpin")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(gated.Holding() == 1 && form.Totals().Steps().size() == 1, 30000);
    // Mid-run, the serial of the board being written counts as used: used
    // and remaining add up to the range (100-1FF).
    auto* pCounts = Child<QLabel>(form, "CountsLabel");
    QTRY_VERIFY2(pCounts->text().contains("Serials used 2   Remaining 254"),
                 qPrintable(pCounts->text()));
    auto* pBarcode = Child<QLineEdit>(form, "BarcodeEdit");
    auto* pLogView = Child<QPlainTextEdit>(form, "LogView");
    for (const char* pszScan : {"000000000101", "000000000103"}) Scan(pBarcode, pszScan);
    {
      // Another station holds the counter's lock: the window judges on the
      // figures its station's thread read, without waiting for the lock.
      production::platform::CLockedCounter other;
      std::string szLockError;
      QVERIFY2(other.Lock(P("block-c"), std::chrono::seconds(5), szLockError) ==
                   production::ESerialResult::kOk,
               szLockError.c_str());
      Scan(pBarcode, "0000000000F5");
      QVERIFY2(
          pLogView->toPlainText().contains("barcode serial 0000000000F5 goes to the next board"),
          qPrintable(pLogView->toPlainText()));
    }
    QVERIFY(pLogView->toPlainText().contains("000000000101 (already used in the log file)"));
    QVERIFY(pLogView->toPlainText().contains(
        "000000000103 (the station's serial block hands it out later)"));
    QVERIFY(std::filesystem::exists(P("state/qrt4250/serial-lease-line-9.txt")));

    // Closing asks as Stop does; once confirmed the window stays, its tiles
    // saying the station is finishing, until the board is written.
    ui.qAnswers = {kIdCancel, kIdOk};
    form.close();
    QVERIFY(form.isVisible() && form.Running());
    QVERIFY(!pLogView->toPlainText().contains(En(MSG_STATION_FINISHING)));
    form.close();
    QVERIFY(form.isVisible() && form.Running());
    QVERIFY2(TileOf(form, "sim:2").endsWith("\n" + En(MSG_STATION_FINISHING)),
             qPrintable(TileOf(form, "sim:2")));
    gated.LetGo();
    QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible() && !form.Running(), 30000);
    QCOMPARE(form.Totals().Steps().size(), size_t{2});

    // 100 and 101 used, 102-104 held by the station, 105 next in the counter.
    std::string szCounter;
    std::ifstream(P("block-c")) >> szCounter;
    QCOMPARE(szCounter, std::string("000000000105"));
    QVERIFY2(pCounts->text().contains("Serials used 2   Remaining 254"),
             qPrintable(pCounts->text()));
    // The scanned serial no board took is named, and why the station ended.
    for (const char* pszSays :
         {"3 leased serial(s) returned unused, never to be used: 000000000102-000000000104",
          "barcode serial 0000000000F5 not used", "station stopped: stopped by the operator"}) {
      QVERIFY2(pLogView->toPlainText().contains(pszSays), pszSays);
    }
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

  // A board pulled while it was written keeps its FAIL in view until its
  // tile is needed; a tile handed to the next board shows nothing of the
  // board before, not even between two of the window's updates.
  void TilesFollowTheBoards() {
    const auto pRig = MakeRig(2);
    transfer::CSimRig& rig = *pRig;
    std::atomic<int> nWaits{0};  // listings done: one before each wait
    transfer::STATION_HOOKS hooks;
    hooks.nPollMs = 5;
    hooks.fnBeforeWait = [&nWaits](sim::CSimPlatform*) {
      ++nWaits;
      return false;
    };
    qrt::test::CGatedPlatform gated(rig.Platform());
    gated.HoldAt("sim:2", 2100);  // in its write

    CFakeUiServices ui;
    TStationForm form(ui, gated, &rig.Platform(), kLanguageEnglish);
    const auto letGo = qScopeGuard([&gated] { gated.LetGo(); });
    form.SetHooks(hooks);
    Fill(form, {{"GoldenEdit", Q(P("t.json"))},
                {"SerialFileEdit", Q(P("tiles-c"))},
                {"SerialStartEdit", QString("100")},
                {"LogEdit", Q(P("tiles.jsonl"))}});
    QVERIFY(form.Start());
    QTRY_VERIFY_WITH_TIMEOUT(gated.Holding() == 1 && form.Totals().Steps().size() == 1, 30000);
    rig.Platform().Unplug(1);
    gated.LetGo();
    QTRY_COMPARE_WITH_TIMEOUT(form.Totals().Steps().size(), size_t{2}, 30000);
    const int nAfterRound = nWaits;
    QTRY_VERIFY_WITH_TIMEOUT(nWaits >= nAfterRound + 2, 30000);
    QCoreApplication::processEvents();  // the listing's tiles
    const QString szPulled = TileOf(form, "sim:2");
    QVERIFY2(szPulled.startsWith("sim:2\nFAIL\n") && szPulled.size() > 11, qPrintable(szPulled));

    // Plugged again: a new board in that tile. What the tile shows before
    // each queued update of the window (progress aside).
    CTileRecorder recorder(form, "sim:2");
    rig.Platform().Plug(1);
    const QString szPass = "sim:2\nPASS\n000000000102";
    QTRY_COMPARE_WITH_TIMEOUT(TileOf(form, "sim:2"), szPass, 30000);
    recorder.Record();
    QCOMPARE(recorder.States(), QStringList({szPulled, "sim:2\nwaiting", szPass}));
#ifndef _WIN32
    // Ended by SIGTERM (as a service manager ends it): the view says so.
    QVERIFY(::raise(SIGTERM) == 0);
    QTRY_VERIFY_WITH_TIMEOUT(!form.Running(), 30000);
    QVERIFY(Child<QPlainTextEdit>(form, "LogView")
                ->toPlainText()
                .contains("station stopped: interrupted (SIGINT/SIGTERM)"));
#endif
    form.Stop();
    QTRY_VERIFY_WITH_TIMEOUT(!form.Running(), 30000);
  }
};

}  // namespace qrt::app::test

QTEST_MAIN(qrt::app::test::StationTest)
#include "StationTest.moc"
