#pragma once
// TMainForm: the program's one window. It owns the image session and the
// device-library facade and adds only what is about widgets and message
// boxes; everything else lives in the Qt-free libraries.
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceIdStore.h"
#include "DeviceList.h"
#include "EepromProcedure.h"
#include "FieldModel.h"
#include "ImageSession.h"
#include "ProtectedWrite.h"
#include "UiServices.h"
#include "Usb42xxMgr.h"
#include "platform/HidPlatform.h"

namespace qrt::diag {
class CLogManager;
}
namespace qrt::image {
class CImageMap;
}
namespace USB42XX_MGR {
class CBoardHandle;
}
class QTimer;
class QTranslator;
class QLineEdit;
class QLabel;
class QCheckBox;
class QComboBox;

namespace Ui {
class TMainForm;
}

namespace qrt::app {

// The filter of the open dialogs for image files.
inline constexpr char kImageOpenFilter[] = "BIN file(*.bin)|*.bin|HEX file(*.hex)|*.hex";

// Which bytes of an image map a control of the window stands for.
using MAP_SELECTION = std::function<std::vector<bool>(const qrt::image::CImageMap&)>;

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
  // platform and store must outlive the window; the window owns the
  // facade built on them. szLockDir: folder of the device lock files (empty:
  // the system default).
  TMainForm(IUiServices& uiServices, USB42XX_MGR::IHidPlatform& platform,
            USB42XX_MGR::IDeviceIdStore& store, const std::string& szLockDir = {},
            QWidget* pParent = nullptr);
  ~TMainForm() override;

  Ui::TMainForm* Form() const { return m_pUi; }
  qrt::image::CImageSession& Session() { return m_Session; }
  USB42XX_MGR::CUsb42xxMgr& UsbMgr() { return *m_pUsbMgr; }
  QTimer* Timer1() const { return m_pTimer1; }

  // Settings editor.
  void ShowSettings(_INTERNAL_OPT rec);
  void EnableSettingControls(bool bEnable);
  void ResetBitBtnClick();
  void OnChangeString();
  void OnGainClick();

  // Devices.
  int RefreshDeviceList();
  int HasDuplicateDevices() const;
  // Shows message 47 and returns true when two listed boards share a pair.
  bool RefuseTransferWithDuplicates();
  // True while another program holds the device lock: the window then
  // searches nothing, keeps Read and Write off and the status line names the
  // holder; the next poll that finds the lock free lists the devices again.
  bool IsDeviceInUse() const { return m_bDeviceInUse; }
  void UpdateReportIdFlag();
  int SelectActiveDevice();
  void OnVIDPIDComboBoxChange(int nIndex);
  void Timer1Timer();
  int OnDeviceChangeEx(uint16_t wVID, uint16_t wPID, USB42XX_MGR::WINDOW_HANDLE hWnd, uint32_t uMessage,
                       uintptr_t wParam, intptr_t lParam);
  void ClearProgress();

  // Image files.
  void LoadFileBitBtnClick();
  void OnWriteFileBitBtnClick();
  void ShowFileRomSize(uint32_t dwSize);
  void ShowEepromRomSize(uint32_t dwSize);
  void DumpReadFileSize() const;

  // EEPROM transfers.
  void OnReadEEPROMBitBtnClick();
  void OnWriteEEPROMBitBtnClick();
  // The read and the protected write on the selected board: 0, or the
  // read's code; 0 written and verified, 1 nothing or not all written, 2 the
  // read-back failed or differed. bRollback false: a failed write is not
  // undone (a restore puts back contents that are wanted).
  int ReadDataFromEEPROM();
  int WriteDataToEEPROM(const uint8_t* pImage, size_t nImageSize, bool bRollback = true);
  // What the last Write EEPROM did (its facts; the texts come from them).
  const qrt::transfer::WRITE_OUTCOME& LastWriteOutcome() const { return m_LastWriteOutcome; }
  // Replaces the real-time sleep of the lock waits (tests: a virtual clock).
  void SetDeviceLockSleep(std::function<void(uint32_t)> fnSleep);
  uint32_t RomSizeFromComboBox() const;
  bool IsTransferRunning() const { return m_bTransferRunning; }
  class TReadEEPROMForm* ReadEEPROMForm() const {
    return m_pReadEEPROMForm;
  }
  qrt::diag::CLogManager& LogManager() { return *m_pLogManager; }
  // Tests replace the log manager (clock, folder) and what runs while a
  // transfer lets pending messages through.
  void ReplaceLogManager(std::unique_ptr<qrt::diag::CLogManager> pLogManager);
  void SetProcessPendingMessages(std::function<void()> fnProcess) {
    m_fnProcessPendingMessages = std::move(fnProcess);
  }

  // The image map beside the window (created at the first click) and what
  // it needs of the window: an image file and a fresh read of the board to
  // compare with, neither of which changes the working image, and the bytes
  // a settings control stands for.
  void OnImageMapBitBtnClick();

  // The Backup and templates button's menu. Restore: a raw backup chosen in
  // the backup folder, written as Write EEPROM writes (backup of what is
  // there, read-back, rollback); the window's image stays. The templates
  // are the command line's: the current settings exported as JSON, a file's
  // settings applied as one edit (refused whole, with its reason shown).
  void OnRestoreBackupClick();
  void OnExportTemplateClick();
  void OnApplyTemplateClick();
  // Starts qrt4250-config --station beside this window.
  void OnOperatorStationClick();
  class TImageMapForm* ImageMapForm() const {
    return m_pImageMapForm;
  }
  // A file chosen as Load file chooses it, read and checked as a load checks
  // it. False when cancelled or refused (message 41 or 61 shown).
  bool ChooseImageForCompare(std::vector<uint8_t>& vImage, QString& szName);
  // Reads the selected board at the EEPROM type the size dialog gives, as
  // Read EEPROM reads (progress, backup), into vImage (that size). szBoard
  // names the board. False when refused before the read (message 46 or 47
  // shown, dialog cancelled: szWhy empty) or when the read failed (szWhy).
  bool ReadBoardForCompare(std::vector<uint8_t>& vImage, QString& szBoard, QString& szWhy);
  // The bytes a settings control (or its label) stands for; empty for any
  // other object.
  MAP_SELECTION SettingSelection(QObject* pControl) const;

  // AGC / IR bank controls.
  void ShowAgcIrControls();
  void AGCIRBankCheckBoxClick();
  void IREnableCheckBoxClick();
  void OnNECIRGPONUMChange();

  // Message boxes with a table text (id 1..92) in the given language; a
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

  // The working record and the record as last loaded live in the session.
  _INTERNAL_OPT& m_RecInternalOpt;
  _INTERNAL_OPT& m_RecOriginalOpt;

  USB42XX_MGR::DEVICE_LIST m_DeviceId;
  // The boards of m_DeviceId's entries, index for index: what a transfer
  // opens, and their labels name the backups.
  std::vector<USB42XX_MGR::BOARD_INFO> m_vPresentBoards;
  USB42XX_MGR::DEVICE_LIST m_PollDeviceId;
  uint16_t m_SelectedVid = 0;
  uint16_t m_SelectedPid = 0;
  uint8_t m_bReportId = 0;
  int m_bImageFromFile = 1;
  uint8_t m_bFilling = 0;
  int m_nProductSize = 0;
  int m_nManufacturerSize = 0;
  QString m_szProductString;
  QString m_szManufacturerString;
  QString m_szFilePath;
  // Bytes of the last file or EEPROM read, and the image last written.
  uint8_t m_btLoadBuffer[qrt::image::kRomBufferSize];
  uint8_t m_WriteImage[qrt::image::kRomBufferSize];
  // Each board's contents as last read or verified in this session, by
  // label: the backup of its next write without a read of its own.
  std::map<std::string, std::vector<uint8_t>> m_KnownContents;
  // Stage indexes of the shown fine-tuning gain.
  int m_nGainA = 0;
  int m_nGainB = 0;
  int m_nGainC = 0;

  int m_Language = 0;
  QString m_szCaption;
  QString m_szMsgCaption;

  uint32_t m_dwReadTimeOut = 128;
  uint32_t m_dwReadSleepTime = 5;
  uint32_t m_dwWriteTimeOut = 128;
  uint32_t m_dwWriteSleepTime = 5;
  uint32_t m_dwI2CSpeed = 0x20;
  // How long the window waits for a device lock another program holds: a
  // transfer then ends as FAIL with a message naming the holder instead of
  // freezing the window.
  static constexpr uint32_t kDeviceLockWaitMs = 1000;
  int m_bLogEnabled = 0;
  int m_bRWTimeEnabled = 0;
  int m_bI2CEnabled = 0;

 protected:
  void showEvent(QShowEvent* pEvent) override;
  void closeEvent(QCloseEvent* pEvent) override;
  bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

 private:
  // The board the window transfers to: the listed board of the selected
  // pair (two of one pair are refused before any transfer).
  USB42XX_MGR::BOARD_ID SelectedBoard() const;
  // Opens it under its lock, waiting briefly (the window must not freeze).
  // Null with a box saying why; a lock another program holds is noted for
  // FinishTransfer.
  std::unique_ptr<USB42XX_MGR::CBoardHandle> OpenSelectedBoard();
  // A read's bytes kept as a raw backup; the log names the file.
  void KeepBackup(const USB42XX_MGR::BOARD_ID& board, const uint8_t* pData, size_t nSize);
  void LogWriteOutcome();
  void FormShow();
  void ReserveControlSizes();
  void ApplyTexts(int nLanguage);
  void SetCaptionText(QObject* pControl, const QString& szText);
  void TranslateResultText(QLineEdit* pEdit, int nLanguage);
  void RefillDeviceTypeLists(int nLanguage);
  // Qt's own texts (OK, Cancel, file dialogs) follow the window's language.
  void ApplyQtTranslation(int nLanguage);
  void ConnectHandlers();
  void InitDiagnostics();
  void ConnectSettingsHandlers();
  void ConnectDeviceHandlers();
  // Accept sequence on the first n bytes of m_btLoadBuffer; false when the
  // image was refused (message shown, nothing changed).
  bool ApplyLoadedImage(size_t n);
  // The session's record and banks into the settings controls (after a load,
  // a read or a template).
  void ShowSessionInControls();
  void CreateBackupMenu();
  // Writes nSize bytes of pImage to the selected board through the
  // protected write and shows its result (the transfer buttons are off;
  // the settings controls are the caller's).
  void RunWrite(const uint8_t* pImage, size_t nSize, bool bRollback = true);
  void OnVIDChange();
  void OnPIDChange();
  void OnSerialNumberChange();
  void OnProdcuctStringChange();
  void OnManufacturerChange();
  // Takes one string edit's text; false when it holds a character that one
  // byte cannot carry (message 38 shown, the edit restored).
  bool TakeStringText(QLineEdit* pEdit, QString& szLastGood);
  void PackStringsFromEdits(bool bFromProduct, bool bFromManufacturer);
  void SetWriteButtonsForStringEdit();
  void OnHiddenVolumeChange(QLineEdit* pEdit, qrt::image::EFieldId eId);
  void OnHexFieldChange(QLineEdit* pEdit, qrt::image::EFieldId eId);
  void OnMaxPowerGain1Change();
  void SetUnlockState(QCheckBox* pCheck, QLabel* pLabel, QWidget* pList);
  void ShowResult(QLineEdit* pEdit, bool bPass);
  // The status line under the transfers and the tooltip of the write
  // result, in the current language; re-shown by a language switch. After a
  // failed write: what it left and what the rollback did (the words the
  // command line prints).
  enum class EStatus { kNone, kDeviceInUse, kWriteFailed };
  void SetStatus(EStatus eStatus);
  void ShowStatus();
  // The device lock for a device search, taken without waiting.
  enum class EDeviceLock { kHeld, kNone, kBusy };
  EDeviceLock TryDeviceLock();
  void ReleaseDeviceLock(EDeviceLock eLock);
  void EnterDeviceInUse();
  int RefreshDeviceListLocked();
  // Writes the device lock's fall-back notice into the open log, once a run.
  void LogLockNotice();
  class CTransferObserver;
  void CreateTransferObjects();
  void DestroyTransferObjects();
  void ProcessPendingMessages();
  void SetTransferButtons(bool bEnable);
  void FillTransferSettings();
  void RestoreDeviceButtons();
  void FinishTransfer();
  // One read of the selected board through its handle (Read EEPROM's and
  // the image map's compare): dwSize bytes into pBuffer with the window's
  // transfer settings, kept as the board's known contents and as a backup.
  // 0, the procedure's code (also in nCode), kDeviceLockNotHad or -1 when
  // the board did not open (nCode the same).
  int ReadSelectedBoard(uint32_t dwSize, uint8_t* pBuffer, size_t nBufferSize, int& nCode);
  void RegisterHotKeys();
  void UnregisterHotKeys();
  void ShowTimingEdits();

  // Key filters; true lets the key through.
  bool OnKeyPress(int nKey, const QString& szText);
  bool OnDecimalKeyPress(int nKey, const QString& szText);
  bool OnNumberKeyPress(int nKey, const QString& szText);
  bool OnMaxPowerGain1KeyPress(int nKey, const QString& szText);

  void OnLogFileCheckBoxClick();
  void OnReadWriteCheckBoxClick();
  void OnI2CCheckBoxClick();
  void OnI2CChange();

  Ui::TMainForm* m_pUi;
  IUiServices& m_UiServices;
  USB42XX_MGR::IHidPlatform& m_Platform;
  // Owned objects in construction order.
  qrt::image::CImageSession m_Session;
  std::unique_ptr<qrt::diag::CLogManager> m_pLogManager;
  std::unique_ptr<USB42XX_MGR::CUsb42xxMgr> m_pUsbMgr;
  CTransferObserver* m_pObserver = nullptr;  // owned; see DestroyTransferObjects
  USB42XX_MGR::EEPROM_TRANSFER_SETTINGS m_Settings;
  std::function<void(uint32_t)> m_fnLockSleep = USB42XX_MGR::DeviceLockSleep;
  qrt::transfer::WRITE_OUTCOME m_LastWriteOutcome;
  TReadEEPROMForm* m_pReadEEPROMForm = nullptr;
  std::function<void()> m_fnProcessPendingMessages;
  bool m_bTransferRunning = false;
  class CHotKeys* m_pHotKeys = nullptr;
  class TImageMapForm* m_pImageMapForm = nullptr;  // child
  std::recursive_mutex m_DeviceListLock;
  QTimer* m_pTimer1;
  QObject* m_pDeviceNotifier = nullptr;  // watches the platform's event object
  QString m_szLastProductText;
  QString m_szLastManufacturerText;
  bool m_bRestoringText = false;
  // Set while the accept sequence shows a new image's AGC/IR bank.
  bool m_bAcceptingImage = false;
  bool m_bShown = false;
  QTranslator* m_pQtTranslator = nullptr;  // child; loaded at the first switch to Chinese
  bool m_bQtTranslatorInstalled = false;
  QString m_szLastI2CText;
  EStatus m_eStatus = EStatus::kNone;
  bool m_bDeviceInUse = false;
  QString m_szLockHolder;  // who held the device lock, for the status line
  // The construction found the lock taken and skipped SetCheckDeviceId(0);
  // the first search that has the lock makes up for it.
  bool m_bCheckDeviceIdPending = false;
  bool m_bLockNoticeLogged = false;
  // The last transfer found its board's lock held by another program.
  bool m_bBoardInUse = false;
};

}  // namespace qrt::app
