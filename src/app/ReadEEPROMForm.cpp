#include "ReadEEPROMForm.h"

#include <QCloseEvent>
#include <QLineEdit>

#include "ImageFiles.h"
#include "MessageTable.h"
#include "Trace.h"
#include "ui_UReadEEPROMForm.h"

namespace qrt::app {

TReadEEPROMForm::TReadEEPROMForm(QWidget* pParent)
    : QDialog(pParent), m_pUi(new Ui::TReadEEPROMForm) {
  m_pUi->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(397, 137);
  connect(m_pUi->Button1, &QPushButton::clicked, this, &TReadEEPROMForm::Button1Click);
  // A choice from the list, or text typed into its field.
  connect(m_pUi->ComboBox1, &QComboBox::activated, this, &TReadEEPROMForm::OnReadEEPROMChange);
  connect(m_pUi->ComboBox1->lineEdit(), &QLineEdit::textEdited, this,
          &TReadEEPROMForm::OnReadEEPROMChange);
}

TReadEEPROMForm::~TReadEEPROMForm() {
  diag::Trace("[FormDestroy]");
  delete m_pUi;
}

int TReadEEPROMForm::SetLanguage(int nLanguage) {
  m_Language = nLanguage;
  return 0;
}

int TReadEEPROMForm::SetRomSize(uint32_t dwRomSize) {
  m_dwRomSize = dwRomSize;
  return 0;
}

int TReadEEPROMForm::GetItemIndex(int& nItemIndex) const {
  nItemIndex = m_ItemIndex;
  return 0;
}

int TReadEEPROMForm::GetRomSize(uint32_t& dwRomSize) const {
  dwRomSize = m_dwRomSize;
  return 0;
}

void TReadEEPROMForm::showEvent(QShowEvent* pEvent) {
  Formshow();
  QDialog::showEvent(pEvent);
}

void TReadEEPROMForm::Formshow() {
  const int nLanguage = m_Language == kLanguageChinese ? kLanguageChinese : kLanguageEnglish;
  m_pUi->Label1->setText(QString::fromUtf8(MessageText(nLanguage, 12)));
  m_pUi->Label2->setText(QString::fromUtf8(MessageText(nLanguage, 11)));
  m_pUi->Button1->setText(QString::fromUtf8(MessageText(nLanguage, 68)));
  int nItem = 0;
  for (int i = 0; i < qrt::image::kEepromTypeCount; ++i) {
    if (m_dwRomSize == qrt::image::kEepromTypes[i].dwSize) nItem = i;
  }
  m_pUi->ComboBox1->setCurrentIndex(nItem);
  m_pUi->ComboBox1->setEditText(m_pUi->ComboBox1->itemText(nItem));
  m_ItemIndex = nItem;
}

void TReadEEPROMForm::OnReadEEPROMChange() {
  // Typed text that is not one of the items gives -1.
  const int nFound = m_pUi->ComboBox1->findText(m_pUi->ComboBox1->currentText(),
                                                Qt::MatchFixedString | Qt::MatchCaseSensitive);
  m_ItemIndex = nFound;
  m_dwRomSize = (nFound >= 1 && nFound < qrt::image::kEepromTypeCount)
                    ? qrt::image::kEepromTypes[nFound].dwSize
                    : qrt::image::kEepromTypes[0].dwSize;
}

void TReadEEPROMForm::Button1Click() {
  accept();
}

void TReadEEPROMForm::closeEvent(QCloseEvent* pEvent) {
  diag::Trace("[FormClose]");
  QDialog::closeEvent(pEvent);
}

}  // namespace qrt::app
