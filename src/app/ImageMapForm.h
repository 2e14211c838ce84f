#pragma once
// TImageMapForm: the image map beside the main window. It shows the current
// image (as Save file would write it now) as a grid coloured by setting,
// bank and area with a legend; hovering a byte names its owners and values;
// a click on a setting of the main window selects that setting's bytes. It
// compares the current image with a file or with a fresh read of the board
// (which leaves the working image alone): the differences as diff lists
// them, their bytes framed red. It follows the main window's language.
#include <QDialog>
#include <QString>
#include <functional>
#include <vector>

#include "ImageCompare.h"
#include "ImageMap.h"
#include "MainForm.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace qrt::app {

class CImageMapView;

class TImageMapForm : public QDialog {
  Q_OBJECT

 public:
  explicit TImageMapForm(TMainForm& mainForm);
  ~TImageMapForm() override;

  void ApplyTexts(int nLanguage);
  // Takes the main window's current image again; a comparison is judged
  // anew against the same other image, the selection follows its setting.
  void Refresh();
  // Selects the bytes a source picks from the map (kept across refreshes).
  using SELECTION = MAP_SELECTION;
  void Select(SELECTION fnSelection);

  void CompareWithFile();
  void CompareWithBoard();
  // Compares with an image from elsewhere: a file named szName ("x.bin"), or
  // with bBoard the board of that label. False (the reason shown) when its
  // bytes are refused.
  bool CompareWith(const std::vector<uint8_t>& vImage, const QString& szName, bool bBoard);

  // The byte's tool tip: offset and value, then each owner with its bits and
  // value, in the window's language.
  QString DescribeByte(size_t nOffset) const;

  const qrt::image::CImageMap& Map() const { return m_Map; }
  const std::vector<qrt::image::DIFF_ENTRY>& Differences() const { return m_vDiff; }
  CImageMapView* View() const { return m_pView; }
  QListWidget* DiffList() const { return m_pDiffList; }
  QLabel* InfoLabel() const { return m_pInfoLabel; }
  QLabel* ResultLabel() const { return m_pResultLabel; }
  QLabel* LegendLabel() const { return m_pLegendLabel; }
  QPushButton* CompareFileButton() const { return m_pCompareFileButton; }
  QPushButton* CompareBoardButton() const { return m_pCompareBoardButton; }

 protected:
  bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
  void showEvent(QShowEvent* pEvent) override;
  void hideEvent(QHideEvent* pEvent) override;

 private:
  QString AreaText(const qrt::image::MAP_PART& part) const;
  QString PartText(const qrt::image::MAP_PART& part) const;
  void ShowTitle();
  void ShowLegend();
  void ShowDifferences();
  void ShowFailure(const QString& szName, bool bBoard, const QString& szWhy);
  // What the result line calls the other image, in the current language.
  QString OtherName() const;
  void OnDiffRowChanged(int nRow);
  void OnHovered(int nOffset);

  TMainForm& m_Main;
  int m_Language = 0;
  qrt::image::CImageMap m_Map;
  // The image compared with (empty map: none) and what it is called.
  qrt::image::CImageMap m_Other;
  QString m_szOtherName;
  bool m_bOtherIsBoard = false;
  QString m_szFailure;  // the last comparison's failure, shown until the next
  std::vector<qrt::image::DIFF_ENTRY> m_vDiff;
  SELECTION m_fnSelection;
  bool m_bRefreshQueued = false;

  QLabel* m_pTitleLabel;
  CImageMapView* m_pView;
  QLabel* m_pLegendLabel;
  QLabel* m_pInfoLabel;
  QPushButton* m_pCompareFileButton;
  QPushButton* m_pCompareBoardButton;
  QLabel* m_pResultLabel;
  QListWidget* m_pDiffList;
};

}  // namespace qrt::app
