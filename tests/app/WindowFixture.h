#pragma once
// A main window on the simulated platform (virtual clock) with scripted
// modal boxes, for the window tests.
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// The window's boxes are IUiServices::MessageBox, whichever of the two
// headers a test includes first (windows.h would rename one of them).
#undef MessageBox
#endif

#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "DevicePlatform.h"
#include "FakeUiServices.h"
#include "MainForm.h"
#include "NamedMutex.h"
#include "ReadEEPROMForm.h"
#include "SimPlatform.h"
#include "TestEnvironment.h"
#include "ui_UMainForm.h"
#include "ui_UReadEEPROMForm.h"

namespace qrt::app::test {

// The user picks an item in the size dialog and confirms.
inline std::function<int(QDialog*)> PickSize(int nItem) {
  return [nItem](QDialog* pDialog) {
    auto* pForm = static_cast<TReadEEPROMForm*>(pDialog);
    pForm->Formshow();
    if (nItem >= 0) {
      pForm->Form()->ComboBox1->setCurrentIndex(nItem);
      pForm->OnReadEEPROMChange();
    }
    pForm->Button1Click();
    return int(QDialog::Accepted);
  };
}

// The size dialog's item of an EEPROM size.
inline int SizeItem(uint32_t dwSize) {
  switch (dwSize) {
    case 512:
      return 1;
    case 1024:
      return 2;
    case 2048:
      return 3;
    default:
      return 0;
  }
}

struct CWindowFixture {
  // nDevices simulated devices (VID 3A7C, PID 4250, 24C02 seeded with
  // nothing: the tests put what they need into the EEPROM).
  explicit CWindowFixture(int nDevices = 1, bool bPlugged = true) {
    // The raw backups of reads and writes go here, not to the user's folder.
    qputenv(qrt::test::kUserStateVariable, StateDir.path().toUtf8());
    for (int i = 0; i < nDevices; ++i) {
      qrt::sim::SIM_DEVICE_CONFIG config;
      config.bPlugged = bPlugged;
      Sim.AddDevice(config);
    }
    MakeForm();
  }
  // The window, (re)built and shown; the tests may prepare its start.
  // bDefaultLockFolder: the system's lock folder instead of LockDir.
  void MakeForm(bool bDefaultLockFolder = false) {
    pForm.reset();
    pForm = std::make_unique<TMainForm>(
        Ui, Sim, Store, bDefaultLockFolder ? std::string() : LockDir.path().toStdString());
    pForm->show();
  }
  // Plugs in one more board with a dwEepromSize-byte EEPROM through the
  // hot-plug path; returns its index.
  size_t PlugBoard(uint32_t dwEepromSize) {
    qrt::sim::SIM_DEVICE_CONFIG config;
    config.Chip.dwEepromSize = dwEepromSize;
    config.bPlugged = false;
    const size_t nIndex = Sim.AddDevice(config);
    Sim.Plug(nIndex);
    DeliverDeviceEvents();
    return nIndex;
  }
  // The file of a named mutex in the window's lock folder.
  std::string LockPath(const char* pszMutexName) const {
    return LockDir.filePath(QString::fromStdString(
                                USB42XX_MGR::CNamedMutex::LockFileName(pszMutexName)))
        .toStdString();
  }
  ~CWindowFixture() {
    Ui.qAnswers.push_back(kIdOk);  // the exit question, if any
  }

  Ui::TMainForm* F() const { return pForm->Form(); }

  // The next file dialog chooses szPath.
  void ChooseFile(const QString& szPath) {
    FILE_DIALOG_RESULT chosen;
    chosen.bAccepted = true;
    chosen.szPath = szPath;
    Ui.qFiles.push_back(chosen);
  }

  // A user choice in a list: selection plus activated().
  static void Choose(QComboBox* pBox, int nItem) {
    pBox->setCurrentIndex(nItem);
    emit pBox->activated(nItem);
  }

  // Hands the simulator's plug and unplug events to the window. On Linux
  // processEvents polls the event descriptor itself. On Windows Qt waits
  // for the event handle on a pool thread and posts its activation, so the
  // events are handled until the window has taken the (manual-reset) event.
  void DeliverDeviceEvents() {
    QCoreApplication::processEvents();
#ifdef _WIN32
    const QDeadlineTimer deadline(10000);
    while (::WaitForSingleObject(Sim.GetEventHandle(), 0) == WAIT_OBJECT_0 && !deadline.hasExpired())
      QCoreApplication::processEvents();
#endif
  }

  // Every control's visible state, to prove that nothing changed; with
  // bWindowOnly only the main window's own (not its dialogs').
  QStringList Snapshot(bool bWindowOnly = false) const {
    QStringList state;
    for (QWidget* pWidget : pForm->findChildren<QWidget*>()) {
      if (bWindowOnly && pWidget->window() != pForm.get()) continue;
      const QString szName = pWidget->objectName();
      if (auto* pEdit = qobject_cast<QLineEdit*>(pWidget)) {
        state << szName + "=" + pEdit->text() + (pEdit->isEnabled() ? "" : " (disabled)");
      } else if (auto* pCheck = qobject_cast<QCheckBox*>(pWidget)) {
        state << szName + (pCheck->isChecked() ? "=on" : "=off") +
                     (pCheck->isEnabled() ? "" : " (disabled)");
      } else if (auto* pCombo = qobject_cast<QComboBox*>(pWidget)) {
        state << szName + "=" + QString::number(pCombo->currentIndex()) + "/" +
                     QString::number(pCombo->count());
      }
    }
    return state;
  }

  CFakeUiServices Ui;
  // The facade locks in the fixture's folder, as on the machine's boards: the tests hold
  // it as another program would.
  qrt::sim::CSimPlatform Sim{false, true};
  qrt::transfer::CEmptyDeviceIdStore Store;
  QTemporaryDir LockDir;
  QTemporaryDir StateDir;
  std::unique_ptr<TMainForm> pForm;
};

}  // namespace qrt::app::test
