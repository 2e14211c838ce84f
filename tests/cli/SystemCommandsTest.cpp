// qrt4250-cli monitor and deviceid encode: the monitor loop on a scripted
// platform (events, the polling fallback), and store lines that the
// device-id group then accepts.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "SimTestSupport.h"
#include "CliApp.h"
#include "CliRun.h"
#include "DeviceIdMgr.h"
#include "DeviceMonitor.h"
#include "ScriptedPlatform.h"

namespace {

using namespace USB42XX_MGR;
using qrt::test::CScriptedPlatform;

using qrt::test::RunCliWith;

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

TEST(DeviceIdEncode, PrintsALineTheStoreAccepts) {
  struct SCase {
    std::string szPattern;
    uint16_t wPID;  // a product id the pattern admits
  };
  for (const SCase& c : {SCase{"VID_3A7C&PID_42XX", 0x4299}, SCase{"vid_3a7c&pid_4250", 0x4250},
                         SCase{"USB\\VID_3A7C&PID_4251", 0x4251}}) {
    const std::string& szPattern = c.szPattern;
    SCOPED_TRACE(szPattern);
    const auto run = RunCliWith({"deviceid", "encode", szPattern});
    ASSERT_EQ(run.nExit, 0) << run.err;
    ASSERT_EQ(run.out.rfind(szPattern + ",", 0), 0u) << run.out;
    ASSERT_EQ(run.out.back(), '\n');

    // The line as the value of a group, loaded as the program does.
    qrt::test::CMemoryDeviceIdStore store;
    store.SetGroup(kAudioDeviceIdGroupName, {run.out.substr(0, run.out.size() - 1)});
    CScriptedPlatform platform(false);
    CDeviceIdMgr group(store, platform);
    EXPECT_EQ(group.GetDeviceIdGroupFromRegistry(kAudioDeviceIdGroupName), 0);
    EXPECT_EQ(group.GetAcceptedIds().size(), 1u);
    EXPECT_TRUE(group.IsDeviceIdContainGroupEx(0x3A7C, c.wPID));
    EXPECT_FALSE(group.IsDeviceIdContainGroupEx(0x3A7D, c.wPID));
  }
}

TEST(DeviceIdEncode, RefusesPatternsTheStoreCouldNeverAccept) {
  for (const char* pszPattern :
       {"", "VID_3A7C", "PID_4250", "VID_3A7C&PID_42G0", "VID_3A7&PID_4250", "VID_3A7C&PID_4250,x",
        " VID_3A7C&PID_4250", "VID_3A7C&PID_4250 ", "VID_3A7C&PID_4250;c"}) {
    SCOPED_TRACE(pszPattern);
    const auto run = RunCliWith({"deviceid", "encode", pszPattern});
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("qrt4250-cli: error:"), std::string::npos);
  }
}

}  // namespace
