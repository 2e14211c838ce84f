#pragma once
// The image map as a grid: 16 bytes a row, each byte's cell painted bit by
// bit (bit 7 on the left) in the colours of the owners of its bits, bytes of
// a comparison framed red, selected bytes framed dark blue. Hovering a byte
// shows its description as a tool tip and reports the byte.
#include <QWidget>
#include <functional>
#include <vector>

#include "ImageMap.h"

namespace qrt::app {

class CImageMapView : public QWidget {
  Q_OBJECT

 public:
  explicit CImageMapView(QWidget* pParent = nullptr);

  // The map to show; not owned, it must outlive the view or be replaced.
  // Marks and the selection are cleared.
  void SetMap(const qrt::image::CImageMap* pMap);
  // Bytes framed red (a comparison's differences) and framed blue (the
  // selection); shorter vectors mark nothing beyond their end.
  void SetMarked(std::vector<bool> vMarked);
  void SetSelected(std::vector<bool> vSelected);
  const std::vector<bool>& Marked() const { return m_vMarked; }
  const std::vector<bool>& Selected() const { return m_vSelected; }
  // The text of the tool tip of a byte.
  void SetDescriber(std::function<QString(size_t)> fnDescribe) {
    m_fnDescribe = std::move(fnDescribe);
  }

  // Where byte nOffset is drawn; the byte under a point, -1 for none.
  QRect CellRect(size_t nOffset) const;
  int OffsetAt(const QPoint& point) const;
  // The colour a bit of a byte is painted in.
  static QColor PartColour(const qrt::image::MAP_PART& part);

  QSize sizeHint() const override;

 signals:
  void Hovered(int nOffset);

 protected:
  void paintEvent(QPaintEvent* pEvent) override;
  void mouseMoveEvent(QMouseEvent* pEvent) override;
  bool event(QEvent* pEvent) override;

 private:
  int CellWidth() const;
  int RowHeight() const;
  int OffsetWidth() const;

  const qrt::image::CImageMap* m_pMap = nullptr;
  std::vector<bool> m_vMarked;
  std::vector<bool> m_vSelected;
  std::function<QString(size_t)> m_fnDescribe;
  int m_nHovered = -1;
};

}  // namespace qrt::app
