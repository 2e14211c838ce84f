#include "UiServices.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace qrt::app {

QString ToQtFilter(const QString& szFilter) {
  const QStringList parts = szFilter.split('|');
  QStringList names;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) names << parts[i];
  return names.join(";;");
}

int CQtUiServices::MessageBox(QWidget* pParent, const QString& szTitle, const QString& szText,
                              bool bOkCancel) {
  QMessageBox box(QMessageBox::NoIcon, szTitle, szText,
                  bOkCancel ? (QMessageBox::Ok | QMessageBox::Cancel) : QMessageBox::Ok, pParent);
  box.setWindowModality(Qt::ApplicationModal);
  return box.exec() == QMessageBox::Ok ? kIdOk : kIdCancel;
}

namespace {

FILE_DIALOG_RESULT RunFileDialog(QFileDialog& dialog, const QString& szFilter) {
  const QStringList names = ToQtFilter(szFilter).split(";;");
  dialog.setNameFilters(names);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);  // the window asks itself
  FILE_DIALOG_RESULT result;
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return result;
  result.bAccepted = true;
  result.szPath = dialog.selectedFiles().first();
  result.nFilterIndex = static_cast<int>(names.indexOf(dialog.selectedNameFilter())) + 1;
  if (result.nFilterIndex < 1) result.nFilterIndex = 1;
  return result;
}

}  // namespace

FILE_DIALOG_RESULT CQtUiServices::OpenFileDialog(QWidget* pParent, const QString& szFilter,
                                                 const QString& szInitialDir) {
  QFileDialog dialog(pParent, QString(), szInitialDir);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  return RunFileDialog(dialog, szFilter);
}

FILE_DIALOG_RESULT CQtUiServices::SaveFileDialog(QWidget* pParent, const QString& szFilter,
                                                 const QString& szInitialDir,
                                                 const QString& szFileName) {
  QFileDialog dialog(pParent, QString(), szInitialDir);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.selectFile(szFileName);
  return RunFileDialog(dialog, szFilter);
}

int CQtUiServices::ShowModal(QDialog* pDialog) {
  return pDialog->exec();
}

}  // namespace qrt::app
