#include "DemoPlatform.h"

#include <QLoggingCategory>
#include <QString>
#include <vector>

#include "ImageFiles.h"
#include "RomDataMgr.h"
#include "SimFaultOptions.h"
#include "SimPlatform.h"
#include "Trace.h"
#include "platform/SystemPlatform.h"

namespace qrt::app {

namespace {

// Off unless QT_LOGGING_RULES="qrt.trace.debug=true": the report trace is verbose.
Q_LOGGING_CATEGORY(lcTrace, "qrt.trace", QtWarningMsg)

// No device-id groups: the window searches with the device-id check off, so
// the devices are found by their chip's answer.
class CEmptyDeviceIdStore : public USB42XX_MGR::IDeviceIdStore {
 public:
  bool OpenGroup(const std::string&) override { return false; }
  bool ReadValue(const std::string&, const std::string&, std::string&) override { return false; }
};

class CDemoPlatformSet : public CPlatformSet {
 public:
  CDemoPlatformSet() : m_Platform(true) {}
  USB42XX_MGR::IHidPlatform& Platform() override { return m_Platform; }
  USB42XX_MGR::IDeviceIdStore& Store() override { return m_Store; }
  qrt::sim::CSimPlatform& Sim() { return m_Platform; }

 private:
  qrt::sim::CSimPlatform m_Platform;
  CEmptyDeviceIdStore m_Store;
};

}  // namespace

std::unique_ptr<CPlatformSet> CreateDemoPlatform(const DEMO_OPTIONS& options,
                                                 std::string& szError) {
  qrt::sim::SIM_DEVICE_CONFIG device;
  device.wVID = 0x3A7C;
  device.wPID = 0x4250;
  if (!options.szEepromType.empty()) {
    device.Chip.dwEepromSize = qrt::image::RomSizeFromEepromType(options.szEepromType);
    if (device.Chip.dwEepromSize == 0) {
      szError = "unknown EEPROM type " + qrt::image::QuoteText(options.szEepromType) +
                " (24C02, 24C04, 24C08, 24C16)";
      return nullptr;
    }
  }
  if (options.nBoards < 1 || options.nBoards > 8) {
    szError = "the number of simulated boards must be 1 to 8";
    return nullptr;
  }
  const size_t nBoards = static_cast<size_t>(options.nBoards);
  std::vector<qrt::sim::SIM_FAULTS> vFaults(nBoards);
  std::vector<qrt::sim::SIM_CHIP_CONFIG> vChips(nBoards, device.Chip);
  if (!options.szFaultSpec.empty() &&
      !qrt::sim::ParseBoardFaultSpec(options.szFaultSpec, vFaults, vChips, szError)) {
    return nullptr;
  }
  // The same loader as the command line's: .bin or .hex by the name.
  std::vector<uint8_t> vSeed(qrt::image::kRomBufferSize, 0xFF);
  size_t nSeed = 0;
  if (!options.szImagePath.empty()) {
    const int nRead =
        qrt::image::ReadImageFile(options.szImagePath, vSeed.data(), vSeed.size(), &nSeed);
    if (nRead != qrt::image::kReadOk) {
      szError = "cannot read the EEPROM image " + qrt::image::QuoteText(options.szImagePath) +
                ": " + qrt::image::ReadResultText(nRead);
      return nullptr;
    }
  }
  auto pSet = std::make_unique<CDemoPlatformSet>();
  for (size_t i = 0; i < nBoards; ++i) {
    device.Chip = vChips[i];
    const size_t nIndex = pSet->Sim().AddDevice(device);
    qrt::sim::CSimChip& chip = pSet->Sim().Chip(nIndex);
    if (options.szImagePath.empty()) {
      chip.SetEepromContents(qrt::image::g_btDefaultImage, sizeof(qrt::image::g_btDefaultImage));
    } else {
      chip.SetEepromContents(vSeed.data(), nSeed);
    }
    chip.SetFaults(vFaults[i]);
  }
  return pSet;
}

namespace {

// The devices of this machine and the system's device-id groups.
class CSystemPlatformSet : public CPlatformSet {
 public:
  USB42XX_MGR::IHidPlatform& Platform() override { return *m_pPlatform; }
  USB42XX_MGR::IDeviceIdStore& Store() override { return *m_pStore; }

 private:
  std::unique_ptr<USB42XX_MGR::IHidPlatform> m_pPlatform = USB42XX_MGR::CreateSystemPlatform();
  std::unique_ptr<USB42XX_MGR::IDeviceIdStore> m_pStore = USB42XX_MGR::CreateSystemDeviceIdStore();
};

}  // namespace

std::unique_ptr<CPlatformSet> CreateSystemPlatformSet(std::string&) {
  return std::make_unique<CSystemPlatformSet>();
}

void InstallTraceSink() {
  qrt::diag::SetTraceSink([](std::string_view szText) {
    QString szLine = QString::fromUtf8(szText.data(), static_cast<qsizetype>(szText.size()));
    while (szLine.endsWith('\n')) szLine.chop(1);
    qCDebug(lcTrace).noquote() << szLine;
  });
}

}  // namespace qrt::app
