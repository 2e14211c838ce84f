#pragma once
// Scripted answers for the window's modal boxes: every box shown is recorded,
// and the answers are taken from queues (OK when a queue is empty, a
// cancelled dialog when no path is queued).
#include <QApplication>
#include <QDialog>
#include <QFocusEvent>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

#include "UiServices.h"

namespace qrt::app::test {

struct SHOWN_BOX {
  QString szTitle;
  QString szText;
  bool bOkCancel = false;
  QString szOkText;     // what the box's OK button read (Qt's translation then)
  QWidget* pParent = nullptr;
  QPoint parentCentre;  // centre of the parent window on the screen then
};

struct SHOWN_FILE_DIALOG {
  bool bSave = false;
  QString szFilter;
  QString szInitialDir;
  QString szFileName;
};

class CFakeUiServices : public IUiServices {
 public:
  int MessageBox(QWidget* pParent, const QString& szTitle, const QString& szText,
                 bool bOkCancel) override {
    vBoxes.push_back({szTitle, szText, bOkCancel,
                      QCoreApplication::translate("QPlatformTheme", "OK"), pParent,
                      pParent ? pParent->window()->geometry().center() : QPoint()});
    // A real box takes the focus from the window while it is open.
    QWidget* pFocus = QApplication::focusWidget();
    if (!pFocus && pParent) pFocus = pParent->window()->focusWidget();
    if (bBoxesTakeFocus && pFocus) {
      QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
      QCoreApplication::sendEvent(pFocus, &out);
      QFocusEvent in(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
      QCoreApplication::sendEvent(pFocus, &in);
    }
    if (!bOkCancel) return kIdOk;
    if (qAnswers.empty()) return kIdOk;
    const int nAnswer = qAnswers.front();
    qAnswers.pop_front();
    return nAnswer;
  }
  FILE_DIALOG_RESULT OpenFileDialog(QWidget*, const QString& szFilter,
                                    const QString& szInitialDir) override {
    vFileDialogs.push_back({false, szFilter, szInitialDir, QString()});
    return NextFile();
  }
  FILE_DIALOG_RESULT SaveFileDialog(QWidget*, const QString& szFilter, const QString& szInitialDir,
                                    const QString& szFileName) override {
    vFileDialogs.push_back({true, szFilter, szInitialDir, szFileName});
    return NextFile();
  }
  int ShowModal(QDialog* pDialog) override {
    ++nModalShows;
    if (fnModal) return fnModal(pDialog);
    return QDialog::Accepted;
  }

  QStringList Texts() const {
    QStringList texts;
    for (const SHOWN_BOX& box : vBoxes) texts << box.szText;
    return texts;
  }

  std::vector<SHOWN_BOX> vBoxes;
  std::vector<SHOWN_FILE_DIALOG> vFileDialogs;
  std::deque<int> qAnswers;               // answers of OK/Cancel boxes
  std::deque<FILE_DIALOG_RESULT> qFiles;  // answers of file dialogs
  std::function<int(QDialog*)> fnModal;   // what the modal dialog does
  bool bBoxesTakeFocus = false;           // a box moves the focus out and back
  int nModalShows = 0;

 private:
  FILE_DIALOG_RESULT NextFile() {
    if (qFiles.empty()) return {};
    FILE_DIALOG_RESULT result = qFiles.front();
    qFiles.pop_front();
    return result;
  }
};

}  // namespace qrt::app::test
