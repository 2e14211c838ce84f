#include "DemoPlatform.h"

#include <QLoggingCategory>
#include <QString>

#include "Trace.h"

namespace qrt::app {

namespace {

// Off unless QT_LOGGING_RULES="qrt.trace.debug=true": the report trace is verbose.
Q_LOGGING_CATEGORY(lcTrace, "qrt.trace", QtWarningMsg)

}  // namespace

std::unique_ptr<CPlatformSet> CPlatformSet::Create(bool bSimulate,
                                                   const qrt::transfer::SIM_OPTIONS& options,
                                                   std::string& szError) {
  std::unique_ptr<CPlatformSet> pSet(new CPlatformSet);
  pSet->m_pDevices = qrt::transfer::CDevicePlatform::Create(bSimulate, options, szError);
  if (!pSet->m_pDevices) return nullptr;
  if (bSimulate) {
    pSet->m_pStore = std::make_unique<qrt::transfer::CEmptyDeviceIdStore>();
  } else {
    pSet->m_pStore = USB42XX_MGR::CreateSystemDeviceIdStore();
  }
  return pSet;
}

void CPlatformSet::Finish(std::vector<std::string>& vErrors) {
  // The log of the simulator is a file like the EEPROM's: both are told.
  m_pDevices->Finish(vErrors, vErrors);
}

void InstallTraceSink() {
  qrt::diag::SetTraceSink([](std::string_view szText) {
    QString szLine = QString::fromUtf8(szText.data(), static_cast<qsizetype>(szText.size()));
    while (szLine.endsWith('\n')) szLine.chop(1);
    qCDebug(lcTrace).noquote() << szLine;
  });
}

}  // namespace qrt::app
