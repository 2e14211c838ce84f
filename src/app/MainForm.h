#pragma once
// TMainForm: the program's one window. It owns the image session and the
// device-library facade and adds only what is about widgets and message
// boxes; everything else lives in the Qt-free libraries.
#include <QString>
#include <QWidget>
#include <cstdint>

#include "UiServices.h"

class QTimer;
class QLineEdit;
class QLabel;
class QCheckBox;
class QComboBox;

namespace Ui {
class TMainForm;
}

namespace qrt::app {

// Virtual-key codes of the diagnostics hotkeys (Ctrl+Alt+Shift+key).
enum EHotKey : uint32_t {
  VK_RETURN_KEY = 0x0D,
  VK_LEFT_KEY = 0x25,
  VK_RIGHT_KEY = 0x27,
  VK_DOWN_KEY = 0x28,
  VK_ADD_KEY = 0x6B,
  VK_SUBTRACT_KEY = 0x6D,
};

class TMainForm : public QWidget {
  Q_OBJECT

 public:
  explicit TMainForm(IUiServices& uiServices, QWidget* pParent = nullptr);
  ~TMainForm() override;

  Ui::TMainForm* Form() const { return m_pUi; }

  // Message boxes with a table text (id 1..73) in the given language; a
  // language or id outside the table shows nothing (AskMessageId returns 0).
  void ShowMessageId(int nLanguage, int nId);
  int AskMessageId(int nLanguage, int nId);

  void ApplyChineseTexts();
  void ApplyEnglishTexts();
  void OnPanel1Click();
  void OnPanel2Click();
  // Title = row 1 of the language + "V" + the program version.
  void BuildCaption(QString& szTitle, QString& szPrefix, QString& szVersion) const;

  void FillVolumeItems();
  void TestFillGainNew();
  void UpdateRecordVolumeRange();

  // Diagnostics (the hidden service row) and the one hotkey dispatcher.
  void ShowLogControls(bool bVisible, bool bChecked);
  void ShowRWTimeControls(bool bVisible, bool bChecked);
  void ShowI2CControls(bool bVisible, bool bChecked);
  void OnHotKey(uint32_t dwVirtualKey);

  int m_Language = 0;
  QString m_szCaption;
  QString m_szMsgCaption;

  uint32_t m_dwReadTimeOut = 128;
  uint32_t m_dwReadSleepTime = 5;
  uint32_t m_dwWriteTimeOut = 128;
  uint32_t m_dwWriteSleepTime = 5;
  uint32_t m_dwI2CSpeed = 0x20;
  int m_bLogEnabled = 0;
  int m_bRWTimeEnabled = 0;
  int m_bI2CEnabled = 0;

 protected:
  void showEvent(QShowEvent* pEvent) override;
  void closeEvent(QCloseEvent* pEvent) override;
  bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

 private:
  void FormShow();
  void ApplyTexts(int nLanguage);
  void SetCaptionText(QObject* pControl, const QString& szText);
  void TranslateResultText(QLineEdit* pEdit, int nLanguage);
  void RefillDeviceTypeLists(int nLanguage);
  int PlayItemOfRecord() const;
  int RecordItemOfRecord() const;
  void ConnectHandlers();
  void InitDiagnostics();
  void ShowTimingEdits();

  // Key filters; true lets the key through.
  bool OnKeyPress(int nKey, const QString& szText);
  bool OnNumberKeyPress(int nKey, const QString& szText);
  bool OnMaxPowerGain1KeyPress(int nKey, const QString& szText);

  void OnLogFileCheckBoxClick();
  void OnReadWriteCheckBoxClick();
  void OnI2CCheckBoxClick();
  void OnI2CChange();

  Ui::TMainForm* m_pUi;
  IUiServices& m_UiServices;
  QTimer* m_pTimer1;
  bool m_bShown = false;
  QString m_szLastI2CText;
};

}  // namespace qrt::app
