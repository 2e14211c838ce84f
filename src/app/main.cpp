// qrt4250-config: the QRT4250 EEPROM configuration window.
//   qrt4250-config                      the devices on this machine
//   qrt4250-config --simulate [--sim-image FILE] [--sim-eeprom TYPE] [--sim-fault SPEC]
//                  [--sim-boards N]     N simulated QRT4250 (VID 3A7C, PID 4250)
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "AppFont.h"
#include "AppIdentity.h"
#include "DemoPlatform.h"
#include "MainForm.h"
#include "UiServices.h"
#include "Version.h"
#include "platform/StartupMessage.h"

namespace {

struct OPTIONS {
  bool bSimulate = false;
  bool bSimOptionWithoutSimulate = false;
  qrt::app::DEMO_OPTIONS demo;
};

// Parsed before any window exists, so --help and --version need no display.
OPTIONS ParseCommandLine(int argc, char* argv[]) {
  QCoreApplication core(argc, argv);
  QCoreApplication::setApplicationName("qrt4250-config");
  QCoreApplication::setApplicationVersion(qrt::app::kProgramVersion);

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
                                    "With --simulate: EEPROM contents from a .bin or .hex file "
                                    "(default: the built-in default image).",
                                    "FILE");
  const QCommandLineOption simEeprom(
      "sim-eeprom", "With --simulate: EEPROM type 24C02, 24C04, 24C08 or 24C16 (default 24C02).",
      "TYPE");
  const QCommandLineOption simFault("sim-fault",
                                    "With --simulate: faults and timing of the simulated chip, "
                                    "e.g. flip:0x40 or unplug:500 (as qrt4250-cli).",
                                    "SPEC");
  const QCommandLineOption simBoards(
      "sim-boards", "With --simulate: N identical simulated boards sim:1 .. sim:N (1-8, default 1).",
      "N");
  parser.addOptions({simulate, simImage, simEeprom, simFault, simBoards});
  parser.process(core);  // --help, --version and unknown options end here

  OPTIONS options;
  options.bSimulate = parser.isSet(simulate);
  options.bSimOptionWithoutSimulate =
      !options.bSimulate &&
      (parser.isSet(simImage) || parser.isSet(simEeprom) || parser.isSet(simFault) ||
       parser.isSet(simBoards));
  options.demo.szImagePath = parser.value(simImage).toStdString();
  options.demo.szEepromType = parser.value(simEeprom).toStdString();
  options.demo.szFaultSpec = parser.value(simFault).toStdString();
  if (parser.isSet(simBoards)) {
    bool bOk = false;
    options.demo.nBoards = parser.value(simBoards).toInt(&bOk);
    if (!bOk) options.demo.nBoards = 0;  // refused with the range message
  }
  return options;
}

}  // namespace

int main(int argc, char* argv[]) {
  const OPTIONS options = ParseCommandLine(argc, argv);
  if (options.bSimOptionWithoutSimulate) {
    qrt::app::ShowStartupError(
        "--sim-image, --sim-eeprom, --sim-fault and --sim-boards need --simulate");
    return 2;
  }

#if defined(__linux__)
  const std::string szNoDisplay = qrt::app::MissingDisplayText(
      std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"));
  if (!szNoDisplay.empty()) {
    std::fprintf(stderr, "qrt4250-config: %s\n", szNoDisplay.c_str());
    return 1;
  }
#endif

  std::string szError;
  std::unique_ptr<qrt::app::CPlatformSet> pPlatform =
      options.bSimulate ? qrt::app::CreateDemoPlatform(options.demo, szError)
                        : qrt::app::CreateSystemPlatformSet(szError);
  if (!pPlatform) {
    qrt::app::ShowStartupError(szError);
    return 2;
  }

  QApplication app(argc, argv);
  qrt::app::ApplyApplicationIdentity();
  QApplication::setFont(qrt::app::MakeWindowFont());
  qrt::app::InstallTraceSink();
  qrt::app::CQtUiServices uiServices;
  qrt::app::TMainForm mainForm(uiServices, pPlatform->Platform(), pPlatform->Store(),
                               pPlatform->LockDir());
  mainForm.show();
  return app.exec();
}
