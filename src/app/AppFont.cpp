#include "AppFont.h"

#include <QFontDatabase>
#include <QStringList>

namespace qrt::app {

QFont MakeWindowFont() {
  QFont font = QFontDatabase::families().contains("Consolas")
                   ? QFont("Consolas")
                   : QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setStyleHint(QFont::Monospace);
  font.setPixelSize(12);
  return font;
}

}  // namespace qrt::app
