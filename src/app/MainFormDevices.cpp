// TMainForm, devices: the device list, the selected device, the poll, the
// device-change callback and the progress display.
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>
#include <algorithm>

#include "MainForm.h"
#include "MessageTable.h"
#include "Trace.h"
#include "ui_UMainForm.h"

namespace qrt::app {

using USB42XX_MGR::kDbtDeviceArrival;
using USB42XX_MGR::kDbtDeviceRemoveComplete;

void TMainForm::ConnectDeviceHandlers() {
  connect(m_pTimer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
  connect(m_pUi->VIDPIDComboBox, &QComboBox::activated, this, &TMainForm::OnVIDPIDComboBoxChange);
}

TMainForm::EDeviceLock TMainForm::TryDeviceLock() {
  // Without a lock (its set-up failed) searches run unlocked, as the
  // library's own operations do; transfers refuse then.
  if (!m_pUsbMgr->HasDeviceLock()) return EDeviceLock::kNone;
  std::string szError;
  if (m_pUsbMgr->LockDevice(0, {}, szError) == 0) return EDeviceLock::kHeld;
  m_szLockHolder = QString::fromStdString(m_pUsbMgr->DescribeDeviceLockHolder());
  return EDeviceLock::kBusy;
}

void TMainForm::ReleaseDeviceLock(EDeviceLock eLock) {
  if (eLock == EDeviceLock::kHeld) m_pUsbMgr->UnlockDevice();
}

void TMainForm::EnterDeviceInUse() {
  // Another program works on the boards: no search (its probes would
  // interleave with that program's reports), no boxes, nothing the user
  // cannot do meanwhile with files. The poll keeps looking.
  m_bDeviceInUse = true;
  m_pUi->ReadEEPROMBitBtn->setEnabled(false);
  m_pUi->WriteEEPROMBitBtn->setEnabled(false);
  if (!m_bTransferRunning) m_pUi->LoadFileBitBtn->setEnabled(true);
  SetStatus(EStatus::kDeviceInUse);
  diag::TraceFormat("device lock held by %s", m_szLockHolder.toLocal8Bit().constData());
  m_pTimer1->start();
}

int TMainForm::RefreshDeviceList() {
  std::lock_guard<std::recursive_mutex> lock(m_DeviceListLock);
  const EDeviceLock eLock = TryDeviceLock();
  if (eLock == EDeviceLock::kBusy) {
    EnterDeviceInUse();
    return 0;
  }
  if (m_bCheckDeviceIdPending && m_pUsbMgr->SetCheckDeviceId(0) == 0)
    m_bCheckDeviceIdPending = false;
  const int nResult = RefreshDeviceListLocked();
  ReleaseDeviceLock(eLock);
  // Each board has its own lock: one another program works on was listed
  // without a probe; Read and Write wait for the poll that finds it free.
  const auto held = std::find_if(m_vPresentBoards.begin(), m_vPresentBoards.end(),
                                 [](const USB42XX_MGR::BOARD_INFO& b) { return !b.szHeldBy.empty(); });
  if (held != m_vPresentBoards.end()) {
    m_szLockHolder = QString::fromStdString(held->szHeldBy);
    EnterDeviceInUse();
  } else if (m_bDeviceInUse) {
    m_bDeviceInUse = false;
    if (m_eStatus == EStatus::kDeviceInUse) SetStatus(EStatus::kNone);
  }
  return nResult;
}

int TMainForm::RefreshDeviceListLocked() {
  Ui::TMainForm* u = m_pUi;
  // One entry per board, so two boards of one pair are both listed and
  // HasDuplicateDevices sees them.
  if (m_pUsbMgr->Search_Present_Boards(m_DeviceId, &m_vPresentBoards) != 0) {
    u->VIDPIDComboBox->clear();
    ShowMessageId(m_Language, MSG_REPLUG_DEVICE);
    u->ReadEEPROMBitBtn->setEnabled(false);
    u->WriteEEPROMBitBtn->setEnabled(false);
    u->VIDPIDLabel->setEnabled(false);
    diag::Trace("SearchPresentDevice[1]");
    return 1;
  }
  if (m_DeviceId.Number == 0) {
    u->VIDPIDComboBox->clear();
    diag::Trace("***** Device Number <= 0");
    u->ReadEEPROMBitBtn->setEnabled(false);
    u->WriteEEPROMBitBtn->setEnabled(false);
    u->VIDPIDLabel->setEnabled(false);
    u->VIDPIDComboBox->setEnabled(false);
    return 0;
  }
  // During a transfer the transfer buttons stay off: a second transfer must
  // not start inside the first one's progress callbacks.
  if (!m_bTransferRunning) {
    u->ReadEEPROMBitBtn->setEnabled(true);
    u->WriteEEPROMBitBtn->setEnabled(true);
  }
  u->VIDPIDLabel->setEnabled(true);
  u->VIDPIDComboBox->setEnabled(true);
  m_pTimer1->start();
  m_SelectedVid = m_DeviceId.VID[0];
  m_SelectedPid = m_DeviceId.PID[0];

  uint16_t wVID = 0, wPID = 0;
  if (m_pUsbMgr->GetActiveDevice(wVID, wPID) != 0) {
    diag::Trace("QRT_RE_PLUGIN_CN[1]");
    ShowMessageId(m_Language, MSG_REPLUG_DEVICE);
    return 1;
  }
  if (m_pUsbMgr->SetActiveDevice(m_SelectedVid, m_SelectedPid) != 0 ||
      m_pUsbMgr->SetCheckDeviceId(0) != 0) {
    diag::Trace("QRT_RE_PLUGIN_CN[1]");
    u->LoadFileBitBtn->setEnabled(false);
    u->ReadEEPROMBitBtn->setEnabled(false);
    u->VIDPIDLabel->setEnabled(false);
    ShowMessageId(m_Language, MSG_REPLUG_DEVICE);
    return 1;
  }
  UpdateReportIdFlag();
  u->VIDPIDComboBox->clear();
  // Two boards of one pair are told apart by their paths.
  // (m_vPresentBoards holds one board per entry of m_DeviceId.)
  for (const std::string& szLabel : USB42XX_MGR::BoardLabels(m_vPresentBoards))
    u->VIDPIDComboBox->addItem(QString::fromStdString(szLabel));
  u->VIDPIDComboBox->setCurrentIndex(0);
  if (HasDuplicateDevices()) ShowMessageId(m_Language, MSG_DUPLICATE_DEVICES);
  return 0;
}

int TMainForm::HasDuplicateDevices() const {
  const int nCount = std::min<int>(m_DeviceId.Number, USB42XX_MGR::kMaxDeviceListEntries);
  for (int i = 0; i < nCount; ++i) {
    for (int j = i + 1; j < nCount; ++j) {
      if (m_DeviceId.VID[i] == m_DeviceId.VID[j] && m_DeviceId.PID[i] == m_DeviceId.PID[j]) {
        return 1;
      }
    }
  }
  return 0;
}

void TMainForm::UpdateReportIdFlag() {
  uint32_t dwLength = 0;
  if (m_pUsbMgr->GetInputReportLength(m_SelectedVid, m_SelectedPid, dwLength) != 0) {
    diag::TraceFormat("GetInputReportLength fail, VID = 0x%.4X, PID = 0x%.4X", m_SelectedVid,
                      m_SelectedPid);
    return;
  }
  m_bReportId = dwLength == 5 ? 0 : 1;
  m_pUi->ReportIdCheckBox->setChecked(m_bReportId == 1);
}

bool TMainForm::RefuseTransferWithDuplicates() {
  // The library reaches a board by its pair; with two boards of one pair the
  // transfer could land on either, so none starts.
  if (HasDuplicateDevices() == 0) return false;
  ShowMessageId(m_Language, MSG_DUPLICATE_DEVICES);
  return true;
}

int TMainForm::SelectActiveDevice() {
  uint32_t dwLength = 0;
  if (m_pUsbMgr->SetCheckDeviceId(0) != 0 ||
      m_pUsbMgr->SetActiveDevice(m_SelectedVid, m_SelectedPid) != 0 ||
      m_pUsbMgr->GetInputReportLength(m_SelectedVid, m_SelectedPid, dwLength) != 0) {
    ShowMessageId(m_Language, MSG_REPLUG_DEVICE);
  }
  return 0;
}

void TMainForm::OnVIDPIDComboBoxChange(int nIndex) {
  if (nIndex < 0 || nIndex >= m_DeviceId.Number) return;
  m_SelectedVid = m_DeviceId.VID[nIndex];
  m_SelectedPid = m_DeviceId.PID[nIndex];
  UpdateReportIdFlag();
}

void TMainForm::Timer1Timer() {
  m_pTimer1->stop();
  // A lock that was busy is looked at again; free, the list is made anew.
  if (m_bDeviceInUse) {
    RefreshDeviceList();
    return;
  }
  const EDeviceLock eLock = TryDeviceLock();
  if (eLock == EDeviceLock::kBusy) {
    EnterDeviceInUse();
    return;
  }
  if (m_pUsbMgr->Search_Present_Boards(m_PollDeviceId) != 0) {
    ReleaseDeviceLock(eLock);
    ShowMessageId(m_Language, MSG_SEARCH_PRESENT_DEVICE_FAIL);
    return;
  }
  if (m_PollDeviceId.Number != m_DeviceId.Number) {
    m_Platform.Sleep(500);  // let a device that is still arriving settle
    RefreshDeviceList();
  }
  ReleaseDeviceLock(eLock);
  if (m_PollDeviceId.Number > 0) m_pTimer1->start();
}

int TMainForm::OnDeviceChangeEx(uint16_t wVID, uint16_t wPID, USB42XX_MGR::WINDOW_HANDLE, uint32_t,
                                uintptr_t wParam, intptr_t) {
  diag::TraceFormat("====> OnDeviceChangeEx, VID = 0x%.4X, PDI = 0x%.4X, wParam = %.4X\n", wVID,
                    wPID, static_cast<unsigned>(wParam));
  if (wParam == kDbtDeviceArrival) {
    diag::Trace("DBT_DEVICEARRIVAL");
  } else if (wParam == kDbtDeviceRemoveComplete) {
    diag::Trace("DBT_DEVICEREMOVECOMPLETE");
  } else {
    diag::Trace("default");
  }
  if (wParam == kDbtDeviceRemoveComplete) {
    // What the window read from a board that left is no backup for the next
    // board on that path (or of that pair): a board swapped between a read
    // and a write would get the first one's contents saved as its backup.
    for (const std::string& szPath : m_pUsbMgr->TakeRemovedBoardPaths())
      m_KnownContents.erase(szPath);
    m_KnownContents.erase(USB42XX_MGR::PairText(wVID, wPID));
  }
  if (wParam == kDbtDeviceArrival || wParam == kDbtDeviceRemoveComplete) {
    ClearProgress();
    RefreshDeviceList();
  }
  return 0;
}

void TMainForm::ClearProgress() {
  for (QLineEdit* pEdit : {m_pUi->ReadEEPROMPercentEdit, m_pUi->WriteEEPROMPercentEdit}) {
    pEdit->clear();
    // The idle background: the system's scroll-bar grey.
    QPalette palette = pEdit->palette();
    palette.setColor(QPalette::Base, this->palette().color(QPalette::Window));
    pEdit->setPalette(palette);
  }
  m_pUi->ReadWriteProgressBar->setValue(0);
  m_pUi->WriteProgressBar->setValue(0);
  if (m_eStatus == EStatus::kWriteFailed) SetStatus(EStatus::kNone);  // it explained a FAIL
}

}  // namespace qrt::app
