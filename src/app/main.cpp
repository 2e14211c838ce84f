// qrt4250-config: the QRT4250 EEPROM configuration window.
//   qrt4250-config                      the devices on this machine
//   qrt4250-config --simulate [--sim-* options, as qrt4250-cli takes them]
//   qrt4250-config --station [...]     the operator station of a production line
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "AppFont.h"
#include "AppIdentity.h"
#include "DemoPlatform.h"
#include "MainForm.h"
#include "MessageTable.h"
#include "StationForm.h"
#include "UiServices.h"
#include "Version.h"
#include "platform/StartupMessage.h"

namespace {

struct OPTIONS {
  bool bSimulate = false;
  bool bStation = false;
  bool bSimOptionWithoutSimulate = false;
  qrt::transfer::SIM_OPTIONS sim;
};

QString OptionName(std::string_view szName) {
  return QString::fromUtf8(szName.data(), static_cast<qsizetype>(szName.size())).mid(2);
}

// A number option; a value that is not one is kept as -1 and refused with
// the option's range message.
int IntValue(const QCommandLineParser& parser, const QString& szName, int nDefault) {
  if (!parser.isSet(szName)) return nDefault;
  bool bOk = false;
  const int n = parser.value(szName).toInt(&bOk);
  return bOk ? n : -1;
}

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
  parser.addOption(QCommandLineOption(
      "station", "The operator station: programs each board as it arrives, in parallel."));
  // The simulator's options, as the command line program has them.
  for (const qrt::transfer::SIM_OPTION_TEXT& text : qrt::transfer::SimOptionTexts()) {
    parser.addOption(QCommandLineOption(
        OptionName(text.szName),
        QString::fromUtf8(text.szHelp.data(), static_cast<qsizetype>(text.szHelp.size())),
        QString::fromUtf8(text.szValue.data(), static_cast<qsizetype>(text.szValue.size()))));
  }
  parser.process(core);  // --help, --version and unknown options end here

  OPTIONS options;
  options.bSimulate = parser.isSet("simulate");
  options.bStation = parser.isSet("station");
  for (const qrt::transfer::SIM_OPTION_TEXT& text : qrt::transfer::SimOptionTexts()) {
    if (text.szName != "--simulate" && parser.isSet(OptionName(text.szName))) {
      options.bSimOptionWithoutSimulate = !options.bSimulate;
    }
  }
  qrt::transfer::SIM_OPTIONS& sim = options.sim;
  sim.szImage = parser.value("sim-image").toStdString();
  if (parser.isSet("sim-eeprom")) sim.szEeprom = parser.value("sim-eeprom").toStdString();
  sim.nLayout = IntValue(parser, "sim-layout", 0);
  sim.nBoards = IntValue(parser, "sim-boards", 1);
  sim.szSave = parser.value("sim-save").toStdString();
  sim.szLog = parser.value("sim-log").toStdString();
  for (const QString& szFault : parser.values("sim-fault")) {
    sim.vFaults.push_back(szFault.toStdString());
  }
  // The window's simulated boards always run in real time, so the progress
  // can be watched; --sim-realtime is accepted and changes nothing.
  sim.bRealTime = true;
  return options;
}

}  // namespace

int main(int argc, char* argv[]) {
  const OPTIONS options = ParseCommandLine(argc, argv);
  if (options.bSimOptionWithoutSimulate) {
    qrt::app::ShowStartupError("the --sim-* options need --simulate");
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
      qrt::app::CPlatformSet::Create(options.bSimulate, options.sim, szError);
  if (!pPlatform) {
    qrt::app::ShowStartupError(szError);
    return 2;
  }

  QApplication app(argc, argv);
  qrt::app::ApplyApplicationIdentity();
  QApplication::setFont(qrt::app::MakeWindowFont());
  qrt::app::InstallTraceSink();
  qrt::app::CQtUiServices uiServices;
  int nResult = 0;
  if (options.bStation) {
    qrt::app::TStationForm station(uiServices, pPlatform->Platform(), pPlatform->Simulator(),
                                   qrt::app::kLanguageChinese);
    station.resize(1000, 760);
    station.show();
    nResult = app.exec();
  } else {
    qrt::app::TMainForm mainForm(uiServices, pPlatform->Platform(), pPlatform->Store());
    mainForm.show();
    nResult = app.exec();
  }
  std::vector<std::string> vErrors;
  pPlatform->Finish(vErrors);
  for (const std::string& szText : vErrors) {
    std::fprintf(stderr, "qrt4250-config: %s\n", szText.c_str());
  }
  return nResult;
}
