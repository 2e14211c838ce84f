#include "DeviceList.h"
#include "UsbDeviceNames.h"

#include <gtest/gtest.h>

using namespace USB42XX_MGR;

struct VidPidCase {
  const char* name;
  int result;
  uint16_t vid;
  uint16_t pid;
};

TEST(ParseVidPid, Table) {
  const VidPidCase cases[] = {
      {"USB#VID_3A7C&PID_4250#5&1a2b", 0, 0x3A7C, 0x4250},
      {"\\\\?\\hid#vid_3a7c&pid_4250&mi_03#7&2f", 0, 0x3A7C, 0x4250},  // lower case
      {"USB#VID_3A7C#nopid", 2, 0x3A7C, 0},
      {"USB#PID_4250", 1, 0, 0},
      {"USB#VID_12&PID_G000", 0, 0x12, 0},  // reading stops at a non-digit
      {"USB#VID_", 2, 0, 0},
  };
  for (const auto& c : cases) {
    uint16_t vid = 0xFFFF, pid = 0xFFFF;
    EXPECT_EQ(ParseVidPid(c.name, vid, pid), c.result) << c.name;
    EXPECT_EQ(vid, c.vid) << c.name;
    EXPECT_EQ(pid, c.pid) << c.name;
  }
}

TEST(DeviceList, KeepsPairsDistinctAndNeverGrowsPast128) {
  DEVICE_LIST list;
  EXPECT_TRUE(DeviceListAdd(list, 0x3A7C, 0x4250));
  EXPECT_FALSE(DeviceListAdd(list, 0x3A7C, 0x4250));
  for (uint16_t pid = 0; pid < 300; ++pid) DeviceListAdd(list, 0x1111, pid);
  EXPECT_EQ(list.Number, kMaxDeviceListEntries);
  EXPECT_EQ(list.VID[0], 0x3A7C);
  EXPECT_EQ(list.PID[127], 126);
}
