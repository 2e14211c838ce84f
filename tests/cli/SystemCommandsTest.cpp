// qrt4250-cli monitor and deviceid encode: the monitor loop on a scripted
// platform (events, the polling fallback, interruption), and store lines
// that a real store then accepts.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "CliApp.h"
#include "DeviceIdMgr.h"
#include "DeviceMonitor.h"
#include "IniDeviceIdStore.h"
#include "platform/EventObject.h"
#include "platform/HidPlatform.h"

namespace {

using namespace USB42XX_MGR;

struct SRun {
  int nExit;
  std::string szOut, szErr;
};

SRun RunCliArgs(std::initializer_list<std::string> args) {
  std::vector<std::string> storage{"qrt4250-cli"};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<const char*> argv;
  for (const auto& s : storage) argv.push_back(s.c_str());
  std::ostringstream out, err;
  const int n = qrt::cli::RunCli(static_cast<int>(argv.size()), argv.data(), out, err);
  return {n, out.str(), err.str()};
}

// A platform whose events and USB device list the test scripts. With events
// on, an event object signals pending events as the real monitor's does.
class CScriptedPlatform : public IHidPlatform {
 public:
  explicit CScriptedPlatform(bool bEvents) : m_bEvents(bEvents) {}
  void Post(EDeviceEvent eKind, const std::string& szName) {
    m_qEvents.push_back({eKind, szName});
    m_Event.Signal();
  }
  // The USB device lists answered by successive enumerations (the last repeats).
  std::deque<std::vector<std::string>> m_qUsbLists;
  int m_nDispatches = 0;

  bool EnumerateHidCollections(std::vector<HID_COLLECTION_INFO>& v) override {
    v.clear();
    return true;
  }
  std::unique_ptr<IHidDevice> OpenCollection(const HID_COLLECTION_INFO&) override {
    return nullptr;
  }
  bool EnumerateUsbDeviceNames(std::vector<std::string>& v) override {
    if (m_qUsbLists.empty()) return false;
    v = m_qUsbLists.front();
    if (m_qUsbLists.size() > 1) m_qUsbLists.pop_front();
    return true;
  }
  void SetEventSink(std::function<void(const DEVICE_EVENT&)> fn) override {
    m_fnSink = std::move(fn);
  }
  NATIVE_EVENT GetEventHandle() const override {
    return m_bEvents ? m_Event.Native() : kNoNativeEvent;
  }
  void DispatchEvents() override {
    ++m_nDispatches;
    if (!m_Event.Wait(0)) return;
    m_Event.Reset();
    while (!m_qEvents.empty()) {
      DEVICE_EVENT e = m_qEvents.front();
      m_qEvents.pop_front();
      if (m_fnSink) m_fnSink(e);
    }
  }
  uint32_t GetTickCount() override { return 0; }
  void Sleep(uint32_t) override {}

 private:
  bool m_bEvents;
  CEventObject m_Event;
  std::deque<DEVICE_EVENT> m_qEvents;
  std::function<void(const DEVICE_EVENT&)> m_fnSink;
};

TEST(DeviceMonitor, PrintsEachArrivalAndRemovalWithItsIds) {
  CScriptedPlatform platform(true);
  platform.Post(EDeviceEvent::Arrival, "HID#VID_3A7C&PID_4250#hidraw3");
  platform.Post(EDeviceEvent::Removal, "HID#vid_046d&pid_c31c#hidraw1");
  platform.Post(EDeviceEvent::Arrival, "no ids in this name");
  std::ostringstream out, err;
  qrt::cli::DEVICE_MONITOR_OPTIONS options;
  options.nPollMs = 0;
  options.fnStop = [&] { return platform.m_nDispatches >= 1; };
  EXPECT_EQ(qrt::cli::RunDeviceMonitor(platform, out, err, options), 0);
  EXPECT_EQ(out.str(),
            "arrival VID = 0x3A7C, PID = 0x4250\n"
            "removal VID = 0x046D, PID = 0xC31C\n");
  EXPECT_EQ(err.str(), "");
}

TEST(DeviceMonitor, WithoutEventsComparesTheDeviceListEachPeriod) {
  CScriptedPlatform platform(false);
  platform.m_qUsbLists = {
      {"USB#VID_1D6B&PID_0002#usb1"},
      {"USB#VID_1D6B&PID_0002#usb1", "USB#VID_3A7C&PID_4250#1-2"},
      {"USB#VID_3A7C&PID_4250#1-2"},
  };
  std::ostringstream out, err;
  qrt::cli::DEVICE_MONITOR_OPTIONS options;
  options.nPollMs = 0;
  int nRounds = 0;
  options.fnStop = [&] { return ++nRounds > 3; };
  EXPECT_EQ(qrt::cli::RunDeviceMonitor(platform, out, err, options), 0);
  EXPECT_EQ(out.str(),
            "arrival VID = 0x3A7C, PID = 0x4250\n"
            "removal VID = 0x1D6B, PID = 0x0002\n");
  EXPECT_NE(err.str().find("no hot-plug events"), std::string::npos);
}

TEST(DeviceMonitor, AnInterruptEndsIt) {
  CScriptedPlatform platform(true);
  std::ostringstream out, err;
  qrt::cli::DEVICE_MONITOR_OPTIONS options;
  options.nPollMs = 0;
  int nChecks = 0;
  // The signal is raised between two waits (it stays blocked until the next
  // wait); the monitor must end there instead of running on to the cap.
  options.fnStop = [&] {
    if (++nChecks == 2) raise(SIGINT);
    return nChecks > 50;
  };
  EXPECT_EQ(qrt::cli::RunDeviceMonitor(platform, out, err, options), 0);
  EXPECT_EQ(nChecks, 2);
  // The program's own SIGINT handling is back afterwards.
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

TEST(DeviceIdEncode, PrintsALineTheStoreAccepts) {
  struct SCase {
    std::string szPattern;
    uint16_t wPID;  // a product id the pattern admits
  };
  for (const SCase& c : {SCase{"VID_3A7C&PID_42XX", 0x4299}, SCase{"vid_3a7c&pid_4250", 0x4250},
                         SCase{"USB\\VID_3A7C&PID_4251", 0x4251}}) {
    const std::string& szPattern = c.szPattern;
    SCOPED_TRACE(szPattern);
    const SRun run = RunCliArgs({"deviceid", "encode", szPattern});
    ASSERT_EQ(run.nExit, 0) << run.szErr;
    ASSERT_EQ(run.szOut.rfind(szPattern + ",", 0), 0u) << run.szOut;
    ASSERT_EQ(run.szOut.back(), '\n');

    // Put the line into a store file and load the group as the program does.
    const auto dir = std::filesystem::temp_directory_path() / "qrt-encode-test";
    std::filesystem::create_directories(dir);
    const std::string szFile = (dir / "groups.ini").string();
    std::ofstream(szFile) << "[QRT AUDIO DeviceId Group]\n1 = " << run.szOut;
    CIniDeviceIdStore store(szFile);
    CScriptedPlatform platform(false);
    CDeviceIdMgr group(store, platform);
    EXPECT_EQ(group.GetDeviceIdGroupFromRegistry("QRT AUDIO DeviceId Group"), 0);
    EXPECT_EQ(group.GetAcceptedIds().size(), 1u);
    EXPECT_TRUE(group.IsDeviceIdContainGroupEx(0x3A7C, c.wPID));
    EXPECT_FALSE(group.IsDeviceIdContainGroupEx(0x3A7D, c.wPID));
    std::filesystem::remove_all(dir);
  }
}

TEST(DeviceIdEncode, RefusesPatternsTheStoreCouldNeverAccept) {
  for (const char* pszPattern :
       {"", "VID_3A7C", "PID_4250", "VID_3A7C&PID_42G0", "VID_3A7&PID_4250", "VID_3A7C&PID_4250,x",
        " VID_3A7C&PID_4250", "VID_3A7C&PID_4250 ", "VID_3A7C&PID_4250;c"}) {
    SCOPED_TRACE(pszPattern);
    const SRun run = RunCliArgs({"deviceid", "encode", pszPattern});
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.szOut, "");
    EXPECT_NE(run.szErr.find("qrt4250-cli: error:"), std::string::npos);
  }
}

}  // namespace
