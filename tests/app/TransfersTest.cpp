// EEPROM read and write through the window on the simulated chip (virtual
// clock): the size dialog, PASS / FAIL, faults, the I2C registers, the
// timing switch, the AGC/IR bank, the log files, a close during a transfer.
#ifndef _WIN32
#include <unistd.h>
#endif

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#ifndef _WIN32
#include "PrivateMounts.h"
#endif
#include "CliRun.h"
#include "ImageFiles.h"
#include "LogManager.h"
#include "MessageTable.h"
#include "ReadEEPROMForm.h"
#include "RomDataMgr.h"
#include "SampleImages.h"
#include "SimFaultOptions.h"
#include "SimTestSupport.h"
#include "WindowFixture.h"
#include "WriteOutcome.h"
#include "ui_UReadEEPROMForm.h"

using namespace qrt::app;
using qrt::app::test::CWindowFixture;
using qrt::app::test::PickSize;
using qrt::app::test::SizeItem;

namespace {

std::vector<uint8_t> SignedImage(size_t nSize, uint16_t wVID) {
  std::vector<uint8_t> image(nSize, 0xFF);
  std::memcpy(image.data(), qrt::image::g_btDefaultImage, 256);
  image[0x18] = static_cast<uint8_t>(wVID & 0xFF);
  image[0x19] = static_cast<uint8_t>(wVID >> 8);
  return image;
}

QColor BaseColour(QLineEdit* pEdit) {
  return pEdit->palette().color(QPalette::Base);
}

}  // namespace

class TransfersTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CWindowFixture> m_p;
  QTemporaryDir m_Dir;
  Ui::TMainForm* F() { return m_p->F(); }
  qrt::sim::CSimChip& Chip() { return m_p->Sim.Chip(0); }

  void MakeFixture(uint32_t dwEepromSize) {
    m_p = std::make_unique<CWindowFixture>(0);
    m_p->PlugBoard(dwEepromSize);
    QCOMPARE(int(m_p->pForm->m_DeviceId.Number), 1);
  }

  void SetFaults(const char* pszSpec) {
    qrt::sim::SIM_FAULTS faults;
    qrt::sim::SIM_CHIP_CONFIG config = Chip().Config();
    std::string szError;
    QVERIFY2(qrt::sim::ParseSimFaultSpec(pszSpec, faults, config, szError), szError.c_str());
    Chip().SetFaults(faults);
  }

  std::vector<uint8_t> BuiltImage() {
    uint8_t btOut[qrt::image::kMaxImageSize];
    size_t nSize = 0;
    m_p->pForm->Session().BuildOutputImage(btOut, &nSize);
    return std::vector<uint8_t>(btOut, btOut + nSize);
  }

  // Brings an image into the window the way a user does: from a .bin file,
  // or by reading the simulated EEPROM (which then holds the image).
  void LoadImage(const std::vector<uint8_t>& image, bool bFromEeprom) {
    if (bFromEeprom) {
      Chip().SetEepromContents(image.data(), image.size());
      m_p->Ui.fnModal = PickSize(SizeItem(static_cast<uint32_t>(image.size())));
      F()->ReadEEPROMBitBtn->click();
      QCOMPARE(F()->ReadEEPROMPercentEdit->text(), QString("成功"));
    } else {
      QFile file(m_Dir.filePath("image.bin"));
      QVERIFY(file.open(QIODevice::WriteOnly));
      QCOMPARE(file.write(reinterpret_cast<const char*>(image.data()), qint64(image.size())),
               qint64(image.size()));
      file.close();
      FILE_DIALOG_RESULT chosen;
      chosen.bAccepted = true;
      chosen.szPath = file.fileName();
      m_p->Ui.qFiles.push_back(chosen);
      F()->LoadFileBitBtn->click();
    }
    QCOMPARE(m_p->pForm->Session().GetRomSize(), uint32_t(image.size()));
  }

  // The boxes that showed one table message.
  int CountBoxes(int nMessage) const {
    return int(m_p->Ui.Texts().count(QString::fromUtf8(MessageText(0, nMessage))));
  }

 private slots:
  void cleanup() {
    m_p.reset();
    QDir::setCurrent(QCoreApplication::applicationDirPath());
  }

#ifndef _WIN32
  // The shared lock folder belongs to another user (it made it first): the
  // window falls back to /tmp/qrt4250-locks and its log says so, once.
  // Private /run and /tmp, in a child process. First among the tests: later
  // ones leave Qt's helper threads behind, and a process with threads is not
  // forked.
  void LockFolderFallBackIsLogged() {
    // Fork only with no thread but Qt Test's watchdog (it waits, holding nothing).
    for (const QString& szTask : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
      QFile comm("/proc/self/task/" + szTask + "/comm");
      if (szTask.toLongLong() != ::getpid() && comm.open(QIODevice::ReadOnly) &&
          comm.readAll().trimmed() != "QtTest Watchdog") {
        QSKIP("the test process runs threads; it cannot fork safely");
      }
    }
    const int nResult = qrt::test::RunWithPrivateRunAndTmp([this] {
      if (::mkdir("/run/lock/qrt4250", 01777) != 0 || ::chmod("/run/lock/qrt4250", 01777) != 0 ||
          ::chown("/run/lock/qrt4250", 4242, 4242) != 0) {
        return 10;
      }
      MakeFixture(256);
      m_p->MakeForm(true);
      QTemporaryDir dir;
      QDir::setCurrent(dir.path());
      const std::string szDir = dir.path().toStdString();
      m_p->pForm->ReplaceLogManager(std::make_unique<qrt::diag::CLogManager>(
          [] { return qrt::diag::SLocalTime{2024, 3, 5, 15, 30, 5}; }, [szDir] { return szDir; }));
      m_p->pForm->OnHotKey('L');
      m_p->Ui.fnModal = PickSize(0);
      F()->ReadEEPROMBitBtn->click();
      F()->ReadEEPROMBitBtn->click();
      if (F()->ReadEEPROMPercentEdit->text() != QString("成功")) return 1;
      QFile log(dir.filePath("2024_0305_LogFile.txt"));
      if (!log.open(QIODevice::ReadOnly)) return 2;
      const QByteArray text = log.readAll();
      const QByteArray notice =
          "Device lock: /run/lock/qrt4250 cannot be used (the lock folder belongs to another "
          "user, or others may write to it without the sticky bit): the device lock falls back "
          "to /tmp/qrt4250-locks";
      if (text.count(notice) != 1) return 3;
      return 0;
    });
    if (nResult < 0) QSKIP("no private mount namespace (needs root)");
    QCOMPARE(nResult, 0);
  }
#endif

  void ReadEachSize_data() {
    QTest::addColumn<int>("nItem");
    QTest::addColumn<uint>("dwSize");
    QTest::newRow("24C02") << 0 << 256u;
    QTest::newRow("24C04") << 1 << 512u;
    QTest::newRow("24C08") << 2 << 1024u;
    QTest::newRow("24C16") << 3 << 2048u;
  }

  void ReadEachSize() {
    QFETCH(int, nItem);
    QFETCH(uint, dwSize);
    MakeFixture(dwSize);
    const std::vector<uint8_t> image = SignedImage(dwSize, 0x1357);
    Chip().SetEepromContents(image.data(), image.size());
    m_p->Ui.fnModal = PickSize(nItem);
    QStringList percents;
    m_p->pForm->SetProcessPendingMessages([&] { percents << F()->ReadEEPROMPercentEdit->text(); });
    F()->ReadEEPROMBitBtn->click();
    QCOMPARE(m_p->Ui.nModalShows, 1);
    QVERIFY(percents.contains("100%"));
    QVERIFY(!percents.contains("101%"));
    QCOMPARE(F()->ReadEEPROMPercentEdit->text(), QString("成功"));
    QCOMPARE(BaseColour(F()->ReadEEPROMPercentEdit), QColor(0, 255, 0));
    QCOMPARE(F()->ReadWriteProgressBar->value(), 0);
    QCOMPARE(m_p->Ui.Texts(), QStringList{"Load data from EEPROM OK!"});
    QCOMPARE(F()->VIDEdit->text(), QString("1357"));
    QCOMPARE(m_p->pForm->Session().GetRomSize(), dwSize);
    QCOMPARE(F()->ReadRomSizeEdit->text(), QString::fromLatin1(qrt::image::EepromTypeText(dwSize)));
    QCOMPARE(F()->ReadEEPROMRomSizeComboBox->currentIndex(), nItem);
    QVERIFY(F()->VIDEdit->isEnabled());
    QVERIFY(F()->ReadEEPROMBitBtn->isEnabled());
    QVERIFY(m_p->pForm->Timer1()->isActive());
    QVERIFY(std::memcmp(m_p->pForm->m_btLoadBuffer, image.data(), dwSize) == 0);
    // Switching the language translates the result and keeps its colour.
    F()->EnglishPanel->click();
    QCOMPARE(F()->ReadEEPROMPercentEdit->text(), QString("PASS"));
    QCOMPARE(BaseColour(F()->ReadEEPROMPercentEdit), QColor(0, 255, 0));
  }

  void SizeDialogPreselectsAndTypedText() {
    MakeFixture(256);
    TReadEEPROMForm* pDialog = m_p->pForm->ReadEEPROMForm();
    pDialog->SetLanguage(1);
    pDialog->SetRomSize(2048);
    pDialog->Formshow();
    QCOMPARE(pDialog->Form()->ComboBox1->currentText(), QString("24C16"));
    QCOMPARE(pDialog->Form()->Button1->text(), QString("OK"));
    int nItem = -2;
    uint32_t dwSize = 0;
    pDialog->GetItemIndex(nItem);
    pDialog->GetRomSize(dwSize);
    QCOMPARE(nItem, 3);
    QCOMPARE(dwSize, 2048u);
    pDialog->SetRomSize(4096);
    pDialog->Formshow();
    pDialog->GetItemIndex(nItem);
    pDialog->GetRomSize(dwSize);
    QCOMPARE(nItem, 0);
    QCOMPARE(dwSize, 4096u);
    pDialog->Form()->ComboBox1->setEditText("24C99");
    pDialog->OnReadEEPROMChange();
    pDialog->GetItemIndex(nItem);
    pDialog->GetRomSize(dwSize);
    QCOMPARE(nItem, -1);
    QCOMPARE(dwSize, 256u);
    // The window reads what the index says: 256 bytes for a 4096 preset.
    m_p->pForm->Session().SetRomSize(4096);
    m_p->Ui.fnModal = PickSize(-1);
    F()->ReadEEPROMBitBtn->click();
    QCOMPARE(m_p->pForm->Session().GetRomSize(), 256u);
  }

  void ReadWithoutSignatureChangesNothing() {
    MakeFixture(256);  // the simulated EEPROM is blank (0xFF)
    m_p->Ui.fnModal = PickSize(0);
    const QStringList before = m_p->Snapshot();
    F()->ReadEEPROMBitBtn->click();
    QCOMPARE(F()->ReadEEPROMPercentEdit->text(), QString("成功"));
    QVERIFY(m_p->Ui.Texts().contains(QString::fromUtf8(MessageText(0, 61))));
    // Settings as before (the editor is enabled after every read).
    QStringList after = m_p->Snapshot();
    const QRegularExpression settings(
        "^(VIDEdit|PIDEdit|SerialNumberEdit|ProductStringEdit|"
        "PlayVolumeDefaultComboBox|IFGainComboBox|MixMuteCheckBox)");
    QStringList beforeSettings = before.filter(settings);
    for (QString& s : beforeSettings) s.remove(" (disabled)");
    for (QString& s : after) s.remove(" (disabled)");
    QCOMPARE(after.filter(settings), beforeSettings);
  }

  void FailedReadKeepsControls() {
    MakeFixture(512);
    const std::vector<uint8_t> image = SignedImage(512, 0x2468);
    Chip().SetEepromContents(image.data(), image.size());
    m_p->Ui.fnModal = PickSize(1);
    SetFaults("fail-input:400");
    F()->ReadEEPROMBitBtn->click();
    QCOMPARE(F()->ReadEEPROMPercentEdit->text(), QString("失败"));
    QCOMPARE(BaseColour(F()->ReadEEPROMPercentEdit), QColor(255, 0, 0));
    QVERIFY(m_p->Ui.Texts().contains("Load data from EEPROM failed!"));
    QCOMPARE(F()->VIDEdit->text(), QString("3A7C"));
    // The bytes read before the failure, then 0xFF.
    const uint8_t* pBuffer = m_p->pForm->m_btLoadBuffer;
    QCOMPARE(pBuffer[0], uint8_t(0xC7));
    QCOMPARE(pBuffer[511], uint8_t(0xFF));
    QVERIFY(pBuffer[0x19] == 0x24 || pBuffer[0x19] == 0xFF);
  }

  void WriteAndVerifyEachSize_data() {
    QTest::addColumn<uint>("dwSize");
    QTest::newRow("24C02") << 256u;
    QTest::newRow("24C04") << 512u;
    QTest::newRow("24C08") << 1024u;
    QTest::newRow("24C16") << 2048u;
  }

  void WriteAndVerifyEachSize() {
    QFETCH(uint, dwSize);
    MakeFixture(dwSize);
    m_p->pForm->Session().SetRomSize(dwSize);
    // With a bank behind the header when there is room for one.
    if (dwSize >= 512) {
      F()->AGCIRBankCheckBox->setChecked(true);
      QVERIFY(m_p->pForm->Session().AgcIrMgr().IsPresent());
    }
    F()->WriteEEPROMBitBtn->setEnabled(true);
    QStringList percents;
    m_p->pForm->SetProcessPendingMessages([&] { percents << F()->WriteEEPROMPercentEdit->text(); });
    F()->WriteEEPROMBitBtn->click();
    QCOMPARE(F()->WriteEEPROMPercentEdit->text(), QString("成功"));
    QCOMPARE(BaseColour(F()->WriteEEPROMPercentEdit), QColor(0, 255, 0));
    QVERIFY(percents.contains("70%"));
    QVERIFY(percents.contains("100%"));
    QCOMPARE(m_p->Ui.vBoxes.size(), size_t(0));
    const std::vector<uint8_t> built = BuiltImage();
    QCOMPARE(built.size(), size_t(dwSize));
    QVERIFY(Chip().Eeprom().size() >= dwSize);
    QVERIFY(std::equal(built.begin(), built.end(), Chip().Eeprom().begin()));
    if (dwSize >= 512) QCOMPARE(int(Chip().Eeprom()[256]), 0xFD);
    QVERIFY(Chip().Violations().empty());
  }

  // A read-back that differs shows no box: the FAIL's tooltip and the
  // status line say where and what the EEPROM holds, in either language,
  // until the next transfer.
  void BitFlipFailsWithoutBox() {
    MakeFixture(256);
    SetFaults("flip:0x40");
    F()->WriteEEPROMBitBtn->setEnabled(true);
    F()->WriteEEPROMBitBtn->click();
    QCOMPARE(F()->WriteEEPROMPercentEdit->text(), QString("失败"));
    QCOMPARE(BaseColour(F()->WriteEEPROMPercentEdit), QColor(255, 0, 0));
    QVERIFY(m_p->Ui.vBoxes.empty());
    QCOMPARE(F()->WriteProgressBar->value(), 100);
  }

  // Another program holds the board's lock (here another task: simulated
  // boards lock within the process): the write ends as FAIL with a plain
  // message naming the holder and nothing reaches the EEPROM; Read and
  // Write wait for the poll that finds the lock free (no freeze).
  void WriteWhileAnotherProgramHoldsTheBoard() {
    MakeFixture(256);
    const std::vector<uint8_t> before = Chip().Eeprom();
    std::promise<void> held, done;
    std::thread holder([&] {
      auto pBoard = qrt::test::OpenSimBoard(m_p->Sim);
      held.set_value();
      done.get_future().wait();
    });
    held.get_future().wait();
    uint32_t dwWaited = 0;
    m_p->pForm->SetDeviceLockSleep([&](uint32_t dwMs) { dwWaited += dwMs; });
    F()->WriteEEPROMBitBtn->setEnabled(true);
    F()->WriteEEPROMBitBtn->click();
    QCOMPARE(dwWaited, uint32_t(TMainForm::kDeviceLockWaitMs));
    QCOMPARE(F()->WriteEEPROMPercentEdit->text(), QString("失败"));
    const QStringList texts = m_p->Ui.Texts();
    QCOMPARE(texts.size(), 1);
    QVERIFY2(texts[0].contains("is held by another task of this program"), qPrintable(texts[0]));
    QVERIFY(Chip().Eeprom() == before);
    QVERIFY(!F()->WriteEEPROMBitBtn->isEnabled());
    QVERIFY(F()->LoadFileBitBtn->isEnabled());
    done.set_value();
    holder.join();
    m_p->pForm->Timer1Timer();
    QVERIFY(F()->WriteEEPROMBitBtn->isEnabled());
  }

  // The board was read, so its backup is at hand and the fault hits the
  // write itself; the rollback then finds the board gone.
  void UnplugMidWrite() {
    MakeFixture(256);
    m_p->Ui.fnModal = PickSize(0);
    F()->ReadEEPROMBitBtn->click();
    SetFaults("unplug:300");
    F()->WriteEEPROMBitBtn->setEnabled(true);
    F()->WriteEEPROMBitBtn->click();
    QCOMPARE(F()->WriteEEPROMPercentEdit->text(), QString("失败"));
    // The box says how far the write got.
    const QStringList texts = m_p->Ui.Texts().filter("Write data to EEPROM failed!\nbytes 0x0000-");
    QCOMPARE(texts.size(), 1);
    QVERIFY(texts[0].endsWith(", the rest is unchanged"));
    QVERIFY(F()->WriteProgressBar->value() < 70);
  }

  void I2CRegisters() {
    MakeFixture(256);
    F()->WriteEEPROMBitBtn->setEnabled(true);
    // The registers as the transfer runs (looked at from its progress).
    int nEnable = -1, nSpeed = -1;
    m_p->pForm->SetProcessPendingMessages([&] {
      nEnable = Chip().PeekRegister(0x0100);
      nSpeed = Chip().PeekRegister(0x0111);
    });
    m_p->pForm->m_dwI2CSpeed = 0x40;  // ignored while the I2C box is off
    F()->WriteEEPROMBitBtn->click();
    QCOMPARE(nEnable & 1, 1);
    QCOMPARE(nSpeed, 0x20);
    QCOMPARE(m_p->pForm->m_dwI2CSpeed, 0x20u);
    m_p->pForm->OnHotKey(0x0D);
    F()->EnableI2CCheckBox->setChecked(true);
    F()->I2CEdit->setText("40");
    F()->WriteEEPROMBitBtn->click();
    QCOMPARE(nSpeed, 0x40);
    QCOMPARE(F()->WriteEEPROMPercentEdit->text(), QString("成功"));
  }

  void RWTimeOffUsesDefaults() {
    MakeFixture(256);
    m_p->Ui.fnModal = PickSize(0);
    auto elapsed = [&] {
      const uint32_t dwStart = m_p->Sim.GetTickCount();
      F()->ReadEEPROMBitBtn->click();
      return m_p->Sim.GetTickCount() - dwStart;
    };
    const uint32_t dwDefault = elapsed();
    F()->ReadContinuousEdit->setText("40");
    QCOMPARE(m_p->pForm->m_dwReadSleepTime, 40u);
    QCOMPARE(elapsed(), dwDefault);  // RWTime off: 5 ms per byte all the same
    m_p->pForm->OnHotKey('M');
    QCOMPARE(m_p->pForm->m_bRWTimeEnabled, 1);
    QVERIFY(elapsed() > dwDefault + 256 * 30);
  }

  void AgcBankAddAt256AndGpoDigit() {
    MakeFixture(512);
    m_p->pForm->EnableSettingControls(true);
    m_p->Ui.qAnswers.push_back(kIdOk);
    F()->AGCIRBankCheckBox->setChecked(true);
    QCOMPARE(m_p->Ui.vBoxes.back().szText, QString::fromUtf8(MessageText(0, 71)));
    QCOMPARE(m_p->pForm->Session().GetRomSize(), 512u);
    QCOMPARE(F()->ReadFileSizeEdit->text(), QString("24C04"));
    std::vector<uint8_t> built = BuiltImage();
    QCOMPARE(built.size(), size_t(512));
    QCOMPARE(int(built[256]), 0xFD);
    QCOMPARE(int(built[257]), 0x46);
    QCOMPARE(int(built[258]), 0x33);
    QCOMPARE(int(built[259]), 0x41);
    // The controls show the new bank.
    QCOMPARE(F()->NECIRGPONUMEdit->text(),
             QString::asprintf("%.1X", m_p->pForm->Session().AgcIrMgr().GetNecIrGpoNum()));
    F()->NECIRGPONUMEdit->setText("A");
    QCOMPARE(m_p->pForm->Session().AgcIrMgr().GetNecIrGpoNum(), 10);
    F()->NECIRGPONUMEdit->setText("G");
    QCOMPARE(m_p->pForm->Session().AgcIrMgr().GetNecIrGpoNum(), 0);
    F()->IREnableCheckBox->setChecked(true);
    QCOMPARE(m_p->pForm->Session().AgcIrMgr().GetIrEnable(), 1);
    // At 512 there is room: no question.
    const size_t nBoxes = m_p->Ui.vBoxes.size();
    F()->AGCIRBankCheckBox->setChecked(false);
    QVERIFY(!m_p->pForm->Session().AgcIrMgr().IsPresent());
    F()->AGCIRBankCheckBox->setChecked(true);
    QCOMPARE(m_p->Ui.vBoxes.size(), nBoxes);
    QCOMPARE(m_p->pForm->Session().AgcIrMgr().GetIrEnable(), 0);  // defaults again
    QVERIFY(!F()->IREnableCheckBox->isChecked());
  }

  void AgcBankCancelKeepsSize() {
    MakeFixture(256);
    m_p->Ui.qAnswers.push_back(kIdCancel);
    F()->AGCIRBankCheckBox->setChecked(true);
    QVERIFY(!F()->AGCIRBankCheckBox->isChecked());
    QVERIFY(!m_p->pForm->Session().AgcIrMgr().IsPresent());
    QCOMPARE(m_p->pForm->Session().GetRomSize(), 256u);
  }

  // Adding the AGC/IR bank to a loaded image whose EQ banks already take
  // nEq * 16 bytes behind the header.
  void AgcBankCodeSizeCheck_data() {
    QTest::addColumn<bool>("bFromEeprom");
    QTest::addColumn<uint>("dwSize");
    QTest::addColumn<int>("nEq");
    QTest::addColumn<int>("nAnswer");   // to the code-size question; 0 = none queued
    QTest::addColumn<int>("nMessage");  // box the click shows; 0 = none
    QTest::addColumn<bool>("bAdded");
    QTest::addColumn<uint>("dwSizeAfter");
    // 512: room while u + 32 <= 256.
    QTest::newRow("512 file, 224 bytes") << false << 512u << 14 << 0 << 0 << true << 512u;
    QTest::newRow("512 read, 224 bytes") << true << 512u << 14 << 0 << 0 << true << 512u;
    QTest::newRow("512 file, 240 bytes, OK") << false << 512u << 15 << kIdOk << 71 << true << 1024u;
    QTest::newRow("512 read, 240 bytes, OK") << true << 512u << 15 << kIdOk << 71 << true << 1024u;
    QTest::newRow("512 file, 240 bytes, Cancel")
        << false << 512u << 15 << kIdCancel << 71 << false << 512u;
    QTest::newRow("512 read, 240 bytes, Cancel")
        << true << 512u << 15 << kIdCancel << 71 << false << 512u;
    // 1024: room while u + 32 <= 768.
    QTest::newRow("1024 file, 736 bytes") << false << 1024u << 46 << 0 << 0 << true << 1024u;
    QTest::newRow("1024 file, 752 bytes, OK")
        << false << 1024u << 47 << kIdOk << 71 << true << 2048u;
    // 2048: the banks may fill the 24C16; beyond it there is nothing to offer.
    QTest::newRow("2048 file, 1760 bytes") << false << 2048u << 110 << 0 << 0 << true << 2048u;
    QTest::newRow("2048 file, 1776 bytes")
        << false << 2048u << 111 << kIdOk << 73 << false << 2048u;
    QTest::newRow("2048 read, 1776 bytes") << true << 2048u << 111 << kIdOk << 73 << false << 2048u;
  }

  void AgcBankCodeSizeCheck() {
    QFETCH(bool, bFromEeprom);
    QFETCH(uint, dwSize);
    QFETCH(int, nEq);
    QFETCH(int, nAnswer);
    QFETCH(int, nMessage);
    QFETCH(bool, bAdded);
    QFETCH(uint, dwSizeAfter);
    MakeFixture(dwSize);
    qrt::test::CBankLayout layout;
    layout.nEq = nEq;
    layout.nSize = dwSize;
    LoadImage(qrt::test::ImageWithBanks(layout), bFromEeprom);
    QCOMPARE(m_p->pForm->Session().EQGainMgr().GetCount(), nEq);
    QVERIFY(!F()->AGCIRBankCheckBox->isChecked());
    QVERIFY(F()->AGCIRBankCheckBox->isEnabled());

    const size_t nBoxes = m_p->Ui.vBoxes.size();
    if (nAnswer != 0) m_p->Ui.qAnswers.push_back(nAnswer);
    F()->AGCIRBankCheckBox->click();
    QCOMPARE(m_p->Ui.vBoxes.size(), nBoxes + (nMessage ? 1 : 0));
    if (nMessage != 0) {
      QCOMPARE(m_p->Ui.vBoxes.back().szText, QString::fromUtf8(MessageText(0, nMessage)));
      QCOMPARE(m_p->Ui.vBoxes.back().bOkCancel, nMessage == 71);
    }
    QCOMPARE(F()->AGCIRBankCheckBox->isChecked(), bAdded);
    QCOMPARE(m_p->pForm->Session().AgcIrMgr().IsPresent(), bAdded ? 1 : 0);
    QCOMPARE(m_p->pForm->Session().GetRomSize(), dwSizeAfter);
    QLineEdit* pShown = bFromEeprom ? F()->ReadRomSizeEdit : F()->ReadFileSizeEdit;
    QCOMPARE(pShown->text(), QString::fromLatin1(qrt::image::EepromTypeText(dwSizeAfter)));

    // The image built now: the new bank at 256, the EQ banks behind it.
    const std::vector<uint8_t> built = BuiltImage();
    QCOMPARE(built.size(), size_t(dwSizeAfter));
    const size_t nEqAt = bAdded ? 288 : 256;
    QCOMPARE(int(built[0x8E] & 0x3F), int(nEqAt / 16));
    QCOMPARE(bool(built[0x8F] & 0x10), bAdded);
    if (bAdded) {
      const uint8_t* pBank = built.data() + 256;
      QVERIFY(std::equal(pBank, pBank + 32, CAgcIrMgr::s_btDefaultBank));
    }
    for (const int i : {0, nEq - 1}) {  // the first and the last EQ bank
      const std::vector<uint8_t> bank = qrt::test::SampleEqBank(i, i == nEq - 1);
      QVERIFY2(std::equal(bank.begin(), bank.end(), built.begin() + long(nEqAt + 16 * size_t(i))),
               qPrintable(QString("EQ bank %1").arg(i)));
    }
    QVERIFY(std::all_of(built.begin() + long(nEqAt + 16 * size_t(nEq)), built.end(),
                        [](uint8_t bt) { return bt == 0xFF; }));
  }

  // An image with one I2C initialisation bank and the AGC/IR bank (and EQ
  // banks behind): the bank comes in locked and goes out as it was read.
  void LoadedI2CAndAgcBanksKeepBytes_data() {
    QTest::addColumn<bool>("bFromEeprom");
    QTest::addColumn<int>("nEq");
    QTest::newRow("file") << false << 0;
    QTest::newRow("file with EQ banks") << false << 2;
    QTest::newRow("EEPROM read") << true << 0;
    QTest::newRow("EEPROM read with EQ banks") << true << 2;
  }

  void LoadedI2CAndAgcBanksKeepBytes() {
    QFETCH(bool, bFromEeprom);
    QFETCH(int, nEq);
    MakeFixture(512);
    qrt::test::CBankLayout layout;
    layout.nI2C = 1;
    layout.bAgc = true;
    layout.nEq = nEq;
    layout.nSize = 512;
    const std::vector<uint8_t> image = qrt::test::ImageWithBanks(layout);
    m_p->Ui.qAnswers.push_back(kIdCancel);  // would drop the bank if asked
    LoadImage(image, bFromEeprom);
    QCOMPARE(CountBoxes(71), 0);
    QCOMPARE(m_p->Ui.vBoxes.size(), size_t(bFromEeprom ? 1 : 0));  // the read's OK box
    QVERIFY(F()->AGCIRBankCheckBox->isChecked());
    QVERIFY(!F()->AGCIRBankCheckBox->isEnabled());
    QVERIFY(F()->IREnableCheckBox->isChecked());
    QCOMPARE(F()->NECIRGPONUMEdit->text(), QString("5"));
    QCOMPARE(m_p->pForm->Session().AgcIrMgr().IsPresent(), 1);
    QCOMPARE(m_p->pForm->Session().ReadAGCFromOutSide(), 1);
    QCOMPARE(m_p->pForm->Session().I2CInitMgr().GetCount(), 1);
    // A program change cannot remove the bank either while the I2C bank
    // precedes it.
    F()->AGCIRBankCheckBox->setChecked(false);
    QVERIFY(F()->AGCIRBankCheckBox->isChecked());
    QCOMPARE(m_p->pForm->Session().AgcIrMgr().IsPresent(), 1);

    std::vector<uint8_t> expected = qrt::test::SampleAgcBank();
    expected[5] &= 0xFC;
    expected[7] &= 0xFC;
    expected[10] &= 0x3F;
    expected[31] |= 0x7F;
    const std::vector<uint8_t> built = BuiltImage();
    QCOMPARE(built.size(), size_t(512));
    const std::vector<uint8_t> i2c = qrt::test::SampleI2CBank(0);
    QVERIFY(std::equal(i2c.begin(), i2c.end(), built.begin() + 256));
    QCOMPARE(std::vector<uint8_t>(built.begin() + 288, built.begin() + 320), expected);
    QCOMPARE(int(built[0x8F] & 0x90), 0x90);
    QCOMPARE(int(built[0x8E] & 0x3F), 320 / 16);
    for (int i = 0; i < nEq; ++i) {
      const std::vector<uint8_t> bank = qrt::test::SampleEqBank(i, i == nEq - 1);
      QVERIFY(std::equal(bank.begin(), bank.end(), built.begin() + 320 + 16 * i));
    }
    // The same bytes reach the EEPROM.
    F()->WriteEEPROMBitBtn->click();
    QCOMPARE(F()->WriteEEPROMPercentEdit->text(), QString("成功"));
    QVERIFY(std::equal(built.begin(), built.end(), Chip().Eeprom().begin()));
  }

  void LogFilesOfReadAndWrites() {
    MakeFixture(256);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const std::string szDir = dir.path().toStdString();
    m_p->pForm->ReplaceLogManager(std::make_unique<qrt::diag::CLogManager>(
        [] { return qrt::diag::SLocalTime{2024, 3, 5, 15, 30, 5}; }, [szDir] { return szDir; }));
    qrt::diag::CLogManager::ResetDumpCounterForTests();
    // Logging off: nothing.
    m_p->Ui.fnModal = PickSize(0);
    F()->ReadEEPROMBitBtn->click();
    QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());

    m_p->pForm->OnHotKey('L');
    QCOMPARE(m_p->pForm->m_bLogEnabled, 1);
    F()->ReadEEPROMBitBtn->click();
    F()->WriteEEPROMBitBtn->click();
    // A write sends only what differs from what the board was verified to
    // hold: the new VID's low byte, which the fault corrupts.
    const std::vector<uint8_t> verified = BuiltImage();
    F()->VIDEdit->setText("1234");
    QCOMPARE(BuiltImage()[0x18], uint8_t(0x34));
    SetFaults("flip:0x18");
    F()->WriteEEPROMBitBtn->click();
    QFile log(dir.filePath("2024_0305_LogFile.txt"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    QVERIFY(text.contains("===  READ EEPROM  ===\r\n"));
    QVERIFY(text.contains("===  WRITE EEPROM  ===\r\n"));
    QVERIFY(text.contains("*** compare data ok\r\n"));
    QVERIFY(text.contains(
        "*** compare data error.\r\n15:30:05    the EEPROM holds the new image except where the "
        "comparison failed\r\n"));
    const QStringList files = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    QVERIFY(files.contains("2024_0305_153005_ReadData-R_001.bin"));
    // Raw backups without a transfer of their own: each read's bytes, and
    // before each write what the board was last read or verified to hold
    // (the blank EEPROM twice, the verified image once); none after the
    // failed write, whose contents are unknown.
    const QString szBackups = m_p->StateDir.filePath("qrt4250/backups");
    // (Windows names the folder's own parts with backslashes.)
    QVERIFY(QString::fromUtf8(text).replace('\\', '/').contains("Backup: " + szBackups + "/"));
    std::vector<std::vector<uint8_t>> backups;
    for (const QString& szName : QDir(szBackups).entryList(QDir::Files)) {
      // Named after the board's path, not its VID/PID pair twice.
      QVERIFY2(szName.endsWith("_3A7C-4250_sim-1.bin") || szName.contains("_3A7C-4250_sim-1-"),
               qPrintable(szName));
      QFile backup(szBackups + "/" + szName);
      QVERIFY(backup.open(QIODevice::ReadOnly));
      const QByteArray bytes = backup.readAll();
      backups.emplace_back(bytes.begin(), bytes.end());
    }
    const std::vector<uint8_t> blank(256, 0xFF);
    QCOMPARE(backups.size(), size_t(4));
    QCOMPARE(std::count(backups.begin(), backups.end(), blank), 3);
    QVERIFY(std::count(backups.begin(), backups.end(), verified) == 1);
    QVERIFY(files.contains("2024_0305_153005_ReadWrite-R_002.bin"));
    QVERIFY(files.contains("2024_0305_153005_ReadWrite-W_002.bin"));
    QVERIFY(files.contains("2024_0305_153005_ReadWrite-W_003.bin"));
    QCOMPARE(QFileInfo(dir.filePath("2024_0305_153005_ReadData-R_001.bin")).size(), 256);
  }

  // A 24C04 whose header announces the AGC/IR bank at 0x100, read as a 24C02:
  // the bank lies beyond the 256 bytes read, so none is taken, and the user
  // is told once the read is over. Writing the image back leaves the real
  // bank of the EEPROM alone.
  void ShortReadTakesNoBankAndSaysSo() {
    MakeFixture(512);
    std::vector<uint8_t> chip = SignedImage(512, 0x3A7C);
    chip[0x8F] |= 0x90;
    for (int i = 0; i < 32; ++i) chip[256 + i] = static_cast<uint8_t>(0x21 + i);
    chip[256 + 31] |= 0x80;
    Chip().SetEepromContents(chip.data(), chip.size());
    m_p->Ui.fnModal = PickSize(0);
    F()->ReadEEPROMBitBtn->click();
    QCOMPARE(F()->ReadEEPROMPercentEdit->text(), QString("成功"));
    QCOMPARE(m_p->Ui.Texts(), (QStringList{"Load data from EEPROM OK!",
                                           QString::fromUtf8(MessageText(0, 74))}));
    QVERIFY(!F()->AGCIRBankCheckBox->isChecked());
    QVERIFY(!F()->IREnableCheckBox->isChecked());
    QVERIFY(!m_p->pForm->Session().AgcIrMgr().IsPresent());
    F()->WriteEEPROMBitBtn->click();
    QCOMPARE(F()->WriteEEPROMPercentEdit->text(), QString("成功"));
    QVERIFY(std::equal(chip.begin() + 256, chip.end(), Chip().Eeprom().begin() + 256));
    QCOMPARE(int(Chip().Eeprom()[0x8F] & 0x10), 0);

    // The same image as a 256-byte file.
    m_p->Ui.vBoxes.clear();
    chip.resize(256);
    LoadImage(chip, false);
    QCOMPARE(m_p->Ui.Texts(), QStringList{QString::fromUtf8(MessageText(0, 74))});
    QVERIFY(!F()->AGCIRBankCheckBox->isChecked());
  }

  // A click mid-transfer must not change the image being written: the
  // AGC/IR controls are locked with the other settings, then come back.
  void AgcIrControlsLockedDuringTransfers() {
    MakeFixture(512);
    qrt::test::CBankLayout layout;
    layout.bAgc = true;
    LoadImage(qrt::test::ImageWithBanks(layout), false);
    const QList<QWidget*> controls = {F()->AGCIRBankCheckBox, F()->IREnableCheckBox,
                                      F()->NECIRGPONUMEdit};
    for (QWidget* pControl : controls) QVERIFY(pControl->isEnabled());
    int nSteps = 0, nEnabled = 0;
    m_p->pForm->SetProcessPendingMessages([&] {
      ++nSteps;
      for (QWidget* pControl : controls) nEnabled += pControl->isEnabled() ? 1 : 0;
    });
    F()->WriteEEPROMBitBtn->click();
    QCOMPARE(F()->WriteEEPROMPercentEdit->text(), QString("成功"));
    m_p->Ui.fnModal = PickSize(SizeItem(512));
    F()->ReadEEPROMBitBtn->click();
    QCOMPARE(F()->ReadEEPROMPercentEdit->text(), QString("成功"));
    QVERIFY(nSteps > 1024);
    QCOMPARE(nEnabled, 0);
    for (QWidget* pControl : controls) QVERIFY(pControl->isEnabled());
  }

  void CloseIgnoredDuringTransfer() {
    MakeFixture(256);
    F()->WriteEEPROMBitBtn->setEnabled(true);
    bool bAsked = false;
    bool bAccepted = true;
    m_p->pForm->SetProcessPendingMessages([&] {
      if (bAsked) return;
      bAsked = true;
      QCloseEvent event;
      QCoreApplication::sendEvent(m_p->pForm.get(), &event);
      bAccepted = event.isAccepted();
      // A second transfer cannot start inside this one.
      QVERIFY(!F()->ReadEEPROMBitBtn->isEnabled());
      m_p->pForm->OnReadEEPROMBitBtnClick();
    });
    F()->WriteEEPROMBitBtn->click();
    QVERIFY(bAsked);
    QVERIFY(!bAccepted);
    QCOMPARE(m_p->Ui.nModalShows, 0);
    QVERIFY(m_p->Ui.vBoxes.empty());  // no exit question either
    QCOMPARE(F()->WriteEEPROMPercentEdit->text(), QString("成功"));
  }

  void UnplugDuringTransferKeepsButtonsOff() {
    MakeFixture(256);
    F()->WriteEEPROMBitBtn->setEnabled(true);
    bool bDone = false;
    m_p->pForm->SetProcessPendingMessages([&] {
      if (bDone) return;
      bDone = true;
      m_p->Sim.Unplug(0);
      m_p->DeliverDeviceEvents();
    });
    F()->WriteEEPROMBitBtn->click();
    QCOMPARE(F()->WriteEEPROMPercentEdit->text(), QString("失败"));
    QVERIFY(!F()->ReadEEPROMBitBtn->isEnabled());
    QVERIFY(!F()->WriteEEPROMBitBtn->isEnabled());
  }

  // A board swapped on the same path between a read and a write: what was
  // read from the first board is no backup of the second (it used to be
  // saved under the second's name), so the write reads the second board for
  // its backup.
  void BoardSwappedAfterTheReadGetsAFreshBackup() {
    MakeFixture(256);
    m_p->Ui.fnModal = PickSize(0);
    F()->ReadEEPROMBitBtn->click();
    QCOMPARE(F()->ReadEEPROMPercentEdit->text(), QString("成功"));
    m_p->Sim.Unplug(0);
    m_p->DeliverDeviceEvents();
    const std::vector<uint8_t> second = SignedImage(256, 0x1234);
    Chip().SetEepromContents(second.data(), second.size());
    m_p->Sim.Plug(0);
    m_p->DeliverDeviceEvents();
    F()->WriteEEPROMBitBtn->click();
    QCOMPARE(F()->WriteEEPROMPercentEdit->text(), QString("成功"));
    QList<QByteArray> backups;
    const QDir dir(m_p->StateDir.filePath("qrt4250/backups"));
    for (const QString& szName : dir.entryList(QDir::Files)) {
      QFile backup(dir.filePath(szName));
      QVERIFY(backup.open(QIODevice::ReadOnly));
      backups << backup.readAll();
    }
    QCOMPARE(backups.size(), 2);
    QVERIFY(backups.contains(QByteArray(256, char(0xFF))));
    QVERIFY(backups.contains(QByteArray(reinterpret_cast<const char*>(second.data()), 256)));
  }

  // The same faults through the window's Write and through qrt4250-cli
  // write give the same outcome, the same texts and the same EEPROM; after a
  // failed verify the window's next Write reads a fresh backup (the board is
  // not known to hold anything).
  void SameFaultsSameOutcomeAsTheCommandLine_data() {
    QTest::addColumn<QString>("szFault");
    for (const char* pszFault : {"flip-once:0x40", "flip:0x40", "write-protect", "stay-busy"}) {
      QTest::newRow(pszFault) << QString(pszFault);
    }
  }
  void SameFaultsSameOutcomeAsTheCommandLine() {
    QFETCH(QString, szFault);
    MakeFixture(256);
    const std::vector<uint8_t> before = SignedImage(256, 0x2222);
    Chip().SetEepromContents(before.data(), before.size());
    const std::vector<uint8_t> image = BuiltImage();
    const QString szImage = m_Dir.filePath("image.bin");
    const QString szBefore = m_Dir.filePath("before.bin");
    QVERIFY(qrt::image::WriteBinFile(szImage.toStdString(), image.data(), image.size()) == 0);
    QVERIFY(qrt::image::WriteBinFile(szBefore.toStdString(), before.data(), 256) == 0);
    const QString szChip = m_Dir.filePath("chip.bin");
    const qrt::test::CRun cli = qrt::test::RunCliWith(
        {"write", szImage.toStdString(), "--simulate", "--sim-image", szBefore.toStdString(),
         "--sim-fault", szFault.toStdString(), "--sim-save", szChip.toStdString(), "--json"});
    const nlohmann::json j = nlohmann::json::parse(cli.out);

    SetFaults(szFault.toUtf8().constData());
    F()->WriteEEPROMBitBtn->click();
    const qrt::transfer::WRITE_OUTCOME& outcome = m_p->pForm->LastWriteOutcome();
    using qrt::transfer::ELanguage;
    QCOMPARE(j["outcome"] == "pass", outcome.Passed());
    QCOMPARE(F()->WriteEEPROMPercentEdit->text(), QString(outcome.Passed() ? "成功" : "失败"));
    QCOMPARE(int(j["code"]), outcome.Code());
    QCOMPARE(j.contains("error") ? std::string(j["error"]) : std::string(),
             qrt::transfer::StopText(outcome, ELanguage::kEnglish));
    QCOMPARE(j["rollback"].is_null() ? std::string() : std::string(j["rollback"]),
             qrt::transfer::RollbackText(outcome, ELanguage::kEnglish));
    QFile chip(szChip);
    QVERIFY(chip.open(QIODevice::ReadOnly));
    QVERIFY(chip.readAll() ==
            QByteArray(reinterpret_cast<const char*>(Chip().Eeprom().data()), 256));
    if (outcome.Passed()) return;
    // The window says it under its FAIL and on its status line, in its
    // language (a switch translates it), and no box said it.
    auto* pStatus = m_p->pForm->findChild<QLabel*>("StatusLabel");
    QVERIFY(pStatus);
    for (ELanguage eLanguage : {ELanguage::kChinese, ELanguage::kEnglish}) {
      (eLanguage == ELanguage::kChinese ? F()->ChinesePanel : F()->EnglishPanel)->click();
      const QString szSays = QString::fromStdString(qrt::transfer::OutcomeText(outcome, eLanguage));
      QCOMPARE(F()->WriteEEPROMPercentEdit->toolTip(), szSays);
      QCOMPARE(pStatus->text(), szSays);
    }
    QVERIFY(m_p->Ui.Texts().filter("rolled back").isEmpty());
    const QDir backups(m_p->StateDir.filePath("qrt4250/backups"));
    const qsizetype nBackups = backups.entryList(QDir::Files).size();
    Chip().SetFaults(qrt::sim::SIM_FAULTS{});
    F()->WriteEEPROMBitBtn->click();
    QCOMPARE(F()->WriteEEPROMPercentEdit->text(), QString("PASS"));
    QCOMPARE(F()->WriteEEPROMPercentEdit->toolTip(), QString());
    QCOMPARE(pStatus->text(), QString());
    QCOMPARE(backups.entryList(QDir::Files).size(), nBackups + 1);
  }
};

QTEST_MAIN(TransfersTest)
#include "TransfersTest.moc"
