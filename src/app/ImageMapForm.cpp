#include "ImageMapForm.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "ImageFiles.h"
#include "ImageMapView.h"
#include "MainForm.h"
#include "MessageTable.h"
#include "TerminalText.h"

namespace qrt::app {

using qrt::image::EMapArea;
using qrt::image::MAP_PART;

namespace {

QString TableText(int nLanguage, int nId) {
  const char* pszText = MessageText(nLanguage, nId);
  return pszText ? QString::fromUtf8(pszText) : QString();
}

// Text of an image (strings from a file or a board) as it may be shown.
QString Shown(const std::string& szText) {
  return QString::fromStdString(qrt::diag::EscapeControls(szText));
}

QString SizeText(size_t nSize) {
  const auto dwSize = static_cast<uint32_t>(nSize);
  return qrt::image::NormaliseRomSize(dwSize) == dwSize
             ? QString::fromLatin1(qrt::image::EepromTypeText(dwSize))
             : QStringLiteral("-");
}

}  // namespace

TImageMapForm::TImageMapForm(TMainForm& mainForm) : QDialog(&mainForm), m_Main(mainForm) {
  setObjectName("ImageMapForm");
  setModal(false);
  m_pTitleLabel = new QLabel(this);
  m_pView = new CImageMapView;
  m_pView->setObjectName("ImageMapView");
  auto* pMapScroll = new QScrollArea(this);
  pMapScroll->setWidget(m_pView);
  pMapScroll->setMinimumWidth(m_pView->sizeHint().width() +
                              pMapScroll->verticalScrollBar()->sizeHint().width() + 4);
  m_pLegendLabel = new QLabel;
  m_pLegendLabel->setTextFormat(Qt::RichText);
  m_pLegendLabel->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  m_pLegendLabel->setWordWrap(true);
  auto* pLegendScroll = new QScrollArea(this);
  pLegendScroll->setWidget(m_pLegendLabel);
  pLegendScroll->setWidgetResizable(true);
  pLegendScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  pLegendScroll->setMinimumWidth(280);
  m_pInfoLabel = new QLabel(this);
  m_pInfoLabel->setObjectName("ImageMapInfoLabel");
  m_pInfoLabel->setTextFormat(Qt::PlainText);
  m_pInfoLabel->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  m_pInfoLabel->setMinimumHeight(4 * fontMetrics().height());
  m_pCompareFileButton = new QPushButton(this);
  m_pCompareFileButton->setObjectName("CompareFileBitBtn");
  m_pCompareBoardButton = new QPushButton(this);
  m_pCompareBoardButton->setObjectName("CompareBoardBitBtn");
  m_pResultLabel = new QLabel(this);
  m_pResultLabel->setTextFormat(Qt::PlainText);
  m_pDiffList = new QListWidget(this);
  m_pDiffList->setObjectName("ImageMapDiffList");
  m_pDiffList->setFixedHeight(7 * fontMetrics().height());

  auto* pMapRow = new QHBoxLayout;
  pMapRow->addWidget(pMapScroll, 1);
  pMapRow->addWidget(pLegendScroll);
  auto* pButtons = new QHBoxLayout;
  pButtons->addWidget(m_pCompareFileButton);
  pButtons->addWidget(m_pCompareBoardButton);
  pButtons->addStretch(1);
  auto* pLayout = new QVBoxLayout(this);
  pLayout->addWidget(m_pTitleLabel);
  pLayout->addLayout(pMapRow, 1);
  pLayout->addWidget(m_pInfoLabel);
  pLayout->addLayout(pButtons);
  pLayout->addWidget(m_pResultLabel);
  pLayout->addWidget(m_pDiffList);
  resize(pMapScroll->minimumWidth() + 320, 680);

  m_pView->SetDescriber([this](size_t nOffset) {
    // Rich text only to keep the lines; the content is escaped.
    return "<p style='white-space:pre'>" + DescribeByte(nOffset).toHtmlEscaped() + "</p>";
  });
  connect(m_pView, &CImageMapView::Hovered, this, &TImageMapForm::OnHovered);
  connect(m_pCompareFileButton, &QPushButton::clicked, this, &TImageMapForm::CompareWithFile);
  connect(m_pCompareBoardButton, &QPushButton::clicked, this, &TImageMapForm::CompareWithBoard);
  connect(m_pDiffList, &QListWidget::currentRowChanged, this, &TImageMapForm::OnDiffRowChanged);
  ApplyTexts(m_Main.m_Language);
  Refresh();
}

TImageMapForm::~TImageMapForm() {
  qApp->removeEventFilter(this);
}

void TImageMapForm::ApplyTexts(int nLanguage) {
  m_Language = nLanguage;
  setWindowTitle(TableText(nLanguage, MSG_IMAGE_MAP));
  m_pCompareFileButton->setText(TableText(nLanguage, MSG_COMPARE_FILE));
  m_pCompareBoardButton->setText(TableText(nLanguage, MSG_COMPARE_BOARD));
  ShowTitle();
  ShowLegend();
  ShowDifferences();
}

void TImageMapForm::showEvent(QShowEvent* pEvent) {
  // Any input anywhere may change the image (an edit, a load, a read):
  // the map looks again once that input has been handled.
  qApp->installEventFilter(this);
  Refresh();
  QDialog::showEvent(pEvent);
}

void TImageMapForm::hideEvent(QHideEvent* pEvent) {
  qApp->removeEventFilter(this);
  QDialog::hideEvent(pEvent);
}

bool TImageMapForm::eventFilter(QObject* pWatched, QEvent* pEvent) {
  switch (pEvent->type()) {
    case QEvent::FocusIn: {
      // Reached with the keyboard; focus given back to a window keeps what
      // the map has selected.
      const Qt::FocusReason eReason = static_cast<QFocusEvent*>(pEvent)->reason();
      if (eReason != Qt::TabFocusReason && eReason != Qt::BacktabFocusReason) break;
      [[fallthrough]];
    }
    case QEvent::MouseButtonPress:
      if (SELECTION fnSelection = m_Main.SettingSelection(pWatched)) Select(std::move(fnSelection));
      break;
    case QEvent::MouseButtonRelease:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
      if (!m_bRefreshQueued) {
        m_bRefreshQueued = true;
        QTimer::singleShot(0, this, &TImageMapForm::Refresh);
      }
      break;
    default:
      break;
  }
  return false;
}

void TImageMapForm::Refresh() {
  m_bRefreshQueued = false;
  const bool bIdle = !m_Main.IsTransferRunning();
  m_pCompareFileButton->setEnabled(bIdle);
  m_pCompareBoardButton->setEnabled(bIdle);
  std::vector<uint8_t> vImage;
  qrt::image::CurrentImage(m_Main.Session(), vImage);
  if (m_Map.Size() > 0 && vImage == m_Map.Bytes()) return;
  m_Map.Build(vImage.data(), vImage.size());
  m_pView->SetMap(&m_Map);
  if (m_Other.Size() > 0)
    m_vDiff = qrt::image::CompareImages({m_Map.Session(), m_Map.Bytes()},
                                        {m_Other.Session(), m_Other.Bytes()});
  ShowTitle();
  ShowLegend();
  ShowDifferences();
  if (m_fnSelection) m_pView->SetSelected(m_fnSelection(m_Map));
}

void TImageMapForm::Select(SELECTION fnSelection) {
  m_fnSelection = std::move(fnSelection);
  std::vector<bool> vSelected = m_fnSelection(m_Map);
  const auto it = std::find(vSelected.begin(), vSelected.end(), true);
  if (it != vSelected.end()) {
    auto* pScroll = qobject_cast<QScrollArea*>(m_pView->parentWidget()->parentWidget());
    const QRect cell = m_pView->CellRect(static_cast<size_t>(it - vSelected.begin()));
    if (pScroll) pScroll->ensureVisible(cell.center().x(), cell.center().y());
  }
  m_pView->SetSelected(std::move(vSelected));
}

void TImageMapForm::CompareWithFile() {
  std::vector<uint8_t> vImage;
  QString szName;
  if (m_Main.ChooseImageForCompare(vImage, szName)) CompareWith(vImage, szName, false);
}

void TImageMapForm::CompareWithBoard() {
  std::vector<uint8_t> vImage;
  QString szBoard, szWhy;
  m_pCompareFileButton->setEnabled(false);
  m_pCompareBoardButton->setEnabled(false);
  if (m_Main.ReadBoardForCompare(vImage, szBoard, szWhy)) {
    CompareWith(vImage, szBoard, true);
  } else if (!szWhy.isEmpty()) {
    ShowFailure(szBoard, true, szWhy);
  }
  Refresh();
}

bool TImageMapForm::CompareWith(const std::vector<uint8_t>& vImage, const QString& szName,
                                bool bBoard) {
  Refresh();
  qrt::image::CImageMap other;
  const qrt::image::EApplyResult r = other.Build(vImage.data(), vImage.size());
  if (r != qrt::image::EApplyResult::kAccepted) {
    ShowFailure(szName, bBoard,
                r == qrt::image::EApplyResult::kNoSignature
                    ? TableText(m_Language, MSG_NOT_QRT_IMAGE)
                    : QString::fromLatin1(qrt::image::ApplyResultText(r)));
    return false;
  }
  m_Other = std::move(other);
  m_szOtherName = szName;
  m_bOtherIsBoard = bBoard;
  m_szFailure.clear();
  m_vDiff = qrt::image::CompareImages({m_Map.Session(), m_Map.Bytes()},
                                      {m_Other.Session(), m_Other.Bytes()});
  ShowDifferences();
  return true;
}

void TImageMapForm::ShowFailure(const QString& szName, bool bBoard, const QString& szWhy) {
  // A failed comparison ends the one before: its marks would no longer be
  // what the result line says.
  m_Other = qrt::image::CImageMap();
  m_vDiff.clear();
  m_szOtherName = szName;
  m_bOtherIsBoard = bBoard;
  m_szFailure = szWhy;
  ShowDifferences();
}

QString TImageMapForm::OtherName() const {
  return m_bOtherIsBoard ? TableText(m_Language, MSG_MAP_BOARD).arg(m_szOtherName) : m_szOtherName;
}

QString TImageMapForm::AreaText(const MAP_PART& part) const {
  switch (part.eArea) {
    case EMapArea::kField:
      return QString::fromStdString(qrt::image::MapPartName(part));
    case EMapArea::kI2CInit:
      return TableText(m_Language, MSG_MAP_I2C_BANK).arg(part.nBank + 1);
    case EMapArea::kEq:
      return TableText(m_Language, MSG_MAP_EQ_BANK).arg(part.nBank + 1);
    default:
      // The other areas' rows follow the areas' order from kHeader on.
      return TableText(m_Language, MSG_MAP_HEADER + static_cast<int>(part.eArea) -
                                       static_cast<int>(EMapArea::kHeader));
  }
}

QString TImageMapForm::PartText(const MAP_PART& part) const {
  QString szText = AreaText(part);
  const std::string szMask = qrt::image::MaskText(part.btMask);
  if (!szMask.empty()) szText += ", " + QString::fromStdString(szMask);
  const std::string szValue = qrt::image::MapPartValue(m_Map, part);
  if (!szValue.empty()) szText += ": " + Shown(szValue);
  return szText;
}

QString TImageMapForm::DescribeByte(size_t nOffset) const {
  if (nOffset >= m_Map.Size()) return {};
  QString szText =
      QString::asprintf("0x%04X = 0x%02X", static_cast<unsigned>(nOffset), m_Map.Bytes()[nOffset]);
  for (const MAP_PART& part : m_Map.Parts(nOffset)) szText += "\n" + PartText(part);
  return szText;
}

void TImageMapForm::ShowTitle() {
  m_pTitleLabel->setText(
      TableText(m_Language, MSG_MAP_TITLE).arg(m_Map.Size()).arg(SizeText(m_Map.Size())));
}

void TImageMapForm::ShowLegend() {
  // Swatch and name for each area and each setting the image has, the
  // areas first, the settings in the table's order.
  std::vector<MAP_PART> vEntries;
  std::set<const qrt::image::FIELD_DEF*> fields;
  std::set<EMapArea> areas;
  int nI2C = 0, nEq = 0;
  for (size_t i = 0; i < m_Map.Size(); ++i) {
    for (const MAP_PART& part : m_Map.Parts(i)) {
      areas.insert(part.eArea);
      if (part.pField) fields.insert(part.pField);
      if (part.eArea == EMapArea::kI2CInit) nI2C = std::max(nI2C, part.nBank + 1);
      if (part.eArea == EMapArea::kEq) nEq = std::max(nEq, part.nBank + 1);
    }
  }
  for (EMapArea eArea : qrt::image::MapAreas()) {
    if (eArea == EMapArea::kField || areas.count(eArea) == 0) continue;
    MAP_PART part;
    part.eArea = eArea;
    vEntries.push_back(part);
  }
  for (const qrt::image::FIELD_DEF& def : qrt::image::Fields()) {
    if (fields.count(&def) == 0) continue;
    MAP_PART part;
    part.eArea = EMapArea::kField;
    part.pField = &def;
    vEntries.push_back(part);
  }
  QString szHtml = "<table cellspacing='2'>";
  for (const MAP_PART& part : vEntries) {
    QString szName = AreaText(part);
    // One entry for all banks of a kind: "I2C init bank 1-3".
    const int nCount = part.eArea == EMapArea::kI2CInit ? nI2C
                       : part.eArea == EMapArea::kEq    ? nEq
                                                        : 0;
    if (nCount > 1) szName += "-" + QString::number(nCount);
    szHtml += QString("<tr><td bgcolor='%1' width='18'>&nbsp;</td><td>%2</td></tr>")
                  .arg(CImageMapView::PartColour(part).name(), szName.toHtmlEscaped());
  }
  m_pLegendLabel->setText(szHtml + "</table>");
}

void TImageMapForm::ShowDifferences() {
  // The row picked stays picked while the lines are the same (a language
  // switch, an edit elsewhere).
  QStringList lines;
  for (const qrt::image::DIFF_ENTRY& entry : m_vDiff) lines << Shown(entry.szLine);
  QStringList shown;
  for (int i = 0; i < m_pDiffList->count(); ++i) shown << m_pDiffList->item(i)->text();
  if (lines != shown) {
    m_pDiffList->clear();
    m_pDiffList->addItems(lines);
  }
  if (!m_szFailure.isEmpty()) {
    m_pResultLabel->setText(
        TableText(m_Language, MSG_MAP_COMPARE_FAILED).arg(OtherName(), m_szFailure));
  } else if (m_Other.Size() == 0) {
    m_pResultLabel->clear();
  } else {
    m_pResultLabel->setText(
        TableText(m_Language, m_vDiff.empty() ? MSG_MAP_SAME : MSG_MAP_DIFFERS).arg(OtherName()));
  }
  std::vector<bool> vMarked(m_Map.Size());
  for (const qrt::image::DIFF_ENTRY& entry : m_vDiff) {
    const std::vector<bool> vBytes = DiffEntryBytes(m_Map, entry);
    for (size_t i = 0; i < vMarked.size(); ++i) vMarked[i] = vMarked[i] || vBytes[i];
  }
  m_pView->SetMarked(std::move(vMarked));
}

void TImageMapForm::OnDiffRowChanged(int nRow) {
  if (nRow < 0 || static_cast<size_t>(nRow) >= m_vDiff.size()) return;
  const qrt::image::DIFF_ENTRY entry = m_vDiff[static_cast<size_t>(nRow)];
  Select([entry](const qrt::image::CImageMap& map) { return DiffEntryBytes(map, entry); });
}

void TImageMapForm::OnHovered(int nOffset) {
  m_pInfoLabel->setText(nOffset >= 0 ? DescribeByte(static_cast<size_t>(nOffset)) : QString());
}

}  // namespace qrt::app
