#pragma once
// The device platforms the program can run on: the simulated boards of the
// simulator's options (set up as the CLI sets them up), or the devices of
// this machine. Qt-free apart from the trace sink installer.
#include <memory>
#include <string>
#include <vector>

#include "DeviceIdStore.h"
#include "DevicePlatform.h"
#include "SimSetup.h"

namespace qrt::app {

// A platform with the device-id store that goes with it.
class CPlatformSet {
 public:
  // The simulated boards of options when bSimulate (an empty store: the
  // window searches by the chip probe), else this machine's devices with
  // the system's device-id store. Null with szError for a refused option.
  static std::unique_ptr<CPlatformSet> Create(bool bSimulate,
                                              const qrt::transfer::SIM_OPTIONS& options,
                                              std::string& szError);
  USB42XX_MGR::IHidPlatform& Platform() { return m_pDevices->Platform(); }
  USB42XX_MGR::IDeviceIdStore& Store() { return *m_pStore; }
  // The simulated boards; null on this machine's devices.
  qrt::sim::CSimPlatform* Simulator() { return m_pDevices->Simulator(); }
  // At the end: the simulator's files (--sim-save, --sim-log); what failed
  // in vErrors.
  void Finish(std::vector<std::string>& vErrors);

 private:
  CPlatformSet() = default;
  std::unique_ptr<qrt::transfer::CDevicePlatform> m_pDevices;
  std::unique_ptr<USB42XX_MGR::IDeviceIdStore> m_pStore;
};

// Sends the trace channel's lines to the Qt logging category "qrt.trace".
void InstallTraceSink();

}  // namespace qrt::app
