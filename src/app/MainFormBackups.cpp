// TMainForm, the Backup and templates menu: a backup written back to the
// board as it is, and the command line's settings templates.
#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>

#include "Backup.h"
#include "FileReplace.h"
#include "ImageFiles.h"
#include "MainForm.h"
#include "MessageTable.h"
#include "SettingsTemplate.h"
#include "ui_UMainForm.h"

namespace qrt::app {

namespace {

const char kTemplateFilter[] = "JSON file(*.json)|*.json";

QString Row(int nLanguage, int nId, const std::string& szValue) {
  return QString::fromUtf8(MessageText(nLanguage, nId)).arg(QString::fromStdString(szValue));
}

}  // namespace

void TMainForm::CreateBackupMenu() {
  auto* pMenu = new QMenu(this);
  pMenu->setObjectName("BackupTemplateMenu");
  const auto add = [this, pMenu](const char* pszName, void (TMainForm::*pfnSlot)()) {
    QAction* pAction = pMenu->addAction(QString());
    pAction->setObjectName(pszName);
    connect(pAction, &QAction::triggered, this, pfnSlot);
    return pAction;
  };
  QAction* pRestore = add("RestoreBackupAction", &TMainForm::OnRestoreBackupClick);
  add("ExportTemplateAction", &TMainForm::OnExportTemplateClick);
  QAction* pApply = add("ApplyTemplateAction", &TMainForm::OnApplyTemplateClick);
  pMenu->addSeparator();
  add("OperatorStationAction", &TMainForm::OnOperatorStationClick);
  // A restore when Read could read (a board listed and free, no transfer):
  // it needs no image in the window, a blank or broken board is what it is
  // for. A template when the settings can be edited (not before the first
  // load or read, not during a transfer).
  connect(pMenu, &QMenu::aboutToShow, this, [this, pRestore, pApply] {
    pRestore->setEnabled(m_pUi->ReadEEPROMBitBtn->isEnabled());
    pApply->setEnabled(m_pUi->VIDEdit->isEnabled());
  });
  m_pUi->BackupTemplateBitBtn->setMenu(pMenu);
}

void TMainForm::OnOperatorStationClick() {
  // The station is a program of its own (the same boards, the same
  // simulator options): it owns the board search and the hot-plug events
  // while it runs, which this window's device list needs too.
  QStringList vArguments = QCoreApplication::arguments().mid(1);
  vArguments << "--station";
  QProcess::startDetached(QCoreApplication::applicationFilePath(), vArguments);
}

void TMainForm::OnRestoreBackupClick() {
  if (m_bTransferRunning || RefuseTransferWithDuplicates()) return;
  if (m_DeviceId.Number == 0) {
    ShowMessageId(m_Language, MSG_CONNECT_DEVICE);
    return;
  }
  const FILE_DIALOG_RESULT chosen = m_UiServices.OpenFileDialog(
      this, kImageOpenFilter, QString::fromStdString(qrt::production::DefaultBackupFolder()));
  if (!chosen.bAccepted) return;
  // A backup is the EEPROM's bytes as they were: written as they are, no
  // signature or bank checks (a blank or broken EEPROM is backed up too).
  std::vector<uint8_t> vImage;
  const std::string szWhy = qrt::image::ReadRawImageFile(chosen.szPath.toStdString(), vImage);
  if (!szWhy.empty()) {
    m_UiServices.MessageBox(this, m_szMsgCaption, Row(m_Language, MSG_RESTORE_REFUSED, szWhy),
                            false);
    return;
  }
  // The board changes, the window's image does not: the settings are
  // locked by their group boxes (each control keeps its own state), and
  // what could be saved or reset before can be afterwards, no more.
  QWidget* const pGroups[] = {m_pUi->GenericGroupBox, m_pUi->EquipmentTypeGroupBox,
                              m_pUi->AGCIRGroupBox, m_pUi->VolumeConfigGroupBox};
  const bool bSave = m_pUi->WriteFileBitBtn->isEnabled();
  const bool bReset = m_pUi->ResetBitBtn->isEnabled();
  for (QWidget* pGroup : pGroups) pGroup->setEnabled(false);
  SetTransferButtons(false);
  ClearProgress();
  // A restore puts back contents that are wanted: after a failed verify the
  // board keeps what the write left (the status line says so), as the
  // command line's restore does; rolling back would undo the restore.
  RunWrite(vImage.data(), vImage.size(), false);
  for (QWidget* pGroup : pGroups) pGroup->setEnabled(true);
  m_pUi->WriteFileBitBtn->setEnabled(bSave);
  m_pUi->ResetBitBtn->setEnabled(bReset);
}

void TMainForm::OnExportTemplateClick() {
  const QString szName = QString::fromStdString(
      qrt::image::MakeDefaultFileName(m_RecInternalOpt.wVID, m_RecInternalOpt.wPID,
                                      m_Session.GetRomSize()) +
      ".json");
  const FILE_DIALOG_RESULT chosen = m_UiServices.SaveFileDialog(
      this, kTemplateFilter, QDir::currentPath().left(511), szName);
  if (!chosen.bAccepted) return;
  std::string szPath = chosen.szPath.toStdString();
  if (!chosen.szPath.endsWith(".json", Qt::CaseInsensitive)) szPath += ".json";
  const std::string szText = qrt::image::ExportTemplate(m_Session) + '\n';
  const auto confirm = [this](const std::string&) {
    return AskMessageId(m_Language, MSG_OVERWRITE_FILE) == kIdOk;
  };
  std::string szError;
  if (qrt::image::ReplaceFileContents(szPath, reinterpret_cast<const uint8_t*>(szText.data()),
                                      szText.size(), confirm, &szError) == 1) {
    m_UiServices.MessageBox(
        this, m_szMsgCaption,
        Row(m_Language, MSG_TEMPLATE_NOT_SAVED, qrt::image::QuoteText(szPath) + ": " + szError),
        false);
  }
}

void TMainForm::OnApplyTemplateClick() {
  if (m_bTransferRunning) return;
  const FILE_DIALOG_RESULT chosen =
      m_UiServices.OpenFileDialog(this, kTemplateFilter, QDir::currentPath().left(1023));
  if (!chosen.bAccepted) return;
  const std::string szPath = chosen.szPath.toStdString();
  // The rules and reasons of set --template: the whole template or nothing.
  std::string szText;
  std::string szWhy = qrt::image::ReadTemplateFile(szPath, szText);
  if (szWhy.empty()) szWhy = qrt::image::ApplyTemplate(m_Session, szText);
  if (!szWhy.empty()) {
    m_UiServices.MessageBox(
        this, m_szMsgCaption,
        Row(m_Language, MSG_TEMPLATE_REFUSED, qrt::image::QuoteText(szPath) + ": " + szWhy),
        false);
    return;
  }
  // The controls show the new settings without their handlers editing the
  // session again; the strings count as accepted, as after a load.
  m_bFilling = 1;
  ShowSessionInControls();
  m_szProductString = m_pUi->ProductStringEdit->text();
  m_szManufacturerString = m_pUi->ManufactureStringEdit->text();
  m_bFilling = 0;
  m_pUi->ChangeStringBitBtn->setEnabled(false);
  if (!m_bDeviceInUse && m_DeviceId.Number > 0) m_pUi->WriteEEPROMBitBtn->setEnabled(true);
  m_pUi->WriteFileBitBtn->setEnabled(true);
}

}  // namespace qrt::app
