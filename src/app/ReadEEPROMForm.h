#pragma once
// TReadEEPROMForm: the small modal dialog that asks, before every EEPROM
// read, which EEPROM type is fitted. The window hands it the language and
// the size and takes back the chosen item index and size.
#include <QDialog>
#include <cstdint>

namespace Ui {
class TReadEEPROMForm;
}

namespace qrt::app {

class TReadEEPROMForm : public QDialog {
  Q_OBJECT

 public:
  explicit TReadEEPROMForm(QWidget* pParent = nullptr);
  ~TReadEEPROMForm() override;

  Ui::TReadEEPROMForm* Form() const { return m_pUi; }

  int SetLanguage(int nLanguage);
  int SetRomSize(uint32_t dwRomSize);
  int GetItemIndex(int& nItemIndex) const;
  int GetRomSize(uint32_t& dwRomSize) const;

  // Texts and preselection; run when the dialog is shown.
  void Formshow();
  // The user changed the list or typed into its text field.
  void OnReadEEPROMChange();
  void Button1Click();

 protected:
  void showEvent(QShowEvent* pEvent) override;
  void closeEvent(QCloseEvent* pEvent) override;

 private:
  Ui::TReadEEPROMForm* m_pUi;
  uint32_t m_dwRomSize = 0;
  int m_ItemIndex = 0;
  int m_Language = 0;
};

}  // namespace qrt::app
