#include "AppIdentity.h"

#include <QApplication>
#include <QDir>
#include <QString>
#include <QStringList>

#include "Version.h"

namespace qrt::app {

QIcon MakeApplicationIcon() {
  QIcon icon;
  const QDir dir(":/icons");
  for (const QString& szName : dir.entryList({"*.png"}, QDir::Files))
    icon.addFile(dir.filePath(szName));
  return icon;
}

void ApplyApplicationIdentity() {
  QApplication::setApplicationName("qrt4250-config");
  QApplication::setApplicationVersion(kProgramVersion);
  QGuiApplication::setDesktopFileName(kDesktopFileName);
  QApplication::setWindowIcon(MakeApplicationIcon());
}

std::string MissingDisplayText(const char* pszPlatform, const char* pszDisplay,
                               const char* pszWaylandDisplay) {
  const auto set = [](const char* psz) { return psz != nullptr && *psz != '\0'; };
  if (set(pszDisplay) || set(pszWaylandDisplay)) return {};
  // "name:options", several separated by ';', tried in turn.
  const QStringList names = QString::fromLocal8Bit(set(pszPlatform) ? pszPlatform : "xcb")
                                .split(';', Qt::SkipEmptyParts);
  for (const QString& szEntry : names) {
    const QString szName = szEntry.section(':', 0, 0).trimmed();
    if (szName != "xcb" && !szName.startsWith("wayland")) return {};
  }
  return "no display (DISPLAY / WAYLAND_DISPLAY not set)";
}

}  // namespace qrt::app
