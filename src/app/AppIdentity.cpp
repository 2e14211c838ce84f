#include "AppIdentity.h"

#include <QApplication>
#include <QDir>

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

}  // namespace qrt::app
