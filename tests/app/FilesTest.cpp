// Image files in the window: load .bin and .hex, refusals that change
// nothing, save with the overwrite question, the default file name, and a
// load + save that gives the command line's bytes.
#include <QDate>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstring>
#include <vector>


#include "ImageFiles.h"
#include "MessageTable.h"
#include "RomDataMgr.h"
#include "SimPlatform.h"
#include "WindowFixture.h"

using namespace qrt::app;
using qrt::app::test::CWindowFixture;

namespace {

std::vector<uint8_t> TestImage(size_t nSize, uint16_t wVID) {
  std::vector<uint8_t> image(nSize, 0xFF);
  std::memcpy(image.data(), qrt::image::g_btDefaultImage, 256);
  image[0x18] = static_cast<uint8_t>(wVID & 0xFF);
  image[0x19] = static_cast<uint8_t>(wVID >> 8);
  return image;
}

void WriteFile(const QString& szPath, const QByteArray& data) {
  QFile file(szPath);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(data), data.size());
}

QByteArray Bytes(const std::vector<uint8_t>& v) {
  return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

QByteArray ReadFile(const QString& szPath) {
  QFile file(szPath);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

FILE_DIALOG_RESULT Chosen(const QString& szPath, int nFilter = 1) {
  FILE_DIALOG_RESULT result;
  result.bAccepted = true;
  result.szPath = szPath;
  result.nFilterIndex = nFilter;
  return result;
}

}  // namespace

class FilesTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CWindowFixture> m_p;
  QTemporaryDir m_Dir;
  Ui::TMainForm* F() { return m_p->F(); }
  QString Path(const char* pszName) { return m_Dir.filePath(pszName); }

 private slots:
  void init() {
    m_p = std::make_unique<CWindowFixture>();
    F()->WriteFileBitBtn->setEnabled(true);  // as after a load
  }
  void cleanup() { m_p.reset(); }

  void LoadBinShowsImageAndEnablesEditing() {
    WriteFile(Path("a.bin"), Bytes(TestImage(512, 0x1234)));
    m_p->Ui.qFiles.push_back(Chosen(Path("a.bin")));
    F()->LoadFileBitBtn->click();
    QCOMPARE(m_p->Ui.vFileDialogs.back().szFilter,
             QString("BIN file(*.bin)|*.bin|HEX file(*.hex)|*.hex"));
    QCOMPARE(m_p->Ui.vFileDialogs.back().szInitialDir, QDir::currentPath());
    QVERIFY(m_p->Ui.vBoxes.empty());
    QCOMPARE(F()->VIDEdit->text(), QString("1234"));
    QCOMPARE(int(m_p->pForm->m_RecOriginalOpt.wVID), 0x1234);
    QCOMPARE(F()->ReadFileSizeEdit->text(), QString("24C04"));
    QCOMPARE(m_p->pForm->Session().GetRomSize(), 512u);
    QCOMPARE(F()->LoadFileEdit->text(), Path("a.bin"));
    QVERIFY(F()->WriteFileBitBtn->isEnabled());
    QVERIFY(F()->WriteEEPROMBitBtn->isEnabled());
    QVERIFY(!F()->ChangeStringBitBtn->isEnabled());
    QVERIFY(F()->VIDEdit->isEnabled());
    QVERIFY(!F()->VIDEdit->isReadOnly());
    QCOMPARE(int(m_p->pForm->m_bFilling), 0);
  }

  void LoadHexAndOddSize() {
    const std::vector<uint8_t> image = TestImage(2048, 0xABCD);
    QByteArray text;
    for (uint8_t bt : image) text += QByteArray::number(bt, 16).rightJustified(2, '0') + "\r\n";
    WriteFile(Path("b.HEX"), text);
    m_p->Ui.qFiles.push_back(Chosen(Path("b.HEX")));
    F()->LoadFileBitBtn->click();
    QVERIFY(m_p->Ui.vBoxes.empty());
    QCOMPARE(F()->VIDEdit->text(), QString("ABCD"));
    QCOMPARE(F()->ReadFileSizeEdit->text(), QString("24C16"));
    // 300 bytes: shown as a 24C02, saved as 300 bytes.
    WriteFile(Path("c.bin"), Bytes(TestImage(300, 0x0102)));
    m_p->Ui.qFiles.push_back(Chosen(Path("c.bin")));
    F()->LoadFileBitBtn->click();
    QCOMPARE(F()->ReadFileSizeEdit->text(), QString("24C02"));
    QCOMPARE(m_p->pForm->Session().GetRomSize(), 300u);
  }

  void RefusedImageChangesNothing_data() {
    QTest::addColumn<QString>("szName");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("nMessage");
    std::vector<uint8_t> noSignature = TestImage(256, 0x1111);
    noSignature[0] = 0xC6;
    std::vector<uint8_t> noBit6 = TestImage(256, 0x1111);
    noBit6[1] &= ~0x40;
    QTest::newRow("byte 0") << "x.bin" << Bytes(noSignature) << 61;
    QTest::newRow("byte 1 bit 6") << "x.bin" << Bytes(noBit6) << 61;
    QTest::newRow("too large") << "x.bin" << Bytes(TestImage(2049, 0x1111)) << 41;
    QTest::newRow("one byte") << "x.bin" << QByteArray(1, char(0xC7)) << 41;
    QTest::newRow("hex letter G") << "x.hex" << QByteArray("C7 6G") << 41;
    QTest::newRow("no extension") << "x.txt" << Bytes(TestImage(256, 0x1111)) << 41;
  }

  void RefusedImageChangesNothing() {
    QFETCH(QString, szName);
    QFETCH(QByteArray, data);
    QFETCH(int, nMessage);
    // A shown result and an AGC/IR bank that a refused load must not touch.
    F()->ReadEEPROMPercentEdit->setText("成功");
    F()->ReadWriteProgressBar->setValue(100);
    m_p->Ui.qAnswers.push_back(kIdOk);  // more EEPROM for the bank
    F()->AGCIRBankCheckBox->setChecked(true);
    QVERIFY(m_p->pForm->Session().AgcIrMgr().IsPresent());
    const QStringList before = m_p->Snapshot();
    const _INTERNAL_OPT original = m_p->pForm->m_RecOriginalOpt;
    const size_t nBoxes = m_p->Ui.vBoxes.size();
    WriteFile(Path(qPrintable(szName)), data);
    m_p->Ui.qFiles.push_back(Chosen(Path(qPrintable(szName))));
    F()->LoadFileBitBtn->click();
    QCOMPARE(m_p->Ui.vBoxes.size(), nBoxes + 1);
    QCOMPARE(m_p->Ui.vBoxes.back().szText, QString::fromUtf8(MessageText(0, nMessage)));
    QCOMPARE(m_p->Snapshot(), before);
    QCOMPARE(std::memcmp(&original, &m_p->pForm->m_RecOriginalOpt, sizeof(original)), 0);
    QVERIFY(m_p->pForm->Session().AgcIrMgr().IsPresent());
    QCOMPARE(F()->ReadWriteProgressBar->value(), 100);
    QCOMPARE(int(m_p->pForm->m_bFilling), 0);
  }

  void CancelledLoadChangesNothing() {
    F()->WriteEEPROMPercentEdit->setText("失败");
    const QStringList before = m_p->Snapshot();
    F()->LoadFileBitBtn->click();  // no path queued: cancelled
    QCOMPARE(m_p->Snapshot().filter("PercentEdit"), before.filter("PercentEdit"));
    QVERIFY(F()->LoadFileBitBtn->isEnabled());
    QVERIFY(F()->WriteFileBitBtn->isEnabled());
    QCOMPARE(int(m_p->pForm->m_bFilling), 0);
  }

  void LoadedAgcBankAsksNothing() {
    // Header byte 0x8F bits 7 and 4: an AGC/IR bank at 256 (no I2C banks).
    std::vector<uint8_t> image = TestImage(512, 0x3A7C);
    image[0x8F] |= 0x90;
    for (int i = 0; i < 32; ++i) image[256 + i] = static_cast<uint8_t>(0x40 + i);
    image[256 + 30] |= 1;
    WriteFile(Path("agc.bin"), Bytes(image));
    m_p->Ui.qFiles.push_back(Chosen(Path("agc.bin")));
    m_p->Ui.qAnswers.push_back(kIdCancel);  // would drop the bank if asked
    F()->LoadFileBitBtn->click();
    QVERIFY(m_p->Ui.vBoxes.empty());
    QVERIFY(F()->AGCIRBankCheckBox->isChecked());
    QVERIFY(F()->IREnableCheckBox->isChecked());
    QVERIFY(m_p->pForm->Session().AgcIrMgr().IsPresent());
    QCOMPARE(F()->NECIRGPONUMEdit->text(),
             QString::asprintf("%.1X", m_p->pForm->Session().AgcIrMgr().GetNecIrGpoNum()));
  }

  // Every sample image, and the two Headset pairings (shown in both lists,
  // stored nowhere): load, save unchanged, and compare with
  // `qrt4250-cli convert` and with the header that was loaded.
  void SaveUnchangedEqualsCliConvert_data() {
    QTest::addColumn<QString>("szIn");
    QDirIterator it(QRT_TEST_DATA_DIR, {"*.bin", "*.hex"}, QDir::Files);
    while (it.hasNext()) {
      const QString szPath = it.next();
      QTest::newRow(qPrintable(QFileInfo(szPath).fileName())) << szPath;
    }
    std::vector<uint8_t> playHeadset = TestImage(256, 0x3A7C);
    playHeadset[0x04] = 0x21;  // play low digit 2, record low digit 1
    playHeadset[0x91] = 0x04;  // play high digit 4
    WriteFile(Path("play-headset.bin"), Bytes(playHeadset));
    QTest::newRow("play 4/2, record 2/1") << Path("play-headset.bin");
    std::vector<uint8_t> recordHeadset = TestImage(256, 0x3A7C);
    recordHeadset[0x04] = 0x12;  // play low digit 1, record low digit 2
    recordHeadset[0x90] = 0x24;  // record high digit 4, second record terminal 2/x
    WriteFile(Path("record-headset.bin"), Bytes(recordHeadset));
    QTest::newRow("play 3/1, record 4/2") << Path("record-headset.bin");
  }

  void SaveUnchangedEqualsCliConvert() {
    QFETCH(QString, szIn);
    m_p->Ui.qFiles.push_back(Chosen(szIn));
    F()->LoadFileBitBtn->click();
    QVERIFY(m_p->Ui.vBoxes.empty());
    QCOMPARE(F()->PlaySettingComboBox->currentIndex() == 1,
             F()->RecordSettingComboBox->currentIndex() == 1);
    m_p->Ui.qFiles.push_back(Chosen(Path("window")));
    F()->WriteFileBitBtn->click();
    const QByteArray window = ReadFile(Path("window.bin"));

    QProcess cli;
    // The absolute path: on Windows a leading "/" would read as an option.
    cli.start(QRT_CLI_PATH, {"convert", QFileInfo(szIn).absoluteFilePath(), Path("cli.bin")});
    QVERIFY(cli.waitForFinished());
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(window, ReadFile(Path("cli.bin")));

    uint8_t btIn[qrt::image::kRomBufferSize];
    size_t nIn = 0;
    const std::string szPath = szIn.toStdString();
    QCOMPARE(szIn.endsWith(".hex")
                 ? qrt::image::ReadHexFile(szPath, btIn, qrt::image::kMaxImageSize, &nIn)
                 : qrt::image::ReadBinFile(szPath, btIn, qrt::image::kMaxImageSize, &nIn),
             qrt::image::kReadOk);
    QCOMPARE(size_t(window.size()), nIn);
    QCOMPARE(window.left(256), QByteArray(reinterpret_cast<const char*>(btIn), 256));
  }

  void SaveWithOverwriteQuestion() {
    const QString szName = QString("QRT4250-VID=3A7C-PID=4250-24C02-") +
                           QDateTime::currentDateTimeUtc().date().toString("yyyyMMdd");
    WriteFile(Path("out.bin"), "old");
    m_p->Ui.qFiles.push_back(Chosen(Path("out")));
    m_p->Ui.qAnswers.push_back(kIdCancel);
    F()->WriteFileBitBtn->click();
    QCOMPARE(m_p->Ui.vFileDialogs.back().szFileName, szName);
    QCOMPARE(m_p->Ui.vFileDialogs.back().szFilter,
             QString("BIN files(*.bin)|*.bin|HEX files(*.hex)|*.hex"));
    QCOMPARE(m_p->Ui.vBoxes.back().szText, QString("是否覆盖当前文件内容?"));
    QCOMPARE(ReadFile(Path("out.bin")), QByteArray("old"));
    QCOMPARE(F()->WriteFileEdit->text(), QString());
    QVERIFY(m_p->pForm->Timer1()->isActive());

    m_p->Ui.qFiles.push_back(Chosen(Path("out")));
    m_p->Ui.qAnswers.push_back(kIdOk);
    F()->WriteFileBitBtn->click();
    const QByteArray saved = ReadFile(Path("out.bin"));
    QCOMPARE(saved.size(), 256);
    QCOMPARE(uint8_t(saved[0]), uint8_t(0xC7));
    QCOMPARE(F()->WriteFileEdit->text(), Path("out.bin"));
  }

  void SaveHexAndReload() {
    m_p->Ui.qFiles.push_back(Chosen(Path("image"), 2));
    F()->WriteFileBitBtn->click();
    const QByteArray text = ReadFile(Path("image.hex"));
    QCOMPARE(text.size(), 768);
    QCOMPARE(text.left(3), QByteArray("C7\r"));
    QCOMPARE(F()->WriteFileEdit->text(), Path("image.hex"));
  }

  void SaveFailureShowsMessage42() {
    m_p->Ui.qFiles.push_back(Chosen(Path("missing-dir/x.bin")));
    F()->WriteFileBitBtn->click();
    QVERIFY(!m_p->Ui.vBoxes.empty());
    // Message 42, then the file and why.
    QCOMPARE(m_p->Ui.vBoxes.back().szText,
             QString("保存文件失败\n") + Path("missing-dir/x.bin") + ": No such file or directory");
    QCOMPARE(F()->WriteFileEdit->text(), QString());
  }

  void SaveCancelledRestartsPoll() {
    m_p->pForm->Timer1()->stop();
    F()->WriteFileBitBtn->click();
    QVERIFY(m_p->pForm->Timer1()->isActive());
    QVERIFY(m_p->Ui.vBoxes.empty());
  }
};

QTEST_MAIN(FilesTest)
#include "FilesTest.moc"
