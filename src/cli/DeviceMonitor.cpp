#include "DeviceMonitor.h"

#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <vector>

#include "UsbDeviceNames.h"
#include "platform/HidPlatform.h"

namespace qrt::cli {
namespace {

volatile sig_atomic_t g_bInterrupted = 0;

void OnInterrupt(int) {
  g_bInterrupted = 1;
}

// SIGINT and SIGTERM are blocked except inside ppoll, so an interrupt cannot
// slip in between the check of the flag and the wait.
class CInterruptGuard {
 public:
  CInterruptGuard() {
    g_bInterrupted = 0;
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &m_OldInt);
    sigaction(SIGTERM, &action, &m_OldTerm);
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigprocmask(SIG_BLOCK, &block, &m_OldMask);
  }
  ~CInterruptGuard() {
    sigprocmask(SIG_SETMASK, &m_OldMask, nullptr);
    sigaction(SIGINT, &m_OldInt, nullptr);
    sigaction(SIGTERM, &m_OldTerm, nullptr);
  }
  CInterruptGuard(const CInterruptGuard&) = delete;
  CInterruptGuard& operator=(const CInterruptGuard&) = delete;

  const sigset_t& WaitMask() const { return m_OldMask; }

 private:
  struct sigaction m_OldInt {};
  struct sigaction m_OldTerm {};
  sigset_t m_OldMask{};
};

std::set<std::string> PresentDevices(USB42XX_MGR::IHidPlatform& platform) {
  std::vector<std::string> vNames;
  USB42XX_MGR::EnumerateUsbDosDevices(platform, vNames);
  return {vNames.begin(), vNames.end()};
}

}  // namespace

std::string FormatDeviceEvent(const USB42XX_MGR::DEVICE_EVENT& event) {
  uint16_t wVID = 0;
  uint16_t wPID = 0;
  if (USB42XX_MGR::ParseVidPid(event.szInterfaceName, wVID, wPID) != 0) return {};
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
  const int fd = platform.GetEventFd();
  std::set<std::string> setPresent;
  if (fd < 0) {
    err << "qrt4250-cli: no hot-plug events on this system; checking the devices every "
        << options.nPollMs << " ms" << std::endl;
    setPresent = PresentDevices(platform);
  }

  CInterruptGuard guard;
  int nResult = 0;
  while (!g_bInterrupted && !(options.fnStop && options.fnStop())) {
    pollfd pfd{fd, POLLIN, 0};
    const timespec timeout{options.nPollMs / 1000, (options.nPollMs % 1000) * 1000000L};
    const int nReady = ppoll(&pfd, fd < 0 ? 0 : 1, &timeout, &guard.WaitMask());
    if (nReady < 0) {
      if (errno == EINTR) continue;
      err << "qrt4250-cli: error: waiting for devices failed: " << std::strerror(errno) << '\n';
      nResult = 1;
      break;
    }
    if (fd >= 0) {
      if (nReady > 0) platform.DispatchEvents();
      continue;
    }
    // No events: report what changed in the list of present devices.
    std::set<std::string> setNow = PresentDevices(platform);
    for (const std::string& szName : setPresent)
      if (!setNow.count(szName)) print({USB42XX_MGR::EDeviceEvent::Removal, szName});
    for (const std::string& szName : setNow)
      if (!setPresent.count(szName)) print({USB42XX_MGR::EDeviceEvent::Arrival, szName});
    setPresent = std::move(setNow);
  }
  platform.SetEventSink({});
  return nResult;
}

}  // namespace qrt::cli
