#include "DeviceMonitor.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <vector>

#include "UsbDeviceNames.h"
#include "platform/HidPlatform.h"

namespace qrt::cli {
namespace {

using qrt::transfer::CInterruptGuard;
using qrt::transfer::EDeviceWait;

// The event the device list's change stands for, where the platform sends
// none.
USB42XX_MGR::DEVICE_EVENT ListChange(USB42XX_MGR::EDeviceEvent eKind, const std::string& szName) {
  USB42XX_MGR::DEVICE_EVENT event;
  event.eKind = eKind;
  event.Board.szPath = szName;
  if (USB42XX_MGR::ParseVidPid(szName, event.Board.wVID, event.Board.wPID) != 0) {
    event.Board.wVID = event.Board.wPID = 0;
  }
  return event;
}

std::set<std::string> PresentDevices(USB42XX_MGR::IHidPlatform& platform) {
  std::vector<std::string> vNames;
  USB42XX_MGR::EnumerateUsbDosDevices(platform, vNames);
  return {vNames.begin(), vNames.end()};
}

}  // namespace

std::string FormatDeviceEvent(const USB42XX_MGR::DEVICE_EVENT& event) {
  const uint16_t wVID = event.Board.wVID;
  const uint16_t wPID = event.Board.wPID;
  if (wVID == 0 && wPID == 0) return {};
  char szLine[64];
  std::snprintf(szLine, sizeof szLine, "%s VID = 0x%.4X, PID = 0x%.4X",
                event.eKind == USB42XX_MGR::EDeviceEvent::Arrival ? "arrival" : "removal", wVID,
                wPID);
  return szLine;
}

int RunDeviceMonitor(USB42XX_MGR::IHidPlatform& platform, std::ostream& out, std::ostream& err,
                     const DEVICE_MONITOR_OPTIONS& options) {
  const auto print = [&out](const USB42XX_MGR::DEVICE_EVENT& event) {
    const std::string szLine = FormatDeviceEvent(event);
    if (!szLine.empty()) out << szLine << std::endl;
  };
  platform.SetEventSink(print);
  const bool bEvents = qrt::transfer::HasDeviceEvents(platform);
  std::set<std::string> setPresent;
  if (!bEvents) {
    err << "qrt4250-cli: no hot-plug events on this system; checking the devices every "
        << options.nPollMs << " ms" << std::endl;
    setPresent = PresentDevices(platform);
  }

  CInterruptGuard guard;
  int nResult = 0;
  while (!CInterruptGuard::Interrupted() && !(options.fnStop && options.fnStop())) {
    const EDeviceWait eWait = qrt::transfer::WaitForDeviceChange(platform, options.nPollMs);
    if (eWait == EDeviceWait::kInterrupted) break;
    if (eWait == EDeviceWait::kError) {
      err << "qrt4250-cli: error: waiting for devices failed: " << std::strerror(errno) << '\n';
      nResult = 1;
      break;
    }
    if (bEvents) {
      if (eWait == EDeviceWait::kChanged) platform.DispatchEvents();
      continue;
    }
    // No events: report what changed in the list of present devices.
    std::set<std::string> setNow = PresentDevices(platform);
    for (const std::string& szName : setPresent)
      if (!setNow.count(szName)) print(ListChange(USB42XX_MGR::EDeviceEvent::Removal, szName));
    for (const std::string& szName : setNow)
      if (!setPresent.count(szName)) print(ListChange(USB42XX_MGR::EDeviceEvent::Arrival, szName));
    setPresent = std::move(setNow);
  }
  platform.SetEventSink({});
  return nResult;
}

}  // namespace qrt::cli
