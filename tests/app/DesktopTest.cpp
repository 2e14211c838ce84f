// What the window needs of the desktop session it runs in, on the platform
// plugin the session has (offscreen here; under wine also Qt's windows
// plugin on an X display):
// - the diagnostics hotkeys through the session's own path, not the
//   dispatcher alone: under the windows plugin they are registered with
//   RegisterHotKey and the chord is typed with SendInput (WM_HOTKEY comes
//   back from the system); elsewhere they are application shortcuts and the
//   chord is a key event;
// - a font for the Chinese captions: every caption resolves to real glyphs
//   of some installed font, not the missing-glyph box.
#ifdef _WIN32
#include <windows.h>
#endif

#include <QAbstractButton>
#include <QGlyphRun>
#include <QGroupBox>
#include <QLabel>
#include <QTextLayout>
#include <QtTest>
#include <algorithm>
#include <functional>
#include <vector>

#include "WindowFixture.h"

using qrt::app::VK_RETURN_KEY;
using qrt::app::test::CWindowFixture;

namespace {

constexpr Qt::KeyboardModifiers kChord = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;

#ifdef _WIN32
// The chord as the keyboard gives it: Ctrl, Alt, Shift down, the key down
// and up, the modifiers up. False when the system took fewer events.
bool TypeSystemChord(WORD wVirtualKey) {
  const WORD wKeys[] = {VK_CONTROL, VK_MENU, VK_SHIFT, wVirtualKey};
  std::vector<INPUT> inputs;
  for (WORD wKey : wKeys) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = wKey;
    inputs.push_back(input);
  }
  for (int i = 3; i >= 0; --i) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = wKeys[i];
    input.ki.dwFlags = KEYEVENTF_KEYUP;
    inputs.push_back(input);
  }
  return ::SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}
#endif

// True when the layout draws some character of szText with glyph 0 (the
// box) or with no real font at all (no font found: Qt's box engine).
bool HasMissingGlyph(const QString& szText, const QFont& font) {
  QTextLayout layout(szText, font);
  layout.beginLayout();
  layout.createLine();
  layout.endLayout();
  qsizetype nGlyphs = 0;
  for (const QGlyphRun& run : layout.glyphRuns()) {
    const QList<quint32> glyphs = run.glyphIndexes();
    if (!run.rawFont().isValid() || std::count(glyphs.begin(), glyphs.end(), 0u) > 0) return true;
    nGlyphs += glyphs.size();
  }
  return nGlyphs == 0 && !szText.trimmed().isEmpty();
}

bool IsHan(QChar ch) { return ch.script() == QChar::Script_Han; }

}  // namespace

class DesktopTest : public QObject {
  Q_OBJECT

 private:
  // One chord; then the events are handled until the window has taken it
  // (a system hotkey arrives as a posted message).
  static void Press(CWindowFixture& fixture, Qt::Key key, uint32_t dwVirtualKey,
                    const std::function<bool()>& fnTaken) {
    if (QGuiApplication::platformName() == QLatin1String("windows")) {
#ifdef _WIN32
      QVERIFY(TypeSystemChord(WORD(dwVirtualKey)));
      QDeadlineTimer deadline(10000);
      while (!fnTaken() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
      }
#else
      Q_UNUSED(dwVirtualKey);
#endif
    } else {
      // Shortcuts reach the active window only.
      QApplication::setActiveWindow(fixture.pForm.get());
      QTest::keyClick(fixture.pForm.get(), key, kChord);
    }
    QVERIFY2(fnTaken(), qPrintable(QString("Ctrl+Alt+Shift+%1 was not taken (platform %2)")
                                       .arg(QKeySequence(key).toString(),
                                            QGuiApplication::platformName())));
  }

 private slots:
  void ChordShowsAndHidesTheServiceRow() {
    CWindowFixture fixture;
    Ui::TMainForm* pUi = fixture.F();
    QVERIFY(pUi->LogFileCheckBox->isHidden());

    Press(fixture, Qt::Key_Return, VK_RETURN_KEY, [&] { return !pUi->LogFileCheckBox->isHidden(); });
    if (QTest::currentTestFailed()) return;
    QVERIFY(!pUi->EnableRWTimeCheckBox->isHidden());
    QVERIFY(!pUi->I2CEdit->isHidden());
    Press(fixture, Qt::Key_L, 'L', [&] { return pUi->LogFileCheckBox->isChecked(); });
    if (QTest::currentTestFailed()) return;
    QCOMPARE(fixture.pForm->m_bLogEnabled, 1);
    Press(fixture, Qt::Key_Return, VK_RETURN_KEY, [&] { return pUi->LogFileCheckBox->isHidden(); });
    if (QTest::currentTestFailed()) return;
    QVERIFY(pUi->LogFileCheckBox->isChecked());
  }

  void ChineseCaptionsHaveGlyphs() {
#ifdef _WIN32
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
      QSKIP("offscreen on Windows reads fonts from Qt's own lib/fonts; the run on the windows "
            "platform checks the system's fonts");
#endif
    CWindowFixture fixture;  // starts in Chinese
    int nHan = 0;
    QStringList missing;
    for (QWidget* pWidget : fixture.pForm->findChildren<QWidget*>()) {
      QString szText;
      if (auto* pLabel = qobject_cast<QLabel*>(pWidget)) szText = pLabel->text();
      if (auto* pButton = qobject_cast<QAbstractButton*>(pWidget)) szText = pButton->text();
      if (auto* pGroup = qobject_cast<QGroupBox*>(pWidget)) szText = pGroup->title();
      nHan += int(std::count_if(szText.begin(), szText.end(), IsHan));
      if (HasMissingGlyph(szText, pWidget->font())) missing << pWidget->objectName() + ": " + szText;
    }
    QVERIFY2(nHan > 100, qPrintable(QString::number(nHan)));  // the captions are Chinese
    QVERIFY2(missing.isEmpty(), qPrintable("no glyph for " + missing.join("; ")));
  }
};

QTEST_MAIN(DesktopTest)
#include "DesktopTest.moc"
