// qrt4250-config: the QRT4250 EEPROM configuration window.
#include <QApplication>
#include <QCommandLineParser>
#include <QScreen>
#include <cstdio>

#include "AppFont.h"
#include "MainForm.h"
#include "UiServices.h"
#include "Version.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("qrt4250-config");
  QApplication::setApplicationVersion(qrt::app::kProgramVersion);

  QCommandLineParser parser;
  parser.setApplicationDescription("QRT4250 EEPROM configuration tool");
  parser.addHelpOption();
  parser.addVersionOption();
  parser.process(app);

  QApplication::setFont(qrt::app::MakeWindowFont());
  qrt::app::CQtUiServices uiServices;
  qrt::app::TMainForm mainForm(uiServices);
  mainForm.move(mainForm.screen()->availableGeometry().center() - mainForm.rect().center());
  mainForm.show();
  return app.exec();
}
