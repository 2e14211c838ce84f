// The device list on the simulated platform: none, one, two devices with the
// same VID/PID, unplug and plug through the hot-plug descriptor, the poll.
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#ifndef _WIN32
#include <unistd.h>

#include "HeldLock.h"
#endif
#include "ImageFiles.h"
#include "RomDataMgr.h"

#include "MessageTable.h"
#include "Trace.h"
#include "WindowFixture.h"

using namespace qrt::app;
using qrt::app::test::CWindowFixture;

class DevicesTest : public QObject {
  Q_OBJECT

 private slots:
  void NoDeviceAtStart() {
    CWindowFixture w(1, false);
    QVERIFY(w.Ui.vBoxes.empty());
    QCOMPARE(int(w.pForm->m_DeviceId.Number), 0);
    QCOMPARE(w.F()->VIDPIDComboBox->count(), 0);
    QVERIFY(!w.F()->ReadEEPROMBitBtn->isEnabled());
    QVERIFY(!w.F()->WriteEEPROMBitBtn->isEnabled());
    QVERIFY(!w.F()->VIDPIDComboBox->isEnabled());
    // A poll tick with nothing present leaves the poll stopped.
    w.pForm->Timer1()->start();
    w.pForm->Timer1Timer();
    QVERIFY(!w.pForm->Timer1()->isActive());
    // Plugging in through the hot-plug path fills the list and restarts it.
    w.Sim.Plug(0);
    w.DeliverDeviceEvents();
    QCOMPARE(int(w.pForm->m_DeviceId.Number), 1);
    QCOMPARE(w.F()->VIDPIDComboBox->itemText(0), QString("VID = 0x3A7C, PID = 0x4250"));
    QVERIFY(w.F()->ReadEEPROMBitBtn->isEnabled());
    QVERIFY(w.F()->VIDPIDComboBox->isEnabled());
    QVERIFY(w.pForm->Timer1()->isActive());
    QCOMPARE(w.pForm->m_SelectedVid, uint16_t(0x3A7C));
  }

  void OneDeviceListedAndSelected() {
    CWindowFixture w(1);
    QCOMPARE(int(w.pForm->m_DeviceId.Number), 1);
    QCOMPARE(w.F()->VIDPIDComboBox->count(), 1);
    QCOMPARE(w.F()->VIDPIDComboBox->currentIndex(), 0);
    QCOMPARE(w.pForm->m_SelectedPid, uint16_t(0x4250));
    QVERIFY(w.pForm->Timer1()->isActive());
    // The simulated chip speaks 5-byte reports: no report IDs.
    QCOMPARE(int(w.pForm->m_bReportId), 0);
    QVERIFY(!w.F()->ReportIdCheckBox->isChecked());
    QVERIFY(w.Ui.vBoxes.empty());
  }

  void ReportIdLayoutChecksTheBox() {
    CWindowFixture w(0);
    qrt::sim::SIM_DEVICE_CONFIG config;
    config.Chip.nLayout = 2;
    config.bPlugged = false;
    w.Sim.Plug(w.Sim.AddDevice(config));
    w.DeliverDeviceEvents();
    QCOMPARE(int(w.pForm->m_DeviceId.Number), 1);
    QCOMPARE(int(w.pForm->m_bReportId), 1);
    QVERIFY(w.F()->ReportIdCheckBox->isChecked());
  }

  void TwoDevicesWithTheSameIds() {
    // Both boards are listed, message 47 follows the list, and a transfer
    // is refused with 47 before it touches either board.
    CWindowFixture w(2);
    QCOMPARE(int(w.pForm->m_DeviceId.Number), 2);
    QCOMPARE(w.F()->VIDPIDComboBox->count(), 2);
    // Each named with its path, so the engineer sees which is which.
    QCOMPARE(w.F()->VIDPIDComboBox->itemText(0), QString("VID = 0x3A7C, PID = 0x4250 (sim:1)"));
    QCOMPARE(w.F()->VIDPIDComboBox->itemText(1), QString("VID = 0x3A7C, PID = 0x4250 (sim:2)"));
    QCOMPARE(w.pForm->HasDuplicateDevices(), 1);
    const QString szMessage47 = QString::fromUtf8(MessageText(0, 47));
    QCOMPARE(w.Ui.vBoxes.back().szText, szMessage47);
    // Shown before the window: Chinese like it, under its title, centred
    // where the window shows (on the screen's middle).
    const qrt::app::test::SHOWN_BOX& first = w.Ui.vBoxes.front();
    QCOMPARE(first.szTitle, QString::fromUtf8(MessageText(0, MSG_TITLE)));
    QCOMPARE(first.szOkText, QString("确定"));
    QCOMPARE(first.pParent, static_cast<QWidget*>(w.pForm.get()));
    QCOMPARE(first.parentCentre, w.pForm->screen()->availableGeometry().center());
    const size_t nBoxes = w.Ui.vBoxes.size();
    const uint64_t qwReports = w.Sim.Chip(0).OutputReportCount() + w.Sim.Chip(1).OutputReportCount();
    w.F()->ReadEEPROMBitBtn->click();
    w.F()->WriteEEPROMBitBtn->setEnabled(true);
    w.F()->WriteEEPROMBitBtn->click();
    QCOMPARE(w.Ui.vBoxes.size(), nBoxes + 2);
    QCOMPARE(w.Ui.vBoxes.back().szText, szMessage47);
    QCOMPARE(w.Sim.Chip(0).OutputReportCount() + w.Sim.Chip(1).OutputReportCount(), qwReports);
    QCOMPARE(w.F()->ReadEEPROMPercentEdit->text(), QString());
    // The poll sees the same two boards and stays quiet; one unplugged ends
    // the duplicate.
    w.pForm->Timer1Timer();
    QCOMPARE(w.Ui.vBoxes.size(), nBoxes + 2);
    w.Sim.Unplug(1);
    w.DeliverDeviceEvents();
    QCOMPARE(int(w.pForm->m_DeviceId.Number), 1);
    QCOMPARE(w.pForm->HasDuplicateDevices(), 0);
    QCOMPARE(w.F()->VIDPIDComboBox->itemText(0), QString("VID = 0x3A7C, PID = 0x4250"));
  }

  void TwoDifferentDevicesAndChoice() {
    CWindowFixture w(1);
    qrt::sim::SIM_DEVICE_CONFIG second;
    second.wPID = 0x4251;
    second.Chip.nLayout = 1;
    second.bPlugged = false;
    w.Sim.Plug(w.Sim.AddDevice(second));
    w.DeliverDeviceEvents();
    QCOMPARE(int(w.pForm->m_DeviceId.Number), 2);
    QCOMPARE(w.F()->VIDPIDComboBox->count(), 2);
    // Pairs of their own need no path.
    QCOMPARE(w.F()->VIDPIDComboBox->itemText(1), QString("VID = 0x3A7C, PID = 0x4251"));
    CWindowFixture::Choose(w.F()->VIDPIDComboBox, 1);
    QCOMPARE(w.pForm->m_SelectedPid, uint16_t(0x4251));
    QCOMPARE(int(w.pForm->m_bReportId), 1);
  }

  void UnplugClearsListAndProgress() {
    CWindowFixture w(1);
    w.F()->ReadEEPROMPercentEdit->setText("PASS");
    w.F()->ReadWriteProgressBar->setValue(100);
    w.F()->WriteProgressBar->setValue(40);
    qrt::diag::CTraceCapture trace;
    w.Sim.Unplug(0);
    w.DeliverDeviceEvents();
    QVERIFY(trace.Contains("DBT_DEVICEREMOVECOMPLETE"));
    QCOMPARE(int(w.pForm->m_DeviceId.Number), 0);
    QCOMPARE(w.F()->VIDPIDComboBox->count(), 0);
    QVERIFY(!w.F()->ReadEEPROMBitBtn->isEnabled());
    QVERIFY(!w.F()->WriteEEPROMBitBtn->isEnabled());
    QCOMPARE(w.F()->ReadEEPROMPercentEdit->text(), QString());
    QCOMPARE(w.F()->ReadWriteProgressBar->value(), 0);
    QCOMPARE(w.F()->WriteProgressBar->value(), 0);
    w.Sim.Plug(0);
    w.DeliverDeviceEvents();
    QVERIFY(trace.Contains("DBT_DEVICEARRIVAL"));
    QCOMPARE(int(w.pForm->m_DeviceId.Number), 1);
  }

  void PollNoticesCountChange() {
    CWindowFixture w(1);
    // The notification is lost (nobody reads the descriptor); the poll still
    // notices that the count changed.
    w.Sim.Unplug(0);
    w.pForm->Timer1Timer();
    QCOMPARE(int(w.pForm->m_DeviceId.Number), 0);
    QVERIFY(!w.pForm->Timer1()->isActive());
    w.Sim.Plug(0);
    w.pForm->Timer1Timer();  // stopped poll run by hand: the count is back
    QCOMPARE(int(w.pForm->m_DeviceId.Number), 1);
    QVERIFY(w.pForm->Timer1()->isActive());
  }

#ifndef _WIN32
  // The lock is flock on Linux (a named mutex on Windows).
  // Another program holds the simulated boards' lock as the window starts
  // (qrt4250-cli program --wait --simulate keeps it while idle): no box,
  // the status line names the holder in either language, files stay
  // available, Read and Write wait, the poll sends the chip nothing, and the
  // first poll after the lock is freed lists the board again.
  void LockHeldElsewhereIsATransientState() {
    CWindowFixture w(1);
    qrt::test::CHeldLock held(w.LockPath(qrt::sim::kSimMutexNames.pszHid));
    QVERIFY(held.Held());
    w.Ui.vBoxes.clear();
    w.MakeForm();
    auto* pStatus = w.pForm->findChild<QLabel*>("StatusLabel");
    QVERIFY(pStatus);
    const QString szHolder = QString::fromStdString(w.pForm->UsbMgr().DescribeDeviceLockHolder());
    QVERIFY(szHolder.startsWith("process " + QString::number(::getpid()) + " ("));
    QVERIFY2(w.Ui.vBoxes.empty(), qPrintable(w.Ui.Texts().join(" | ")));
    QCOMPARE(pStatus->text(), QString::fromUtf8(MessageText(0, 75)).arg(szHolder));
    QVERIFY(w.F()->LoadFileBitBtn->isEnabled());
    QVERIFY(!w.F()->ReadEEPROMBitBtn->isEnabled());
    QVERIFY(!w.F()->WriteEEPROMBitBtn->isEnabled());
    QVERIFY(w.pForm->Timer1()->isActive());
    const uint64_t qwReports = w.Sim.Chip(0).OutputReportCount();
    w.pForm->Timer1Timer();
    QCOMPARE(w.Sim.Chip(0).OutputReportCount(), qwReports);
    QVERIFY(w.pForm->Timer1()->isActive());
    w.F()->EnglishPanel->click();
    QVERIFY2(pStatus->text().startsWith("Device in use by " + szHolder), qPrintable(pStatus->text()));
    // A file loads meanwhile and can be saved; Read and Write stay off.
    QTemporaryDir dir;
    const QString szFile = dir.filePath("default.bin");
    QVERIFY(qrt::image::WriteBinFile(szFile.toStdString(), qrt::image::g_btDefaultImage,
                                     sizeof(qrt::image::g_btDefaultImage)) == 0);
    w.Ui.qFiles.push_back({true, szFile, 1});
    w.F()->LoadFileBitBtn->click();
    QCOMPARE(w.F()->LoadFileEdit->text(), szFile);
    QVERIFY(w.F()->WriteFileBitBtn->isEnabled());
    QVERIFY(!w.F()->ReadEEPROMBitBtn->isEnabled());
    QVERIFY(!w.F()->WriteEEPROMBitBtn->isEnabled());

    held.Release();
    w.pForm->Timer1Timer();
    QCOMPARE(pStatus->text(), QString());
    QCOMPARE(int(w.pForm->m_DeviceId.Number), 1);
    QVERIFY(w.F()->ReadEEPROMBitBtn->isEnabled());
    QVERIFY(w.Ui.vBoxes.empty());
    QVERIFY(w.pForm->Timer1()->isActive());
  }
#endif

  void PollFailureStopsWithMessage53() {
    CWindowFixture w(1);
    w.Sim.SetEnumerationFails(true);
    w.pForm->Timer1Timer();
    QCOMPARE(w.Ui.vBoxes.back().szText, QString("Search_Present_Device fail"));
    QVERIFY(!w.pForm->Timer1()->isActive());
    // A failing search in RefreshDeviceList shows message 50.
    QCOMPARE(w.pForm->RefreshDeviceList(), 1);
    QCOMPARE(w.Ui.vBoxes.back().szText, QString("请重新插拔QRT USB设备"));
    QVERIFY(!w.F()->ReadEEPROMBitBtn->isEnabled());
  }
};

QTEST_MAIN(DevicesTest)
#include "DevicesTest.moc"
