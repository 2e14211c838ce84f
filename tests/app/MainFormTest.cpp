// The main window on the offscreen platform: texts and languages, the
// volume lists, the key filters, the exit question, the diagnostics row.
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "AppIdentity.h"
#include "CliRun.h"
#include "MessageTable.h"
#include "Trace.h"
#include "Version.h"
#include "WindowFixture.h"

using namespace qrt::app;
using qrt::app::test::CFakeUiServices;
using qrt::app::test::CWindowFixture;

class MainFormTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CWindowFixture> m_pFixture;
  CFakeUiServices* m_pUi = nullptr;
  TMainForm* m_pForm = nullptr;
  Ui::TMainForm* F() { return m_pForm->Form(); }

 private slots:
  void init() {
    m_pFixture = std::make_unique<CWindowFixture>();
    m_pUi = &m_pFixture->Ui;
    m_pForm = m_pFixture->pForm.get();
  }
  void cleanup() { m_pFixture.reset(); }

  void StartsInChineseWithTitleAndVersion() {
    QCOMPARE(m_pForm->m_Language, kLanguageChinese);
    QCOMPARE(F()->ReadEEPROMBitBtn->text(), QString("读取EEPROM程序"));
    QCOMPARE(F()->GenericGroupBox->title(), QString("USB通用信息配置"));
    QVERIFY(m_pForm->windowTitle().startsWith("QRT4250 EEPROM 数据配置工具_V"));
    QCOMPARE(m_pForm->m_szMsgCaption, QString("QRT4250 EEPROM 数据配置工具_"));
    // "&&" in a label caption shows one ampersand.
    QCOMPARE(F()->VIDPIDLabel->text(), QString("当前设备的VID & PID"));
    QCOMPARE(F()->PlaySettingComboBox->count(), 3);
    QCOMPARE(F()->PlaySettingComboBox->itemText(2), QString("耳机"));
    QCOMPARE(m_pForm->size(), QSize(797, 679));
  }

  // A dock finds the menu entry by the desktop file name; the window shows
  // the tool's icon in every rendered size, from 16 to 256 pixels.
  void NamesItsDesktopEntryAndShowsItsIcon() {
    ApplyApplicationIdentity();
    QCOMPARE(QGuiApplication::desktopFileName(), QString(kDesktopFileName));
    const QList<QSize> sizes = m_pForm->windowIcon().availableSizes();
    QVERIFY2(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(256, 256)),
             qPrintable(QString("icon sizes: %1").arg(sizes.size())));
  }

  void LanguageSwitchTwiceEqualsOnce() {
    F()->EnglishPanel->click();
    QStringList once;
    for (QWidget* pWidget : m_pForm->findChildren<QWidget*>()) {
      if (auto* pLabel = qobject_cast<QLabel*>(pWidget)) once << pLabel->text();
      if (auto* pButton = qobject_cast<QAbstractButton*>(pWidget)) once << pButton->text();
    }
    F()->EnglishPanel->click();
    QStringList twice;
    for (QWidget* pWidget : m_pForm->findChildren<QWidget*>()) {
      if (auto* pLabel = qobject_cast<QLabel*>(pWidget)) twice << pLabel->text();
      if (auto* pButton = qobject_cast<QAbstractButton*>(pWidget)) twice << pButton->text();
    }
    QCOMPARE(twice, once);
    QCOMPARE(m_pForm->m_Language, kLanguageEnglish);
    QCOMPARE(F()->ReadEEPROMBitBtn->text(), QString("Read EEPROM"));
    QCOMPARE(F()->VIDPIDLabel->text(), QString("Active Device VID & PID"));
    QCOMPARE(F()->RecordSettingComboBox->itemText(2), QString("Mic array"));
    QVERIFY(m_pForm->windowTitle().startsWith("QRT4250 EEPROM Data Configuration Tool_V"));
    // The active panel is painted darker than the other.
    QVERIFY(F()->EnglishPanel->palette().color(QPalette::Button) !=
            F()->ChinesePanel->palette().color(QPalette::Button));
  }

  void ResultTextsFollowTheLanguage() {
    F()->ReadEEPROMPercentEdit->setText("成功");
    F()->WriteEEPROMPercentEdit->setText("失败");
    F()->EnglishPanel->click();
    QCOMPARE(F()->ReadEEPROMPercentEdit->text(), QString("PASS"));
    QCOMPARE(F()->WriteEEPROMPercentEdit->text(), QString("FAIL"));
    F()->ChinesePanel->click();
    QCOMPARE(F()->ReadEEPROMPercentEdit->text(), QString("成功"));
    QCOMPARE(F()->WriteEEPROMPercentEdit->text(), QString("失败"));
    // A percentage is left alone.
    F()->ReadEEPROMPercentEdit->setText("42%");
    F()->EnglishPanel->click();
    QCOMPARE(F()->ReadEEPROMPercentEdit->text(), QString("42%"));
  }

  void MessageBoxesUseTheTable() {
    m_pForm->ShowMessageId(kLanguageEnglish, MSG_DUPLICATE_DEVICES);
    QCOMPARE(m_pUi->vBoxes.back().szText, QString("Please remove duplicate VIDPID devices"));
    QCOMPARE(m_pUi->vBoxes.back().bOkCancel, false);
    QCOMPARE(m_pUi->vBoxes.back().szTitle, m_pForm->m_szMsgCaption);
    m_pUi->qAnswers.push_back(kIdCancel);
    QCOMPARE(m_pForm->AskMessageId(kLanguageChinese, MSG_RESET_ALL), kIdCancel);
    const size_t nShown = m_pUi->vBoxes.size();
    m_pForm->ShowMessageId(2, 1);
    m_pForm->ShowMessageId(0, kMessageCount + 1);
    QCOMPARE(m_pForm->AskMessageId(0, 0), 0);
    QCOMPARE(m_pUi->vBoxes.size(), nShown);
  }

  void MessageTableRows() {
    QCOMPARE(QString::fromUtf8(MessageText(1, 38)), QString("Invalid character"));
    QCOMPARE(QString::fromUtf8(MessageText(1, 61)),
             QString("Not QRT bin code,Please select other bin code"));
    QCOMPARE(QString::fromUtf8(MessageText(0, 68)), QString("确认"));
    QCOMPARE(QString::fromUtf8(MessageText(1, 71)),
             QString("There is not enough code size to create new AGC, Do you need more size ?"));
    // The full-EEPROM row beside the code-size question, in both languages.
    for (int nLanguage = 0; nLanguage < 2; ++nLanguage) {
      const QString szFull = QString::fromUtf8(MessageText(nLanguage, MSG_NO_ROOM_FOR_AGC));
      QVERIFY(szFull.contains("AGC/IR"));
      QVERIFY(szFull.contains("24C16"));
      QVERIFY(szFull != QString::fromUtf8(MessageText(nLanguage, MSG_AGC_MORE_SIZE)));
    }
    QVERIFY(QString::fromUtf8(MessageText(0, 73)) != QString::fromUtf8(MessageText(1, 73)));
    QCOMPARE(QString::fromUtf8(MessageText(0, 43)), QString::fromUtf8(MessageText(0, 48)));
    QCOMPARE(QString::fromUtf8(MessageText(1, 60)), QString::fromUtf8(MessageText(1, 21)));
    for (int nLanguage = 0; nLanguage < 2; ++nLanguage) {
      for (int nId = 1; nId <= kMessageCount; ++nId) {
        const char* pszText = MessageText(nLanguage, nId);
        QVERIFY(pszText && *pszText);
        QVERIFY(QString::fromUtf8(pszText).size() <= 255);
      }
    }
    // The maker's telephone numbers are in the fictional 555-01xx range.
    QVERIFY(QString::fromUtf8(MessageText(1, 3)).contains("555-01"));
    QVERIFY(QString::fromUtf8(MessageText(0, 4)).contains("555-01"));
  }

  void VolumeListsFilled() {
    QCOMPARE(F()->PlayVolumeDefaultComboBox->count(), 64);
    QCOMPARE(F()->MixVolumeDefaultComboBox->count(), 64);
    QCOMPARE(F()->MaxPowerDefaultGain1ComboBox->count(), 64);
    QCOMPARE(F()->RecordVolumeDefaultComboBox->count(), 35);
    QCOMPARE(F()->IFGainComboBox->count(), 86);
    QCOMPARE(F()->PlayVolumeDefaultComboBox->itemText(63), QString("-47.25 dB"));
    QCOMPARE(F()->RecordVolumeDefaultComboBox->itemText(14), QString("10.50 dB"));
    QCOMPARE(F()->MaxPowerDefaultGain1ComboBox->itemText(53), QString("0 dB"));
    QCOMPARE(F()->IFGainComboBox->itemText(64), QString("0.0 dB"));
  }

  void HexKeyFilterDropsOtherKeys() {
    F()->VIDEdit->setReadOnly(false);
    F()->VIDEdit->setEnabled(true);
    F()->VIDEdit->clear();
    QTest::keyClicks(F()->VIDEdit, "aF");
    QCOMPARE(F()->VIDEdit->text(), QString("aF"));
    QVERIFY(m_pUi->vBoxes.empty());
    QTest::keyClicks(F()->VIDEdit, "g");
    QCOMPARE(F()->VIDEdit->text(), QString("aF"));
    QCOMPARE(m_pUi->vBoxes.size(), size_t(1));
    QCOMPARE(m_pUi->vBoxes.back().szText, QString("无效的字符"));
  }

  void NumberKeyFilters() {
    F()->MaxPowerDefaultGain1Edit->setReadOnly(false);
    F()->MaxPowerDefaultGain1Edit->setEnabled(true);
    F()->MaxPowerDefaultGain1Edit->clear();
    QTest::keyClicks(F()->MaxPowerDefaultGain1Edit, "-5x");
    QCOMPARE(F()->MaxPowerDefaultGain1Edit->text(), QString("-5"));
    QCOMPARE(m_pUi->vBoxes.size(), size_t(1));
    F()->PlayVolumeDefaultEdit->setReadOnly(false);
    F()->PlayVolumeDefaultEdit->setEnabled(true);
    F()->PlayVolumeDefaultEdit->clear();
    QTest::keyClicks(F()->PlayVolumeDefaultEdit, "4-2");
    QCOMPARE(F()->PlayVolumeDefaultEdit->text(), QString("42"));
    QCOMPARE(m_pUi->vBoxes.size(), size_t(2));
  }

  // A refused key leaves the edit exactly as it was before that key: the
  // box takes the focus, and a timing edit's fix-up on focus loss must not
  // put its stored value back (R1 "50", emptied, then "x" and "9" gave "950").
  void RefusedKeyLeavesTheEditAsItWas() {
    m_pForm->OnHotKey(VK_RETURN_KEY);
    F()->EnableRWTimeCheckBox->setChecked(true);
    m_pUi->bBoxesTakeFocus = true;
    QLineEdit* pEdit = F()->ReadTimeOutEdit;
    pEdit->setFocus();
    pEdit->setText("50");
    pEdit->selectAll();
    QTest::keyClick(pEdit, Qt::Key_Backspace);
    QTest::keyClick(pEdit, Qt::Key_X);
    QCOMPARE(m_pUi->vBoxes.size(), size_t(1));
    QCOMPARE(pEdit->text(), QString());
    QTest::keyClick(pEdit, Qt::Key_9);
    QCOMPARE(pEdit->text(), QString("9"));
    // A selection survives the box, with the cursor at its end.
    pEdit->setText("128");
    pEdit->setSelection(3, -2);
    QTest::keyClick(pEdit, Qt::Key_X);
    QCOMPARE(pEdit->text(), QString("128"));
    QCOMPARE(pEdit->selectedText(), QString("28"));
    QCOMPARE(pEdit->cursorPosition(), 1);
    QCOMPARE(m_pForm->m_dwReadTimeOut, 128u);
  }

  // Without a display server Qt's default platforms abort; the program says
  // why instead. Platforms that need none pass.
  void MissingDisplay_data() {
    QTest::addColumn<QString>("szPlatform");
    QTest::addColumn<QString>("szDisplay");
    QTest::addColumn<QString>("szWayland");
    QTest::addColumn<bool>("bRefused");
    QTest::newRow("default, nothing") << "" << "" << "" << true;
    QTest::newRow("default, X11") << "" << ":0" << "" << false;
    QTest::newRow("default, Wayland") << "" << "" << "wayland-0" << false;
    QTest::newRow("xcb with options") << "xcb:nomitshm" << "" << "" << true;
    QTest::newRow("wayland then xcb") << "wayland;xcb" << "" << "" << true;
    QTest::newRow("offscreen") << "offscreen" << "" << "" << false;
    QTest::newRow("minimal") << "minimal" << "" << "" << false;
    QTest::newRow("vnc") << "vnc:size=800x600" << "" << "" << false;
    QTest::newRow("wayland, offscreen fall-back") << "wayland;offscreen" << "" << "" << false;
  }
  void MissingDisplay() {
    QFETCH(QString, szPlatform);
    QFETCH(QString, szDisplay);
    QFETCH(QString, szWayland);
    QFETCH(bool, bRefused);
    const auto arg = [](const QString& sz) { return sz.isEmpty() ? QByteArray() : sz.toLocal8Bit(); };
    const QByteArray platform = arg(szPlatform), display = arg(szDisplay), wayland = arg(szWayland);
    const std::string szText =
        MissingDisplayText(platform.isNull() ? nullptr : platform.constData(),
                           display.isNull() ? nullptr : display.constData(),
                           wayland.isNull() ? nullptr : wayland.constData());
    QCOMPARE(szText.empty(), !bRefused);
    if (bRefused) QCOMPARE(szText, std::string("no display (DISPLAY / WAYLAND_DISPLAY not set)"));
  }

  void ExitQuestion() {
    m_pUi->qAnswers.push_back(kIdCancel);
    QCloseEvent cancelled;
    QCoreApplication::sendEvent(m_pForm, &cancelled);
    QVERIFY(!cancelled.isAccepted());
    QCOMPARE(m_pUi->vBoxes.back().szText, QString("请确认是否已保存修改的数据,确认退出吗?"));
    QVERIFY(m_pUi->vBoxes.back().bOkCancel);
    m_pUi->qAnswers.push_back(kIdOk);
    QCloseEvent accepted;
    QCoreApplication::sendEvent(m_pForm, &accepted);
    QVERIFY(accepted.isAccepted());
  }

  // ----------------------------------------------------------- diagnostics

  void DiagnosticsStartHiddenAndOff() {
    QVERIFY(F()->LogFileCheckBox->isHidden());
    QVERIFY(F()->EnableRWTimeCheckBox->isHidden());
    QVERIFY(F()->I2CEdit->isHidden());
    QVERIFY(F()->ReportIdCheckBox->isHidden());
    QCOMPARE(F()->ReadTimeOutEdit->text(), QString("128"));
    QCOMPARE(F()->ReadContinuousEdit->text(), QString("05"));
    QCOMPARE(F()->I2CEdit->text(), QString("20"));
    QCOMPARE(m_pForm->m_dwI2CSpeed, 0x20u);
    QCOMPARE(m_pForm->m_bLogEnabled, 0);
    QCOMPARE(m_pForm->m_bRWTimeEnabled, 0);
    QCOMPARE(m_pForm->m_bI2CEnabled, 0);
  }

  void EnterShowsAndHidesGroupsKeepingState() {
    m_pForm->OnHotKey('L');  // checked while hidden
    QCOMPARE(m_pForm->m_bLogEnabled, 1);
    m_pForm->OnHotKey(VK_RETURN_KEY);
    QVERIFY(!F()->LogFileCheckBox->isHidden());
    QVERIFY(!F()->ReadWriteTest4Label->isHidden());
    QVERIFY(!F()->I2CEdit->isHidden());
    QVERIFY(F()->LogFileCheckBox->isChecked());
    QVERIFY(!F()->EnableRWTimeCheckBox->isChecked());
    m_pForm->OnHotKey(VK_RETURN_KEY);
    QVERIFY(F()->LogFileCheckBox->isHidden());
    QVERIFY(F()->EnableI2CCheckBox->isHidden());
    QVERIFY(F()->LogFileCheckBox->isChecked());
    m_pForm->OnHotKey(VK_DOWN_KEY);
    QVERIFY(!F()->ReportIdCheckBox->isHidden());
    m_pForm->OnHotKey(VK_DOWN_KEY);
    QVERIFY(F()->ReportIdCheckBox->isHidden());
  }

  void LengthenAndShortenRules_data() {
    QTest::addColumn<uint>("dwKey");
    QTest::addColumn<uint>("dwTimeOut");
    QTest::addColumn<uint>("dwDelay");
    QTest::addColumn<uint>("dwNewTimeOut");
    QTest::addColumn<uint>("dwNewDelay");
    QTest::newRow("shorten 100/6") << uint('S') << 100u << 6u << 64u << 3u;
    QTest::newRow("shorten 64/5") << uint(VK_RIGHT_KEY) << 64u << 5u << 64u << 2u;
    QTest::newRow("shorten 129/160") << uint(VK_SUBTRACT_KEY) << 129u << 160u << 64u << 80u;
    QTest::newRow("shorten 2048/161") << uint('S') << 2048u << 161u << 1024u << 80u;
    QTest::newRow("shorten 4096/200") << uint('S') << 4096u << 200u << 1024u << 80u;
    QTest::newRow("lengthen 40/2") << uint('A') << 40u << 2u << 64u << 5u;
    QTest::newRow("lengthen 600/40") << uint(VK_LEFT_KEY) << 600u << 40u << 1024u << 80u;
    QTest::newRow("lengthen 511/39") << uint(VK_ADD_KEY) << 511u << 39u << 1022u << 78u;
    QTest::newRow("lengthen 64/5") << uint('A') << 64u << 5u << 128u << 10u;
  }

  void LengthenAndShortenRules() {
    QFETCH(uint, dwKey);
    QFETCH(uint, dwTimeOut);
    QFETCH(uint, dwDelay);
    QFETCH(uint, dwNewTimeOut);
    QFETCH(uint, dwNewDelay);
    m_pForm->OnHotKey('M');  // RWTime on
    QCOMPARE(m_pForm->m_bRWTimeEnabled, 1);
    F()->ReadTimeOutEdit->setText(QString::number(dwTimeOut));
    F()->WriteTimeOutEdit->setText(QString::number(dwTimeOut));
    F()->ReadContinuousEdit->setText(QString::number(dwDelay));
    F()->WriteContinuousEdit->setText(QString::number(dwDelay));
    m_pForm->OnHotKey(dwKey);
    QCOMPARE(m_pForm->m_dwReadTimeOut, dwNewTimeOut);
    QCOMPARE(m_pForm->m_dwWriteTimeOut, dwNewTimeOut);
    QCOMPARE(m_pForm->m_dwReadSleepTime, dwNewDelay);
    QCOMPARE(m_pForm->m_dwWriteSleepTime, dwNewDelay);
    QCOMPARE(F()->ReadContinuousEdit->text(), QString::asprintf("%.2u", dwNewDelay));
    QCOMPARE(F()->WriteTimeOutEdit->text(), QString::asprintf("%.2u", dwNewTimeOut));
  }

  void TimingKeysDoNothingWhileRWTimeOff() {
    m_pForm->OnHotKey('A');
    m_pForm->OnHotKey('S');
    QCOMPARE(m_pForm->m_dwReadTimeOut, 128u);
    QCOMPARE(m_pForm->m_dwWriteSleepTime, 5u);
    QCOMPARE(F()->ReadContinuousEdit->text(), QString("05"));
  }

  void I2CSpeedKeys() {
    qrt::diag::CTraceCapture trace;
    m_pForm->OnHotKey('5');  // box unchecked: only the trace line
    QCOMPARE(m_pForm->m_dwI2CSpeed, 0x20u);
    QVERIFY(trace.Contains("m_dwI2CSpeed = 0x20"));
    F()->EnableI2CCheckBox->setChecked(true);
    QCOMPARE(m_pForm->m_bI2CEnabled, 1);
    m_pForm->OnHotKey('5');
    QCOMPARE(m_pForm->m_dwI2CSpeed, 0x10u);
    QCOMPARE(F()->I2CEdit->text(), QString("10"));
    m_pForm->OnHotKey('8');
    QCOMPARE(F()->I2CEdit->text(), QString("80"));
    // I, C, T set the speed only while the RWTime box is checked.
    m_pForm->OnHotKey('T');
    QCOMPARE(m_pForm->m_dwI2CSpeed, 0x80u);
    m_pForm->OnHotKey('M');
    m_pForm->OnHotKey('T');
    QCOMPARE(m_pForm->m_dwI2CSpeed, 0x40u);
    m_pForm->OnHotKey('I');
    QCOMPARE(F()->I2CEdit->text(), QString("10"));
  }

  void I2CEditParsing() {
    F()->I2CEdit->setText("");
    QCOMPARE(m_pForm->m_dwI2CSpeed, 0u);
    F()->I2CEdit->setText("3f");
    QCOMPARE(m_pForm->m_dwI2CSpeed, 0x3Fu);
    F()->I2CEdit->setText("3g");
    QCOMPARE(m_pForm->m_dwI2CSpeed, 0x3Fu);
    QCOMPARE(m_pUi->vBoxes.size(), size_t(1));
  }

  void TimingEditsParseDecimal() {
    F()->ReadTimeOutEdit->setText("300");
    QCOMPARE(m_pForm->m_dwReadTimeOut, 300u);
    F()->ReadTimeOutEdit->setText("x");
    QCOMPARE(m_pForm->m_dwReadTimeOut, 300u);  // not a time-out: kept
  }

  // Every control keeps its place when the language switches or the
  // service row appears.
  void ControlsKeepTheirPlace() {
    const auto places = [this] {
      QCoreApplication::processEvents();  // pending layout requests
      QMap<QString, QRect> map;
      for (QWidget* pWidget : m_pForm->findChildren<QWidget*>()) {
        if (pWidget->objectName().isEmpty() || !pWidget->isVisible()) continue;
        map[pWidget->objectName()] = QRect(pWidget->mapTo(m_pForm, QPoint(0, 0)), pWidget->size());
      }
      return map;
    };
    const auto compare = [](const QMap<QString, QRect>& a, const QMap<QString, QRect>& b) {
      int nCommon = 0;
      for (auto it = a.begin(); it != a.end(); ++it) {
        if (!b.contains(it.key())) continue;
        ++nCommon;
        if (b[it.key()] != it.value()) {
          qWarning() << it.key() << it.value() << b[it.key()];
          return false;
        }
      }
      return nCommon > 40;
    };
    const QMap<QString, QRect> chinese = places();
    F()->EnglishPanel->click();
    const QMap<QString, QRect> english = places();
    QVERIFY(compare(chinese, english));
    m_pForm->OnHotKey(VK_RETURN_KEY);
    const QMap<QString, QRect> englishService = places();
    QVERIFY(englishService.contains("ReadTimeOutEdit"));
    QVERIFY(compare(english, englishService));
    F()->ChinesePanel->click();
    QVERIFY(compare(englishService, places()));
    // The image map's button takes cells no control uses: without it every
    // other control stands where it stands with it.
    F()->ImageMapBitBtn->hide();
    const QMap<QString, QRect> withoutMap = places();
    F()->ImageMapBitBtn->show();
    QVERIFY(compare(withoutMap, places()));
  }

  // Qt's own texts (standard buttons, file dialogs) follow the language.
  void QtTextsFollowTheLanguage() {
    const auto cancel = [] {
      QDialogButtonBox box(QDialogButtonBox::Cancel);
      return box.button(QDialogButtonBox::Cancel)->text();
    };
    const QString szLookIn = QCoreApplication::translate("QFileDialog", "Look in:");
    QCOMPARE(cancel(), QString("取消"));
    QVERIFY(szLookIn != "Look in:");
    F()->EnglishPanel->click();
    QCOMPARE(cancel(), QString("Cancel"));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QString("Look in:"));
    F()->ChinesePanel->click();
    QCOMPARE(cancel(), QString("取消"));
  }

  // qrt4250-config --simulate takes every simulator option qrt4250-cli
  // takes: the two --help texts name the same ones.
  void SimulatorOptionsAreTheCommandLines() {
    const auto options = [](const QString& szHelp) {
      QStringList names;
      const QRegularExpression name("--sim[a-z-]*");
      for (auto it = name.globalMatch(szHelp); it.hasNext();) names << it.next().captured();
      names.removeDuplicates();
      names.sort();
      return names;
    };
    QProcess window;
    window.start(QRT_CONFIG_PATH, {"--help"});
    QVERIFY(window.waitForFinished(30000));
    const QStringList inWindow = options(QString::fromUtf8(window.readAllStandardOutput()));
    const qrt::test::CRun cli = qrt::test::RunCliWith({"write", "--help"});
    QCOMPARE(inWindow, options(QString::fromStdString(cli.out)));
    QCOMPARE(inWindow.size(), 9);
  }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
