// The window on the real Linux backend, run by scripts/test-vm.sh inside the
// guest against one virtual board: the device list shows the board, and the
// window's own read procedure (size dialog, Read EEPROM, PASS) brings the
// EEPROM into the load buffer. QRT_VBOARD_EXPECT names a file with the
// EEPROM's expected first bytes; without it (an ordinary machine) the test
// is skipped. With QRT_VBOARD_BOARDS=2 (two boards of one pair) the window
// shows its duplicate message instead.
#include <QComboBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "../app/FakeUiServices.h"
#include "DevicePlatform.h"
#include "LinuxHidPlatform.h"
#include "MainForm.h"
#include "MessageTable.h"
#include "ReadEEPROMForm.h"
#include "ui_UMainForm.h"
#include "ui_UReadEEPROMForm.h"

using namespace qrt::app;
using qrt::app::test::CFakeUiServices;

class WindowOnBoardTest : public QObject {
  Q_OBJECT

 private slots:
  void ListsAndReadsTheBoard() {
    const QByteArray szExpect = qgetenv("QRT_VBOARD_EXPECT");
    if (szExpect.isEmpty()) QSKIP("runs on the virtual board only (scripts/test-vm.sh)");
    std::ifstream file(szExpect.constData(), std::ios::binary);
    const std::vector<uint8_t> vExpect{std::istreambuf_iterator<char>(file), {}};
    QCOMPARE(int(vExpect.size()), 256);

    USB42XX_MGR::CLinuxHidPlatform platform;
    CFakeUiServices ui;
    qrt::transfer::CEmptyDeviceIdStore store;
    QTemporaryDir lockDir;
    auto pForm = std::make_unique<TMainForm>(ui, platform, store, lockDir.path().toStdString());
    pForm->show();
    Ui::TMainForm* f = pForm->Form();
    QCOMPARE(f->VIDPIDComboBox->count(), 1);
    QCOMPARE(f->VIDPIDComboBox->itemText(0), QString("VID = 0x3A7C, PID = 0x4250"));

    // The guest's emulated CPU can stall under host load; a longer per-byte
    // time-out (the diagnostics row's RWTime) keeps that from failing the read.
    pForm->m_bRWTimeEnabled = 1;
    pForm->m_dwReadTimeOut = 2000;
    ui.fnModal = [](QDialog* pDialog) {
      auto* pSize = static_cast<TReadEEPROMForm*>(pDialog);
      pSize->Formshow();
      pSize->Form()->ComboBox1->setCurrentIndex(0);  // 24C02
      pSize->OnReadEEPROMChange();
      pSize->Button1Click();
      return int(QDialog::Accepted);
    };
    f->ReadEEPROMBitBtn->click();
    QCOMPARE(f->ReadEEPROMPercentEdit->text(), QString("成功"));
    QVERIFY(std::memcmp(pForm->m_btLoadBuffer, vExpect.data(), vExpect.size()) == 0);
    ui.qAnswers.push_back(kIdOk);  // the exit question
  }

  // Two boards of one pair (QRT_VBOARD_BOARDS=2): both listed with their paths, message 47
  // shown, and a read refused with 47 again before it touches either board.
  void ShowsTheDuplicateMessage() {
    if (qgetenv("QRT_VBOARD_BOARDS") != "2") QSKIP("needs two virtual boards");
    USB42XX_MGR::CLinuxHidPlatform platform;
    CFakeUiServices ui;
    qrt::transfer::CEmptyDeviceIdStore store;
    QTemporaryDir lockDir;
    auto pForm = std::make_unique<TMainForm>(ui, platform, store, lockDir.path().toStdString());
    pForm->show();
    Ui::TMainForm* f = pForm->Form();
    QCOMPARE(f->VIDPIDComboBox->count(), 2);
    // Two boards of one pair are told apart by their paths.
    for (int i = 0; i < 2; ++i) {
      QVERIFY2(f->VIDPIDComboBox->itemText(i).startsWith("VID = 0x3A7C, PID = 0x4250 (/dev/hidraw"),
               qPrintable(f->VIDPIDComboBox->itemText(i)));
    }
    QVERIFY(f->VIDPIDComboBox->itemText(0) != f->VIDPIDComboBox->itemText(1));
    const QString szMessage47 = QString::fromUtf8(MessageText(pForm->m_Language, 47));
    QVERIFY(!ui.vBoxes.empty());
    QCOMPARE(ui.vBoxes.back().szText, szMessage47);
    const size_t nBoxes = ui.vBoxes.size();
    ui.fnModal = [](QDialog*) { return int(QDialog::Rejected); };  // no size dialog expected
    f->ReadEEPROMBitBtn->click();
    QCOMPARE(ui.vBoxes.size(), nBoxes + 1);
    QCOMPARE(ui.vBoxes.back().szText, szMessage47);
    QCOMPARE(f->ReadEEPROMPercentEdit->text(), QString());
    ui.qAnswers.push_back(kIdOk);  // the exit question
  }
};

QTEST_MAIN(WindowOnBoardTest)
#include "WindowOnBoardTest.moc"
