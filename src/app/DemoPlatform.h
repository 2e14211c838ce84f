#pragma once
// The device platforms the program can run on: the simulated QRT4250 of the
// demo mode, or the devices of this machine. Qt-free apart from the trace
// sink installer.
#include <memory>
#include <string>

#include "DeviceIdStore.h"
#include "platform/HidPlatform.h"

namespace qrt::app {

// A platform with the device-id store and lock folder that go with it.
class CPlatformSet {
 public:
  virtual ~CPlatformSet() = default;
  virtual USB42XX_MGR::IHidPlatform& Platform() = 0;
  virtual USB42XX_MGR::IDeviceIdStore& Store() = 0;
  virtual std::string LockDir() const { return {}; }
};

struct DEMO_OPTIONS {
  std::string szImagePath;   // EEPROM contents (.bin or .hex); empty: the default image
  std::string szEepromType;  // "24C02".."24C16"; empty: 24C02
  std::string szFaultSpec;   // simulator faults, as qrt4250-cli --sim-fault
  int nBoards = 1;           // identical boards sim:1 .. sim:N (1-8)
};

// nBoards identical simulated devices, VID 3A7C PID 4250, in real time. Null with a message
// in szError for a bad option.
std::unique_ptr<CPlatformSet> CreateDemoPlatform(const DEMO_OPTIONS& options, std::string& szError);

// The devices of this machine (USB42XX_MGR::CreateSystemPlatform) with the
// system's device-id store. Null with a message in szError when they cannot
// be set up.
std::unique_ptr<CPlatformSet> CreateSystemPlatformSet(std::string& szError);

// Sends the trace channel's lines to the Qt logging category "qrt.trace".
void InstallTraceSink();

}  // namespace qrt::app
