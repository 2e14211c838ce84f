#include "ImageMapView.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace qrt::app {

namespace {
constexpr int kColumns = 16;
}  // namespace

CImageMapView::CImageMapView(QWidget* pParent) : QWidget(pParent) {
  setMouseTracking(true);
  QFont font("Monospace");
  font.setStyleHint(QFont::TypeWriter);
  setFont(font);
  setBackgroundRole(QPalette::Base);
  setAutoFillBackground(true);
}

void CImageMapView::SetMap(const qrt::image::CImageMap* pMap) {
  m_pMap = pMap;
  m_vMarked.clear();
  m_vSelected.clear();
  m_nHovered = -1;
  updateGeometry();
  resize(sizeHint());
  update();
}

void CImageMapView::SetMarked(std::vector<bool> vMarked) {
  m_vMarked = std::move(vMarked);
  update();
}

void CImageMapView::SetSelected(std::vector<bool> vSelected) {
  m_vSelected = std::move(vSelected);
  update();
}

int CImageMapView::CellWidth() const {
  return fontMetrics().horizontalAdvance("00") + 10;
}
int CImageMapView::RowHeight() const {
  return fontMetrics().height() + 6;
}
int CImageMapView::OffsetWidth() const {
  return fontMetrics().horizontalAdvance("0x0000") + 12;
}

QRect CImageMapView::CellRect(size_t nOffset) const {
  const int nRow = static_cast<int>(nOffset / kColumns);
  const int nColumn = static_cast<int>(nOffset % kColumns);
  // The header row with the column numbers comes first.
  return QRect(OffsetWidth() + nColumn * CellWidth(), (nRow + 1) * RowHeight(), CellWidth(),
               RowHeight());
}

int CImageMapView::OffsetAt(const QPoint& point) const {
  if (m_pMap == nullptr || point.x() < OffsetWidth() || point.y() < RowHeight()) return -1;
  const int nColumn = (point.x() - OffsetWidth()) / CellWidth();
  const int nRow = point.y() / RowHeight() - 1;
  if (nColumn >= kColumns) return -1;
  const size_t nOffset = static_cast<size_t>(nRow) * kColumns + static_cast<size_t>(nColumn);
  return nOffset < m_pMap->Size() ? static_cast<int>(nOffset) : -1;
}

QColor CImageMapView::PartColour(const qrt::image::MAP_PART& part) {
  return QColor::fromRgb(qrt::image::MapColour(part));
}

QSize CImageMapView::sizeHint() const {
  const size_t nSize = m_pMap ? m_pMap->Size() : 0;
  const int nRows = static_cast<int>((nSize + kColumns - 1) / kColumns);
  return QSize(OffsetWidth() + kColumns * CellWidth() + 2, (nRows + 1) * RowHeight() + 2);
}

void CImageMapView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QColor text = palette().color(QPalette::Text);
  painter.setPen(text);
  for (int c = 0; c < kColumns; ++c) {
    painter.drawText(QRect(OffsetWidth() + c * CellWidth(), 0, CellWidth(), RowHeight()),
                     Qt::AlignCenter, QString::asprintf("%X", c));
  }
  if (m_pMap == nullptr) return;
  const auto flag = [](const std::vector<bool>& v, size_t i) { return i < v.size() && v[i]; };
  for (size_t i = 0; i < m_pMap->Size(); ++i) {
    const QRect cell = CellRect(i);
    if (i % kColumns == 0) {
      painter.setPen(text);
      painter.drawText(QRect(0, cell.top(), OffsetWidth() - 6, RowHeight()),
                       Qt::AlignRight | Qt::AlignVCenter,
                       QString::asprintf("0x%04X", static_cast<unsigned>(i)));
    }
    // Each bit a slice of the cell, bit 7 on the left: a byte several
    // settings share shows each one's share.
    const QRect inner = cell.adjusted(1, 1, -1, -1);
    for (const qrt::image::MAP_PART& part : m_pMap->Parts(i)) {
      for (int nBit = 7; nBit >= 0; --nBit) {
        if ((part.btMask >> nBit & 1) == 0) continue;
        const int nLeft = inner.left() + (7 - nBit) * inner.width() / 8;
        const int nRight = inner.left() + (8 - nBit) * inner.width() / 8;
        painter.fillRect(QRect(nLeft, inner.top(), nRight - nLeft, inner.height()),
                         PartColour(part));
      }
    }
    painter.setPen(Qt::black);
    painter.drawText(cell, Qt::AlignCenter, QString::asprintf("%02X", m_pMap->Bytes()[i]));
    if (flag(m_vMarked, i)) {
      painter.setPen(QPen(QColor(220, 0, 0), 2));
      painter.drawRect(cell.adjusted(1, 1, -1, -1));
    }
    if (flag(m_vSelected, i)) {
      painter.setPen(QPen(QColor(0, 0, 160), 3));
      painter.drawRect(cell.adjusted(2, 2, -2, -2));
    }
  }
}

void CImageMapView::mouseMoveEvent(QMouseEvent* pEvent) {
  const int nOffset = OffsetAt(pEvent->position().toPoint());
  if (nOffset != m_nHovered) {
    m_nHovered = nOffset;
    emit Hovered(nOffset);
  }
  QWidget::mouseMoveEvent(pEvent);
}

bool CImageMapView::event(QEvent* pEvent) {
  if (pEvent->type() == QEvent::ToolTip) {
    auto* pHelp = static_cast<QHelpEvent*>(pEvent);
    const int nOffset = OffsetAt(pHelp->pos());
    if (nOffset >= 0 && m_fnDescribe) {
      QToolTip::showText(pHelp->globalPos(), m_fnDescribe(static_cast<size_t>(nOffset)), this,
                         CellRect(static_cast<size_t>(nOffset)));
    } else {
      QToolTip::hideText();
    }
    return true;
  }
  return QWidget::event(pEvent);
}

}  // namespace qrt::app
