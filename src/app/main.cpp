// qrt4250-config: the QRT4250 EEPROM configuration window.
//   qrt4250-config                      the devices on this machine
//   qrt4250-config --simulate [--sim-image FILE] [--sim-eeprom TYPE] [--sim-fault SPEC]
//                                       one simulated QRT4250 (VID 3A7C, PID 4250)
#include <QApplication>
#include <QCommandLineParser>
#include <QScreen>
#include <cstdio>
#include <memory>

#include "AppFont.h"
#include "DemoPlatform.h"
#include "MainForm.h"
#include "UiServices.h"
#include "Version.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("qrt4250-config");
  QApplication::setApplicationVersion(qrt::app::kProgramVersion);

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "QRT4250 EEPROM configuration tool: read, edit, write and verify the configuration "
      "EEPROM of QRT4250 USB audio devices; load and save .bin / .hex images.");
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption simulate(
      "simulate",
      "Run on one simulated QRT4250 (VID 3A7C, PID 4250) instead of the devices "
      "on this machine.");
  const QCommandLineOption simImage("sim-image",
                                    "With --simulate: EEPROM contents from a .bin file "
                                    "(default: the built-in default image).",
                                    "FILE");
  const QCommandLineOption simEeprom(
      "sim-eeprom", "With --simulate: EEPROM type 24C02, 24C04, 24C08 or 24C16 (default 24C02).",
      "TYPE");
  const QCommandLineOption simFault("sim-fault",
                                    "With --simulate: faults and timing of the simulated chip, "
                                    "e.g. flip:0x40 or unplug:500 (as qrt4250-cli).",
                                    "SPEC");
  parser.addOptions({simulate, simImage, simEeprom, simFault});
  parser.process(app);

  if (!parser.isSet(simulate) &&
      (parser.isSet(simImage) || parser.isSet(simEeprom) || parser.isSet(simFault))) {
    std::fprintf(stderr,
                 "qrt4250-config: --sim-image, --sim-eeprom and --sim-fault need "
                 "--simulate\n");
    return 2;
  }

  std::unique_ptr<qrt::app::CPlatformSet> pPlatform;
  std::string szError;
  if (parser.isSet(simulate)) {
    qrt::app::DEMO_OPTIONS options;
    options.szImagePath = parser.value(simImage).toStdString();
    options.szEepromType = parser.value(simEeprom).toStdString();
    options.szFaultSpec = parser.value(simFault).toStdString();
    pPlatform = qrt::app::CreateDemoPlatform(options, szError);
  } else {
    pPlatform = qrt::app::CreateSystemPlatform(szError);
  }
  if (!pPlatform) {
    std::fprintf(stderr, "qrt4250-config: %s\n", szError.c_str());
    return 2;
  }

  QApplication::setFont(qrt::app::MakeWindowFont());
  qrt::app::InstallTraceSink();
  qrt::app::CQtUiServices uiServices;
  qrt::app::TMainForm mainForm(uiServices, pPlatform->Platform(), pPlatform->Store(),
                               pPlatform->LockDir());
  mainForm.move(mainForm.screen()->availableGeometry().center() - mainForm.rect().center());
  mainForm.show();
  return app.exec();
}
