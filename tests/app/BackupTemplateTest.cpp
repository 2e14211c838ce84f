// The Backup and templates menu on the simulated chip: a backup restored as
// it is through the protected write, and templates exported and applied
// exactly as the command line exports and applies them.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "CliRun.h"
#include "MessageTable.h"
#include "RomDataMgr.h"
#include "SimFaultOptions.h"
#include "WindowFixture.h"

using namespace qrt::app;
using qrt::app::test::CWindowFixture;
using qrt::test::RunCliWith;

namespace {

QString Row(int nLanguage, int nId, const std::string& szValue) {
  return QString::fromUtf8(MessageText(nLanguage, nId)).arg(QString::fromStdString(szValue));
}

QByteArray ReadFile(const QString& szPath) {
  QFile file(szPath);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& szPath, const QByteArray& bytes) {
  QFile file(szPath);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QByteArray Bytes(const std::vector<uint8_t>& v) {
  return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

// What the command line's error line says behind its prefix.
std::string CliError(const qrt::test::CRun& run) {
  const std::string szPrefix = "qrt4250-cli: error: ";
  std::string sz = run.err.substr(0, run.err.find('\n'));
  return sz.rfind(szPrefix, 0) == 0 ? sz.substr(szPrefix.size()) : sz;
}

}  // namespace

class BackupTemplateTest : public QObject {
  Q_OBJECT

  QTemporaryDir m_Dir;
  QString P(const char* pszName) const { return m_Dir.filePath(pszName); }
  static void Trigger(CWindowFixture& w, const char* pszAction) {
    auto* pAction = w.pForm->findChild<QAction*>(pszAction);
    QVERIFY(pAction);
    pAction->trigger();
  }

 private slots:
  // A backup goes back as it is (no signature needed), after a backup of
  // what the board holds, read back and compared; a failed verify leaves
  // what the write left (as the command line's restore: no rollback) and
  // the status line says so; a file of no EEPROM size is refused before any
  // transfer. The window's own image stays in every case.
  void RestoreWritesTheBackupAsItIs_data() {
    QTest::addColumn<int>("nFileSize");
    QTest::addColumn<QString>("szFault");
    QTest::addColumn<int>("nFlippedAt");  // the byte the verify found wrong; -1: none
    QTest::newRow("24C04 backup") << 512 << QString() << -1;
    QTest::newRow("verify fails, not rolled back") << 512 << QString("flip-once:0x30") << 0x30;
    QTest::newRow("no EEPROM size") << 300 << QString() << -1;
  }
  void RestoreWritesTheBackupAsItIs() {
    QFETCH(int, nFileSize);
    QFETCH(QString, szFault);
    QFETCH(int, nFlippedAt);
    CWindowFixture w(0);
    w.PlugBoard(512);
    qrt::sim::CSimChip& chip = w.Sim.Chip(0);
    std::vector<uint8_t> before(512);
    for (size_t i = 0; i < before.size(); ++i) before[i] = uint8_t(i * 7);
    chip.SetEepromContents(before.data(), before.size());
    if (!szFault.isEmpty()) {
      qrt::sim::SIM_FAULTS faults;
      qrt::sim::SIM_CHIP_CONFIG config = chip.Config();
      std::string szError;
      QVERIFY(qrt::sim::ParseSimFaultSpec(szFault.toStdString(), faults, config, szError));
      chip.SetFaults(faults);
    }
    std::vector<uint8_t> backup(static_cast<size_t>(nFileSize));
    for (size_t i = 0; i < backup.size(); ++i) backup[i] = uint8_t(0xA5 ^ i);
    WriteFile(P("backup.bin"), Bytes(backup));
    const QStringList windowBefore = w.Snapshot(true).filter("Edit=");
    // Offered while Write is off (before any load or read, say), unlike a
    // template before the settings can be edited.
    w.F()->WriteEEPROMBitBtn->setEnabled(false);
    emit w.F()->BackupTemplateBitBtn->menu()->aboutToShow();
    QVERIFY(w.pForm->findChild<QAction*>("RestoreBackupAction")->isEnabled());
    QVERIFY(!w.pForm->findChild<QAction*>("ApplyTemplateAction")->isEnabled());
    w.ChooseFile(P("backup.bin"));
    Trigger(w, "RestoreBackupAction");

    const QString szBackups = w.StateDir.filePath("qrt4250/backups");
    QCOMPARE(QDir::cleanPath(w.Ui.vFileDialogs.at(0).szInitialDir), QDir::cleanPath(szBackups));
    std::vector<uint8_t> holds = nFileSize == 300 ? before : backup;
    if (nFlippedAt >= 0) holds[size_t(nFlippedAt)] ^= 0x01;
    QVERIFY(chip.Eeprom() == holds);
    QCOMPARE(w.F()->WriteEEPROMPercentEdit->text(),
             nFileSize == 300 ? QString() : QString(nFlippedAt < 0 ? "成功" : "失败"));
    if (nFileSize == 300) {
      const std::string szWhy = "\"" + P("backup.bin").toStdString() +
                                "\": 300 bytes; a raw image must be 256, 512, 1024 or 2048 bytes";
      QCOMPARE(w.Ui.Texts(), QStringList{Row(0, MSG_RESTORE_REFUSED, szWhy)});
    } else {
      // What the board held was kept first.
      const QStringList names = QDir(szBackups).entryList(QDir::Files);
      QCOMPARE(names.size(), 1);
      QCOMPARE(ReadFile(szBackups + "/" + names[0]), Bytes(before));
      const QString szStatus = w.pForm->findChild<QLabel*>("StatusLabel")->text();
      // The backup's full path, in the separators of the system.
      const QRegularExpression notRolledBack(QString::fromUtf8("未写回；原有内容保存在 .+[/\\\\]") +
                                             QRegularExpression::escape(names[0]));
      QCOMPARE(szStatus.contains(notRolledBack), nFlippedAt >= 0);
      QVERIFY2(!szStatus.contains(QString::fromUtf8("已写回")), qPrintable(szStatus));
    }
    QStringList windowAfter = w.Snapshot(true).filter("Edit=");
    windowAfter.replaceInStrings(QRegularExpression("^WriteEEPROMPercentEdit=.*"),
                                 "WriteEEPROMPercentEdit=");
    QCOMPARE(windowAfter, windowBefore);
  }

  // Export writes what template export prints for the image Save writes;
  // apply gives the image set --template gives; a refused template shows the
  // command line's reason in the window's language and changes nothing.
  void TemplatesAreTheCommandLines() {
    CWindowFixture w(0);
    const auto built = [&w] {
      uint8_t bt[qrt::image::kMaxImageSize];
      size_t n = 0;
      w.pForm->Session().BuildOutputImage(bt, &n);
      return QByteArray(reinterpret_cast<const char*>(bt), qsizetype(n));
    };
    WriteFile(P("window.bin"), built());
    w.ChooseFile(P("exported"));
    Trigger(w, "ExportTemplateAction");
    const qrt::test::CRun exported = RunCliWith({"template", "export", P("window.bin").toStdString()});
    QCOMPARE(exported.nExit, 0);
    QCOMPARE(ReadFile(P("exported.json")).toStdString(), exported.out);

    const qrt::test::CRun other = RunCliWith(
        {"set", P("window.bin").toStdString(), P("other.bin").toStdString(), "vid=1234",
         "product=Bench Headset", "playDevice=headset"});
    QCOMPARE(other.nExit, 0);
    const qrt::test::CRun tmpl = RunCliWith({"template", "export", P("other.bin").toStdString()});
    WriteFile(P("other.json"), QByteArray::fromStdString(tmpl.out));
    const qrt::test::CRun set = RunCliWith({"set", P("window.bin").toStdString(),
                                            P("set.bin").toStdString(), "--template",
                                            P("other.json").toStdString()});
    QCOMPARE(set.nExit, 0);
    w.ChooseFile(P("other.json"));
    Trigger(w, "ApplyTemplateAction");
    QVERIFY(w.Ui.vBoxes.empty());
    QCOMPARE(built(), ReadFile(P("set.bin")));
    QCOMPARE(w.F()->VIDEdit->text(), QString("1234"));
    QCOMPARE(w.F()->ProductStringEdit->text(), QString("Bench Headset"));

    WriteFile(P("bad.json"), R"({"vid": "1234", "nosuch": 1})");
    const qrt::test::CRun refused = RunCliWith({"set", P("window.bin").toStdString(),
                                                P("x.bin").toStdString(), "--template",
                                                P("bad.json").toStdString()});
    QCOMPARE(refused.nExit, 1);
    const QByteArray image = built();
    for (int nLanguage : {kLanguageChinese, kLanguageEnglish}) {
      if (nLanguage == kLanguageEnglish) w.F()->EnglishPanel->click();
      w.Ui.vBoxes.clear();
      w.ChooseFile(P("bad.json"));
      Trigger(w, "ApplyTemplateAction");
      QCOMPARE(w.Ui.Texts(), QStringList{Row(nLanguage, MSG_TEMPLATE_REFUSED, CliError(refused))});
      QCOMPARE(built(), image);
    }
  }
};

QTEST_MAIN(BackupTemplateTest)
#include "BackupTemplateTest.moc"
