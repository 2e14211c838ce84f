#pragma once
// Everything the window asks the user through a modal box goes through this
// interface: message boxes, the open and save dialogs and the size dialog's
// modal show. The program uses CQtUiServices; tests script the answers.
#include <QString>

class QDialog;
class QWidget;

namespace qrt::app {

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

// Result of a file dialog.
struct FILE_DIALOG_RESULT {
  bool bAccepted = false;  // false: the user cancelled
  QString szPath;          // chosen path
  int nFilterIndex = 1;    // 1-based index of the chosen filter
};

class IUiServices {
 public:
  virtual ~IUiServices() = default;

  // A modal box without icon. Returns kIdOk, or kIdCancel when bOkCancel is
  // set and the user cancelled (closing the box counts as Cancel).
  virtual int MessageBox(QWidget* pParent, const QString& szTitle, const QString& szText,
                         bool bOkCancel) = 0;

  // Filters in the form "BIN file(*.bin)|*.bin|HEX file(*.hex)|*.hex".
  virtual FILE_DIALOG_RESULT OpenFileDialog(QWidget* pParent, const QString& szFilter,
                                            const QString& szInitialDir) = 0;
  virtual FILE_DIALOG_RESULT SaveFileDialog(QWidget* pParent, const QString& szFilter,
                                            const QString& szInitialDir,
                                            const QString& szFileName) = 0;

  // Shows a dialog modally and returns its result code.
  virtual int ShowModal(QDialog* pDialog) = 0;
};

// The real boxes: QMessageBox and QFileDialog.
class CQtUiServices : public IUiServices {
 public:
  int MessageBox(QWidget* pParent, const QString& szTitle, const QString& szText,
                 bool bOkCancel) override;
  FILE_DIALOG_RESULT OpenFileDialog(QWidget* pParent, const QString& szFilter,
                                    const QString& szInitialDir) override;
  FILE_DIALOG_RESULT SaveFileDialog(QWidget* pParent, const QString& szFilter,
                                    const QString& szInitialDir,
                                    const QString& szFileName) override;
  int ShowModal(QDialog* pDialog) override;
};

// Turns "Name(*.x)|*.x|Other(*.y)|*.y" into Qt's "Name(*.x);;Other(*.y)".
QString ToQtFilter(const QString& szFilter);

}  // namespace qrt::app
