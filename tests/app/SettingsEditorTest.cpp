// The settings editor on the window: start-up state, every control writes
// its field and nothing else, the string rules, serial number, VID / PID,
// Headset pairing, Reset all.
#include <cstddef>
#include <cstring>
#include <functional>
#include <set>

#include <QClipboard>
#include <QGuiApplication>

#include "MessageTable.h"
#include "VolumeTables.h"
#include "WindowFixture.h"

using namespace qrt::app;
using qrt::app::test::CWindowFixture;

namespace {

using FieldRange = std::pair<size_t, size_t>;  // offset, size

#define FIELD(name)                                            \
  FieldRange {                                                 \
    offsetof(_INTERNAL_OPT, name), sizeof(_INTERNAL_OPT::name) \
  }

// Offsets of the bytes that differ between two records.
std::set<size_t> ChangedBytes(const _INTERNAL_OPT& a, const _INTERNAL_OPT& b) {
  std::set<size_t> changed;
  const auto* pA = reinterpret_cast<const uint8_t*>(&a);
  const auto* pB = reinterpret_cast<const uint8_t*>(&b);
  for (size_t i = 0; i < sizeof(_INTERNAL_OPT); ++i) {
    if (pA[i] != pB[i]) changed.insert(i);
  }
  return changed;
}

bool InFields(size_t nOffset, const std::vector<FieldRange>& fields) {
  for (const FieldRange& f : fields) {
    if (nOffset >= f.first && nOffset < f.first + f.second) return true;
  }
  return false;
}

}  // namespace

class SettingsEditorTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CWindowFixture> m_p;
  Ui::TMainForm* F() { return m_p->F(); }
  _INTERNAL_OPT& Rec() { return m_p->pForm->m_RecInternalOpt; }

  // The editor as after a load: controls enabled, all lists unlocked.
  void Unlock() {
    m_p->pForm->EnableSettingControls(true);
    for (QCheckBox* pBox :
         {F()->PlaySettingCheckBox, F()->RecordSettingCheckBox, F()->PlayVolumeDefaultCheckBox,
          F()->MaxPowerDefaultGain1CheckBox, F()->MixVolumeDefaultCheckBox,
          F()->RecordVolumeDefaultCheckBox, F()->IFGainCheckBox, F()->SerialNumbercontrlCheckBox,
          F()->ManufactureStringControlCheckBox}) {
      pBox->setChecked(true);
    }
  }

 private slots:
  void init() { m_p = std::make_unique<CWindowFixture>(); }
  void cleanup() { m_p.reset(); }

  void StartUpShowsDefaultImageDisabled() {
    QCOMPARE(F()->VIDEdit->text(), QString("3A7C"));
    QCOMPARE(F()->PIDEdit->text(), QString("4250"));
    QCOMPARE(F()->SerialNumberEdit->text(), QString("000000000000"));
    QCOMPARE(F()->PlaySettingComboBox->currentIndex(), 0);
    QCOMPARE(F()->PlaySettingComboBox->currentText(), QString("喇叭"));
    QCOMPARE(F()->RecordSettingComboBox->currentIndex(), 0);
    QVERIFY(F()->MixMuteCheckBox->isChecked());
    QVERIFY(F()->EnableMICBoostDefaultCheckBox->isChecked());
    QVERIFY(!F()->EnableMICBoostControlCheckBox->isChecked());
    QVERIFY(F()->EnableMICHighPassFilterLCheckBox->isChecked());
    QVERIFY(!F()->EnableMICHighPassFilterRCheckBox->isChecked());
    QVERIFY(F()->ProductStringEdit->isEnabled());
    QVERIFY(!F()->SerialNumberEdit->isEnabled());
    QVERIFY(!F()->ManufactureStringEdit->isEnabled());
    QCOMPARE(F()->IFGainComboBox->currentIndex(), 64);
    QCOMPARE(F()->GainTrackBar->value(), 64);
    QCOMPARE(F()->MaxEdit->text(), QString("42.0 dB"));
    QCOMPARE(F()->MinEdit->text(), QString("16.5 dB"));
    QVERIFY(!F()->VIDEdit->isEnabled());
    QVERIFY(F()->VIDEdit->isReadOnly());
    QVERIFY(!F()->PlayVolumeDefaultComboBox->isEnabled());
    QVERIFY(!F()->IFGainComboBox->isEnabled());
    QVERIFY(!F()->WriteFileBitBtn->isEnabled());
    QVERIFY(!F()->WriteEEPROMBitBtn->isEnabled());
    QVERIFY(!F()->ChangeStringBitBtn->isEnabled());
    QVERIFY(F()->ReadEEPROMBitBtn->isEnabled());
    QCOMPARE(F()->ReadFileSizeEdit->text(), QString("24C02"));
    QCOMPARE(F()->ReadRomSizeEdit->text(), QString("24C02"));
    // The shown texts were packed back: the lengths are the shown lengths + 1.
    QCOMPARE(int(Rec().btProductLen), F()->ProductStringEdit->text().size() + 1);
    QVERIFY(m_p->Ui.vBoxes.empty());
  }

  void EveryControlWritesItsFieldOnly_data() {
    QTest::addColumn<int>("nCase");
    const char* const names[] = {"VIDEdit",
                                 "PIDEdit",
                                 "SerialNumberEdit",
                                 "PlayVolume",
                                 "MixVolume",
                                 "MaxPower",
                                 "RecordVolume",
                                 "IFGain",
                                 "MixMute",
                                 "MicBoostDefault",
                                 "MicBoostControl",
                                 "HpfL",
                                 "HpfR",
                                 "EnableMICBoost",
                                 "PlayDevice",
                                 "RecordDevice",
                                 "SerialControl",
                                 "ProductString",
                                 "ManufacturerString",
                                 "HiddenPlayVolumeEdit",
                                 "HiddenMaxPowerEdit"};
    for (int i = 0; i < int(std::size(names)); ++i) QTest::newRow(names[i]) << i;
  }

  void EveryControlWritesItsFieldOnly() {
    QFETCH(int, nCase);
    Unlock();
    struct CASE {
      std::function<void()> fnAction;
      std::vector<FieldRange> fields;
      std::function<bool(const _INTERNAL_OPT&)> fnCheck;
    };
    Ui::TMainForm* u = F();
    const std::vector<CASE> cases = {
        {[u] { u->VIDEdit->setText("1234"); },
         {FIELD(wVID)},
         [](const _INTERNAL_OPT& r) { return r.wVID == 0x1234; }},
        {[u] { u->PIDEdit->setText("beef"); },
         {FIELD(wPID)},
         [](const _INTERNAL_OPT& r) { return r.wPID == 0xBEEF; }},
        {[u] { u->SerialNumberEdit->setText("0102030405A6"); },
         {FIELD(btSerialNumber)},
         [](const _INTERNAL_OPT& r) {
           return r.btSerialNumber[0] == 1 && r.btSerialNumber[5] == 0xA6;
         }},
        {[u] { CWindowFixture::Choose(u->PlayVolumeDefaultComboBox, 5); },
         {FIELD(btPlayVolume)},
         [](const _INTERNAL_OPT& r) { return r.btPlayVolume == 58; }},
        {[u] { CWindowFixture::Choose(u->MixVolumeDefaultComboBox, 63); },
         {FIELD(btMixVolume)},
         [](const _INTERNAL_OPT& r) { return r.btMixVolume == 0; }},
        {[u] { CWindowFixture::Choose(u->MaxPowerDefaultGain1ComboBox, 63); },
         {FIELD(btMaxPowerGain1)},
         [](const _INTERNAL_OPT& r) { return r.btMaxPowerGain1 == 63; }},
        {[u] { CWindowFixture::Choose(u->RecordVolumeDefaultComboBox, 14); },
         {FIELD(btRecordVolume)},
         [](const _INTERNAL_OPT& r) { return r.btRecordVolume == 35; }},
        {[u] { CWindowFixture::Choose(u->IFGainComboBox, 0); },
         {FIELD(btGainA), FIELD(btGainB), FIELD(btGainC)},
         [](const _INTERNAL_OPT& r) { return r.btGainA == 3 && r.btGainB == 2 && r.btGainC == 4; }},
        {[u] { u->MixMuteCheckBox->click(); },
         {FIELD(btMixMute)},
         [](const _INTERNAL_OPT& r) { return r.btMixMute == 0; }},
        {[u] { u->EnableMICBoostDefaultCheckBox->click(); },
         {FIELD(btMicBoostDefault)},
         [](const _INTERNAL_OPT& r) { return r.btMicBoostDefault == 0; }},
        {[u] { u->EnableMICBoostControlCheckBox->click(); },
         {FIELD(btMicBoostCtrl)},
         [](const _INTERNAL_OPT& r) { return r.btMicBoostCtrl == 1; }},
        {[u] { u->EnableMICHighPassFilterLCheckBox->click(); },
         {FIELD(btHpfLEnable)},
         [](const _INTERNAL_OPT& r) { return r.btHpfLEnable == 0; }},
        {[u] { u->EnableMICHighPassFilterRCheckBox->setChecked(true); },
         {FIELD(btHpfREnable)},
         [](const _INTERNAL_OPT& r) { return r.btHpfREnable == 1; }},
        {[u] { u->EnableMICBoostCheckBox->setChecked(true); },
         {FIELD(btMicBoostCtrl), FIELD(btMicBoostDefault)},
         [](const _INTERNAL_OPT& r) { return r.btMicBoostCtrl == 1 && r.btMicBoostDefault == 1; }},
        {[u] { CWindowFixture::Choose(u->PlaySettingComboBox, 2); },
         {FIELD(btPlayTerminalHi), FIELD(btPlayTerminalLo)},
         [](const _INTERNAL_OPT& r) { return r.btPlayTerminalHi == 3 && r.btPlayTerminalLo == 2; }},
        {[u] { CWindowFixture::Choose(u->RecordSettingComboBox, 2); },
         {FIELD(btRecordTerminalHi), FIELD(btRecordTerminalLo)},
         [](const _INTERNAL_OPT& r) {
           return r.btRecordTerminalHi == 2 && r.btRecordTerminalLo == 5;
         }},
        {[u] { u->SerialNumbercontrlCheckBox->setChecked(false); },
         {FIELD(btSerialNumberCtrl)},
         [](const _INTERNAL_OPT& r) { return r.btSerialNumberCtrl == 0; }},
        {[u] { u->ProductStringEdit->setText("Board"); },
         {FIELD(szProduct), FIELD(btProductLen), FIELD(szStringArea), FIELD(btProductStringCtrl)},
         [](const _INTERNAL_OPT& r) {
           return r.btProductLen == 6 && std::memcmp(r.szStringArea, "Board", 5) == 0;
         }},
        {[u] { u->ManufactureStringEdit->setText("Maker"); },
         {FIELD(szManufacturer), FIELD(btManufacturerLen), FIELD(szStringArea),
          FIELD(btManufacturerStringCtrl)},
         [](const _INTERNAL_OPT& r) {
           return r.btManufacturerLen == 6 && std::memcmp(r.szManufacturer, "Maker", 5) == 0;
         }},
        {[u] { u->PlayVolumeDefaultEdit->setText("17"); },
         {FIELD(btPlayVolume)},
         [](const _INTERNAL_OPT& r) { return r.btPlayVolume == 17; }},
        {[u] { u->MaxPowerDefaultGain1Edit->setText("-50"); },
         {FIELD(btMaxPowerGain1)},
         [](const _INTERNAL_OPT& r) { return r.btMaxPowerGain1 == 7; }},
    };
    QCOMPARE(int(cases.size()), 21);
    const CASE& tc = cases[size_t(nCase)];
    const _INTERNAL_OPT before = Rec();
    tc.fnAction();
    const std::set<size_t> changed = ChangedBytes(before, Rec());
    QVERIFY(!changed.empty());
    for (size_t nOffset : changed) {
      QVERIFY2(InFields(nOffset, tc.fields), qPrintable(QString("byte %1").arg(nOffset)));
    }
    QVERIFY(tc.fnCheck(Rec()));
  }

  void ProgramSelectionsRunNoHandler() {
    Unlock();
    const _INTERNAL_OPT before = Rec();
    F()->PlayVolumeDefaultComboBox->setCurrentIndex(10);
    F()->PlaySettingComboBox->setCurrentIndex(2);
    F()->IFGainComboBox->setCurrentIndex(3);
    QVERIFY(ChangedBytes(before, Rec()).empty());
  }

  void UnlockBoxesOnlyEnable() {
    Unlock();
    const _INTERNAL_OPT before = Rec();
    F()->PlayVolumeDefaultCheckBox->setChecked(false);
    QVERIFY(!F()->PlayVolumeDefaultComboBox->isEnabled());
    QVERIFY(!F()->PlayVolumeDefaultLabel->isEnabled());
    F()->IFGainCheckBox->setChecked(false);
    QVERIFY(!F()->IFGainComboBox->isEnabled());
    QVERIFY(ChangedBytes(before, Rec()).empty());
    // EnableSettingControls keeps a locked list locked.
    m_p->pForm->EnableSettingControls(true);
    QVERIFY(!F()->PlayVolumeDefaultComboBox->isEnabled());
    QVERIFY(F()->MixVolumeDefaultComboBox->isEnabled());
  }

  void HiddenEditsOutOfRange() {
    Unlock();
    F()->RecordVolumeDefaultEdit->setText("64");
    QCOMPARE(m_p->Ui.vBoxes.back().szText, QString::fromUtf8(MessageText(0, 54)));
    QCOMPARE(F()->RecordVolumeDefaultEdit->text(), QString());
    QCOMPARE(int(Rec().btRecordVolume), 0);
    F()->MaxPowerDefaultGain1Edit->setText("7");
    QCOMPARE(m_p->Ui.vBoxes.back().szText, QString::fromUtf8(MessageText(0, 55)));
    QCOMPARE(int(Rec().btMaxPowerGain1), 57);
  }

  void GainPickAndRange() {
    Unlock();
    F()->EnableMICBoostDefaultCheckBox->setChecked(false);
    QCOMPARE(F()->MaxEdit->text(), QString("21.0 dB"));
    CWindowFixture::Choose(F()->IFGainComboBox, 0);
    QCOMPARE(F()->MaxEdit->text(), QString("34.5 dB"));
    QCOMPARE(F()->MinEdit->text(), QString("9.0 dB"));
    CWindowFixture::Choose(F()->IFGainComboBox, 64);
    QCOMPARE(int(Rec().btGainB), 4);
    QCOMPARE(int(Rec().btGainC), 2);
    // Stage indexes without a row: no selection, "Mute".
    _INTERNAL_OPT rec = Rec();
    rec.btGainA = 0;
    rec.btGainB = 5;
    rec.btGainC = 0;
    m_p->pForm->ShowSettings(rec);
    QCOMPARE(F()->IFGainComboBox->currentIndex(), -1);
    QCOMPARE(F()->MaxEdit->text(), QString("Mute"));
    QCOMPARE(F()->MinEdit->text(), QString("Mute"));
  }

  void RecordVolumeWithoutItem() {
    _INTERNAL_OPT rec = Rec();
    rec.btRecordVolume = 34;
    m_p->pForm->ShowSettings(rec);
    QCOMPARE(F()->RecordVolumeDefaultComboBox->currentIndex(), -1);
    rec.btRecordVolume = 35;
    m_p->pForm->ShowSettings(rec);
    QCOMPARE(F()->RecordVolumeDefaultComboBox->currentIndex(), 14);
    rec.btMaxPowerGain1 = 53;
    rec.btPlayVolume = 0;
    m_p->pForm->ShowSettings(rec);
    QCOMPARE(F()->MaxPowerDefaultGain1ComboBox->currentText(), QString("0 dB"));
    QCOMPARE(F()->PlayVolumeDefaultComboBox->currentText(), QString("-47.25 dB"));
  }

  void StringLimitAndOk() {
    Unlock();
    F()->ProductStringEdit->setText(QString(30, 'p'));
    F()->ManufactureStringEdit->setText(QString(27, 'm'));
    QVERIFY(F()->ChangeStringBitBtn->isEnabled());
    QVERIFY(!F()->WriteFileBitBtn->isEnabled());
    F()->ChangeStringBitBtn->click();
    QCOMPARE(m_p->Ui.vBoxes.back().szText, QString("最大长度为 56 (提示名称 + 制造商信息)"));
    QVERIFY(!F()->WriteFileBitBtn->isEnabled());
    QVERIFY(F()->ChangeStringBitBtn->isEnabled());
    F()->ManufactureStringEdit->setText(QString(26, 'm'));
    F()->ChangeStringBitBtn->click();
    QVERIFY(F()->WriteFileBitBtn->isEnabled());
    QVERIFY(F()->WriteEEPROMBitBtn->isEnabled());
    QVERIFY(!F()->ChangeStringBitBtn->isEnabled());
    QCOMPARE(int(Rec().btProductLen), 31);
    QCOMPARE(int(Rec().btManufacturerLen), 27);
    const QByteArray area(reinterpret_cast<const char*>(Rec().szStringArea), 56);
    QCOMPARE(area, QByteArray(30, 'p') + QByteArray(26, 'm'));
  }

  void EmptyProductString() {
    Unlock();
    F()->ProductStringEdit->setText("");
    QVERIFY(!F()->ProductStringControlCheckBox->isChecked());
    QCOMPARE(int(Rec().btProductStringCtrl), 0);
    QVERIFY(!F()->ProductStringEdit->isEnabled());
    QCOMPARE(int(Rec().btProductLen), 1);
  }

  void StringsAreOneBytePerCharacter() {
    Unlock();
    F()->ProductStringEdit->setText(QString::fromUtf8("Café"));
    QCOMPARE(int(Rec().btProductLen), 5);
    QCOMPARE(int(Rec().szStringArea[3]), 0xE9);
    QVERIFY(m_p->Ui.vBoxes.empty());
    // Shown back from the record: the same text.
    m_p->pForm->ShowSettings(Rec());
    QCOMPARE(F()->ProductStringEdit->text(), QString::fromUtf8("Café"));
    // A character above U+00FF is refused and the text stays.
    F()->ProductStringEdit->setText(QString::fromUtf8("Café中"));
    QCOMPARE(m_p->Ui.vBoxes.size(), size_t(1));
    QCOMPARE(m_p->Ui.vBoxes.back().szText, QString("无效的字符"));
    QCOMPARE(F()->ProductStringEdit->text(), QString::fromUtf8("Café"));
    QCOMPARE(int(Rec().btProductLen), 5);
  }

  void SerialNumberParsing() {
    Unlock();
    F()->SerialNumberEdit->setText("ABC");
    const uint8_t btExpected[6] = {0, 0, 0, 0, 0x0A, 0xBC};
    QVERIFY(std::memcmp(Rec().btSerialNumber, btExpected, 6) == 0);
    F()->SerialNumberEdit->setText("");
    const uint8_t btZero[6] = {};
    QVERIFY(std::memcmp(Rec().btSerialNumber, btZero, 6) == 0);
  }

  void VidPidEdits() {
    Unlock();
    F()->VIDEdit->setText("");
    QCOMPARE(int(Rec().wVID), 0);
    F()->VIDEdit->setText("12");
    F()->VIDEdit->setText("12 ");
    QCOMPARE(int(Rec().wVID), 0x12);
  }

  // Every hex edit holds hex digits up to the width it stores, typed or
  // pasted; a typed character outside them shows message 38.
  void HexEditsHoldWhatTheyStore_data() {
    QTest::addColumn<QString>("szEdit");
    QTest::addColumn<bool>("bPaste");
    QTest::addColumn<QString>("szInput");
    QTest::addColumn<QString>("szShown");
    QTest::addColumn<int>("nBoxes");
    QTest::newRow("VID paste") << "VIDEdit" << true << "Zq9!"
                               << "3A7C" << 0;
    QTest::newRow("VID paste word") << "VIDEdit" << true << "Audi"
                                    << "3A7C" << 0;
    QTest::newRow("VID paste hex") << "VIDEdit" << true << "beef"
                                   << "beef" << 0;
    QTest::newRow("PID typed space") << "PIDEdit" << false << "5 78"
                                     << "578" << 1;
    QTest::newRow("serial typed space") << "SerialNumberEdit" << false << "12 34"
                                        << "1234" << 1;
    QTest::newRow("NEC GPO paste") << "NECIRGPONUMEdit" << true << "G"
                                   << "0" << 0;
    QTest::newRow("I2C typed") << "I2CEdit" << false << "1FF"
                               << "1F" << 0;
  }

  void HexEditsHoldWhatTheyStore() {
    QFETCH(QString, szEdit);
    QFETCH(bool, bPaste);
    QFETCH(QString, szInput);
    QFETCH(QString, szShown);
    QFETCH(int, nBoxes);
    Unlock();
    m_p->pForm->ShowI2CControls(true, true);
    auto* pEdit = m_p->pForm->findChild<QLineEdit*>(szEdit);
    QVERIFY(pEdit && pEdit->isEnabled() && !pEdit->isReadOnly());
    if (bPaste) {
      QGuiApplication::clipboard()->setText(szInput);
      pEdit->selectAll();
      pEdit->paste();
    } else {
      pEdit->clear();
      QTest::keyClicks(pEdit, szInput);
    }
    QCOMPARE(pEdit->text(), szShown);
    QCOMPARE(int(m_p->Ui.vBoxes.size()), nBoxes);
    // What the edit shows is what is stored.
    const uint64_t qwShown = szShown.toULongLong(nullptr, 16);
    uint64_t qwStored = 0;
    if (szEdit == "VIDEdit") qwStored = Rec().wVID;
    if (szEdit == "PIDEdit") qwStored = Rec().wPID;
    if (szEdit == "SerialNumberEdit") {
      for (uint8_t bt : Rec().btSerialNumber) qwStored = qwStored << 8 | bt;
    }
    if (szEdit == "NECIRGPONUMEdit") qwStored = m_p->pForm->Session().AgcIrMgr().GetNecIrGpoNum();
    if (szEdit == "I2CEdit") qwStored = m_p->pForm->m_dwI2CSpeed;
    QCOMPARE(qwStored, qwShown);
  }

  // The service row's timing edits hold decimal digits in the range a
  // transfer accepts; leaving an edit that holds no such value puts the
  // stored value back.
  void TimingEditsHoldWhatTheyStore_data() {
    QTest::addColumn<QString>("szEdit");
    QTest::addColumn<bool>("bPaste");
    QTest::addColumn<QString>("szInput");
    QTest::addColumn<QString>("szShown");
    QTest::addColumn<uint>("dwStored");
    QTest::addColumn<int>("nBoxes");
    QTest::newRow("R1 typed x9") << "ReadTimeOutEdit" << false << "x9"
                                 << "9" << 9u << 1;
    QTest::newRow("R1 paste x9") << "ReadTimeOutEdit" << true << "x9"
                                 << "128" << 128u << 0;
    QTest::newRow("R1 0 then leave") << "ReadTimeOutEdit" << false << "0"
                                     << "128" << 128u << 0;
    QTest::newRow("W1 over 60000") << "WriteTimeOutEdit" << false << "60001"
                                   << "6000" << 6000u << 0;
    QTest::newRow("R2 delay 0") << "ReadContinuousEdit" << false << "0"
                                << "0" << 0u << 0;
    QTest::newRow("W2 over 1000") << "WriteContinuousEdit" << false << "1001"
                                  << "100" << 100u << 0;
  }

  void TimingEditsHoldWhatTheyStore() {
    QFETCH(QString, szEdit);
    QFETCH(bool, bPaste);
    QFETCH(QString, szInput);
    QFETCH(QString, szShown);
    QFETCH(uint, dwStored);
    QFETCH(int, nBoxes);
    m_p->pForm->ShowRWTimeControls(true, true);
    auto* pEdit = m_p->pForm->findChild<QLineEdit*>(szEdit);
    QVERIFY(pEdit && pEdit->isEnabled());
    if (bPaste) {
      QGuiApplication::clipboard()->setText(szInput);
      pEdit->selectAll();
      pEdit->paste();
    } else {
      pEdit->clear();
      QTest::keyClicks(pEdit, szInput);
    }
    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(pEdit, &leave);
    QCOMPARE(pEdit->text(), szShown);
    QCOMPARE(int(m_p->Ui.vBoxes.size()), nBoxes);
    const uint32_t dwMembers[] = {m_p->pForm->m_dwReadTimeOut, m_p->pForm->m_dwReadSleepTime,
                                  m_p->pForm->m_dwWriteTimeOut, m_p->pForm->m_dwWriteSleepTime};
    const QStringList names = {"ReadTimeOutEdit", "ReadContinuousEdit", "WriteTimeOutEdit",
                               "WriteContinuousEdit"};
    QCOMPARE(dwMembers[names.indexOf(szEdit)], dwStored);
  }

  // The lists show the Headset pairing; the record (and so every header
  // byte) changes only when the user picks an item.
  void HeadsetPairingIsShownNotStored() {
    _INTERNAL_OPT rec = Rec();
    rec.btPlayTerminalHi = 3;
    rec.btPlayTerminalLo = 1;
    rec.btRecordTerminalHi = 4;
    rec.btRecordTerminalLo = 2;
    m_p->pForm->m_RecInternalOpt = rec;
    m_p->pForm->ShowSettings(rec);
    QCOMPARE(F()->PlaySettingComboBox->currentIndex(), 1);
    QCOMPARE(F()->RecordSettingComboBox->currentIndex(), 1);
    QVERIFY(ChangedBytes(rec, Rec()).empty());
    // A language switch keeps what the lists show.
    F()->EnglishPanel->click();
    QCOMPARE(F()->PlaySettingComboBox->currentText(), QString("Headset"));
    QCOMPARE(F()->RecordSettingComboBox->currentText(), QString("Headset"));
    QVERIFY(ChangedBytes(rec, Rec()).empty());
    // Choosing Headset in the record list sets both record terminals only.
    Unlock();
    rec = Rec();
    rec.btPlayTerminalHi = 3;
    rec.btPlayTerminalLo = 2;
    rec.btRecord2TerminalHi = 2;
    rec.btRecord2TerminalLo = 1;
    m_p->pForm->m_RecInternalOpt = rec;
    CWindowFixture::Choose(F()->RecordSettingComboBox, 1);
    QCOMPARE(int(Rec().btRecord2TerminalHi), 4);
    QCOMPARE(int(Rec().btRecord2TerminalLo), 2);
    QCOMPARE(int(Rec().btPlayTerminalLo), 2);
    QCOMPARE(int(Rec().btPlayTerminalHi), 3);
  }

  void LanguageSwitchKeepsDeviceItems() {
    _INTERNAL_OPT rec = Rec();
    rec.btPlayTerminalHi = 4;
    rec.btPlayTerminalLo = 2;
    rec.btRecordTerminalHi = 2;
    rec.btRecordTerminalLo = 5;
    m_p->pForm->ShowSettings(rec);
    F()->EnglishPanel->click();
    QCOMPARE(F()->PlaySettingComboBox->currentText(), QString("Headset"));
    QCOMPARE(F()->RecordSettingComboBox->currentText(), QString("Headset"));
    Unlock();
    CWindowFixture::Choose(F()->RecordSettingComboBox, 2);
    F()->ChinesePanel->click();
    QCOMPARE(F()->PlaySettingComboBox->currentText(), QString("耳麦"));
    QCOMPARE(F()->RecordSettingComboBox->currentText(), QString("麦克风阵列"));
  }

  // OK packs "from product": the manufacturer string's switch stays off,
  // after an edit of the product text and after Reset all at start-up.
  void OkKeepsManufacturerSwitch_data() {
    QTest::addColumn<bool>("bReset");
    QTest::newRow("product edited") << false;
    QTest::newRow("Reset all at start-up") << true;
  }

  void OkKeepsManufacturerSwitch() {
    QFETCH(bool, bReset);
    QVERIFY(!F()->ManufactureStringControlCheckBox->isChecked());
    QVERIFY(!F()->ManufactureStringEdit->text().isEmpty());
    if (bReset) {
      m_p->Ui.qAnswers.push_back(kIdOk);
      F()->ResetBitBtn->click();
    } else {
      m_p->pForm->EnableSettingControls(true);
      F()->ProductStringEdit->setText("Board");
    }
    QVERIFY(F()->ChangeStringBitBtn->isEnabled());
    F()->ChangeStringBitBtn->click();
    QVERIFY(F()->WriteFileBitBtn->isEnabled());
    QVERIFY(!F()->ManufactureStringControlCheckBox->isChecked());
    QCOMPARE(int(Rec().btManufacturerStringCtrl), 0);
    QVERIFY(!F()->ManufactureStringEdit->isEnabled());
  }

  void ResetAllOkAndCancel() {
    Unlock();
    const _INTERNAL_OPT original = m_p->pForm->m_RecOriginalOpt;
    const QStringList shown = m_p->Snapshot();
    F()->VIDEdit->setText("1111");
    CWindowFixture::Choose(F()->PlayVolumeDefaultComboBox, 9);
    F()->MixMuteCheckBox->click();
    m_p->Ui.qAnswers.push_back(kIdCancel);
    F()->ResetBitBtn->click();
    QCOMPARE(int(Rec().wVID), 0x1111);
    QCOMPARE(F()->VIDEdit->text(), QString("1111"));
    m_p->Ui.qAnswers.push_back(kIdOk);
    F()->ResetBitBtn->click();
    QCOMPARE(m_p->Ui.vBoxes.back().szText, QString("是否复位修改的参数为原始值"));
    QCOMPARE(F()->VIDEdit->text(), QString("3A7C"));
    QCOMPARE(F()->PlayVolumeDefaultComboBox->currentIndex(),
             qrt::editor::VolumeCodeToItem(original.btPlayVolume));
    QVERIFY(F()->MixMuteCheckBox->isChecked());
    QCOMPARE(int(Rec().wVID), 0x3A7C);
    QCOMPARE(int(Rec().btPlayVolume), int(original.btPlayVolume));
  }
};

QTEST_MAIN(SettingsEditorTest)
#include "SettingsEditorTest.moc"
