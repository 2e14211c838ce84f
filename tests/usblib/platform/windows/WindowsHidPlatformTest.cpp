// The Windows HID platform: its pure helpers, and the real HID stack of the
// machine it runs on. Under wine that stack lists wine's own virtual mouse
// and keyboard (VID 845E), which are not QRT4250 boards.
#include "WindowsHidPlatform.h"

#include <windows.h>

#include <dbt.h>
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "Trace.h"
#include "UsbHidMgr.h"
#include "Utf16Path.h"

namespace USB42XX_MGR {
namespace {

TEST(WindowsHidHelpers, InterfacePathIds) {
  struct {
    const char* pszPath;
    bool bOk;
    uint16_t wVID, wPID;
  } const cases[] = {
      {R"(\\?\hid#vid_3a7c&pid_4250&mi_03#7&2a3b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})",
       true, 0x3A7C, 0x4250},
      {R"(\\?\HID#VID_845E&PID_0001#0&0000&0&0#{4D1E55B2})", true, 0x845E, 0x0001},
      {"HID#VID_3A7C#no-product", false, 0, 0},
      {"HID#PID_4250#no-vendor", false, 0, 0},
      {"HID#VID_3A7&PID_4250", false, 0, 0},     // three digits
      {"HID#VID_3A7C5&PID_4250", false, 0, 0},   // five digits
      {"HID#VID_3A7G&PID_4250", false, 0, 0},    // not hex
      {"HID#VID_3A7C&PID_425", false, 0, 0},     // cut at the end
  };
  for (const auto& c : cases) {
    uint16_t wVID = 0xAAAA;
    uint16_t wPID = 0xBBBB;
    EXPECT_EQ(ParseInterfacePathIds(c.pszPath, wVID, wPID), c.bOk) << c.pszPath;
    EXPECT_EQ(wVID, c.bOk ? c.wVID : 0xAAAA) << c.pszPath;
    EXPECT_EQ(wPID, c.bOk ? c.wPID : 0xBBBB) << c.pszPath;
  }
  EXPECT_EQ(FoldDevicePath(R"(\\?\HID#Vid_3A7C&{4D1E})"), R"(\\?\hid#vid_3a7c&{4d1e})");
}

TEST(WindowsHidHelpers, ReportBufferLength) {
  struct {
    size_t nLength;
    uint32_t dwCaps;
    size_t nBuffer;
  } const cases[] = {
      {5, 5, 5}, {4, 8, 8},  // shorter reports are padded to the collection's length
      {8, 5, 0},             // longer ones would lose bytes
      {1, 0, 0},             // no reports of that kind
      {0, 5, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ReportBufferLength(c.nLength, c.dwCaps), c.nBuffer) << c.nLength << "/" << c.dwCaps;
}

TEST(WindowsHidHelpers, UsbNamesFromDosDeviceList) {
  const wchar_t list[] = L"COM1\0USB#\0usb#vid_3a7c&pid_4250#5&1\0USB#VID_0001&PID_0002#x\0\0";
  EXPECT_EQ(UsbNamesFromDosDeviceList(list, sizeof list / sizeof list[0] - 1),
            (std::vector<std::string>{"usb#vid_3a7c&pid_4250#5&1", "USB#VID_0001&PID_0002#x"}));
  // A list cut short without its NULs ends where it is cut.
  const wchar_t cut[] = {L'U', L'S', L'B', L'#', L'V', L'I', L'D', L'_', L'1'};
  EXPECT_EQ(UsbNamesFromDosDeviceList(cut, 6), (std::vector<std::string>{"USB#VI"}));
}

// A broadcast as the system sends it, with a chosen size and name.
std::vector<uint8_t> Broadcast(DWORD dwType, const wchar_t* pszName, DWORD dwSizeDelta = 0) {
  const size_t nOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  std::vector<uint8_t> v(nOffset + (std::wcslen(pszName) + 1) * sizeof(wchar_t) + 16, 0xEE);
  DEV_BROADCAST_DEVICEINTERFACE_W header{};
  header.dbcc_size = static_cast<DWORD>(nOffset + (std::wcslen(pszName) + 1) * sizeof(wchar_t)) -
                     dwSizeDelta;
  header.dbcc_devicetype = dwType;
  std::memcpy(v.data(), &header, nOffset);
  std::memcpy(v.data() + nOffset, pszName, (std::wcslen(pszName) + 1) * sizeof(wchar_t));
  return v;
}

TEST(WindowsHidHelpers, BroadcastInterfacePath) {
  std::string szPath = "unchanged";
  EXPECT_TRUE(ReadBroadcastInterfacePath(
      Broadcast(DBT_DEVTYP_DEVICEINTERFACE, L"\\\\?\\HID#VID_3A7C&PID_4250#1").data(), szPath));
  EXPECT_EQ(szPath, "\\\\?\\hid#vid_3a7c&pid_4250#1");
  // The NUL and the last three characters lie beyond the stated size: the
  // name ends at the size, the bytes behind it (0xEE) are not read.
  EXPECT_TRUE(ReadBroadcastInterfacePath(
      Broadcast(DBT_DEVTYP_DEVICEINTERFACE, L"HID#VID_3A7C", 4 * sizeof(wchar_t)).data(), szPath));
  EXPECT_EQ(szPath, "hid#vid_3");
  szPath = "unchanged";
  EXPECT_FALSE(ReadBroadcastInterfacePath(Broadcast(DBT_DEVTYP_VOLUME, L"X").data(), szPath));
  EXPECT_FALSE(ReadBroadcastInterfacePath(Broadcast(DBT_DEVTYP_DEVICEINTERFACE, L"").data(), szPath));
  // A size that ends with the header leaves no name.
  EXPECT_FALSE(ReadBroadcastInterfacePath(
      Broadcast(DBT_DEVTYP_DEVICEINTERFACE, L"HID", 4 * sizeof(wchar_t)).data(), szPath));
  std::vector<uint8_t> vShort = Broadcast(DBT_DEVTYP_DEVICEINTERFACE, L"HID");
  const DWORD dwTiny = 4;  // less than the header
  std::memcpy(vShort.data(), &dwTiny, sizeof dwTiny);
  EXPECT_FALSE(ReadBroadcastInterfacePath(vShort.data(), szPath));
  EXPECT_EQ(szPath, "unchanged");
}

bool UnderWine() {
  const HMODULE hNtdll = ::GetModuleHandleW(L"ntdll.dll");
  return hNtdll != nullptr && ::GetProcAddress(hNtdll, "wine_get_version") != nullptr;
}

TEST(WindowsHidPlatform, ListsTheHidStackWithPlausibleCaps) {
  CWindowsHidPlatform platform;
  std::vector<HID_COLLECTION_INFO> vCollections;
  ASSERT_TRUE(platform.EnumerateHidCollections(vCollections));
  bool bWineMouse = false;
  for (const HID_COLLECTION_INFO& info : vCollections) {
    SCOPED_TRACE(info.szPath);
    EXPECT_EQ(info.szPath, FoldDevicePath(info.szPath));
    EXPECT_LE(info.dwInputReportByteLength, 4096u);
    EXPECT_LE(info.dwOutputReportByteLength, 4096u);
    if (info.wVID == 0x845E && info.wPID == 0x0001) {
      bWineMouse = true;
      EXPECT_GE(info.dwInputReportByteLength, 2u);  // buttons and motion behind the ID byte
      EXPECT_FALSE(info.szProduct.empty());
    }
  }
  if (UnderWine()) {
    EXPECT_TRUE(bWineMouse);
  }
  std::vector<std::string> vUsb;
  EXPECT_TRUE(platform.EnumerateUsbDeviceNames(vUsb));
}

TEST(WindowsHidPlatform, TransferToAnotherDeviceFailsWithItsCode) {
  CWindowsHidPlatform platform;
  std::vector<HID_COLLECTION_INFO> vCollections;
  ASSERT_TRUE(platform.EnumerateHidCollections(vCollections));
  const HID_COLLECTION_INFO* pMouse = nullptr;
  for (const auto& info : vCollections) {
    if (info.wVID == 0x845E && info.wPID == 0x0001) pMouse = &info;
  }
  if (pMouse == nullptr) GTEST_SKIP() << "no wine HID mouse here";
  std::unique_ptr<IHidDevice> pDevice = platform.OpenCollection(*pMouse);
  ASSERT_NE(pDevice, nullptr);
  // The chip-id read's first output report (5 bytes, layout 0) does not fit
  // a collection without output reports and never reaches the driver:
  // register code 3, first read +1000.
  qrt::diag::CTraceCapture trace;
  uint16_t wChipId = 0;
  EXPECT_EQ(CUsbHidMgr::ReadChipId(*pDevice, wChipId, 0, 0), 1003);
  EXPECT_TRUE(trace.Contains("refused: 5-byte report, collection reports 0 bytes"));
  // A report longer than the collection's is refused, nothing written.
  uint8_t report[16];
  std::memset(report, 0x5A, sizeof report);
  report[0] = 0;
  EXPECT_FALSE(pDevice->GetInputReport(report, pMouse->dwInputReportByteLength + 1));
  for (size_t i = 1; i < sizeof report; ++i) EXPECT_EQ(report[i], 0x5A);
  // One of the collection's own length travels through the driver.
  EXPECT_TRUE(pDevice->GetInputReport(report, pMouse->dwInputReportByteLength));
  // No board answers the chip probe, and the board search says so.
  CUsbHidMgr hid(platform);
  uint8_t btReportId = 0;
  uint32_t dwLength = 0;
  EXPECT_EQ(hid.GetChipInformation(0x845E, 0x0001, wChipId, btReportId, dwLength), 1);
  std::vector<BOARD_INFO> vBoards;
  EXPECT_TRUE(hid.EnumerateBoards(vBoards));
  EXPECT_TRUE(vBoards.empty());
}

// A device unplugged between the listing and the open: enumeration skips it
// with a trace line and lists the rest; opening it later gives no device.
TEST(WindowsHidPlatform, ADeviceGoneDuringEnumerationIsSkipped) {
  std::vector<HID_COLLECTION_INFO> vAll;
  ASSERT_TRUE(CWindowsHidPlatform().EnumerateHidCollections(vAll));
  if (vAll.empty()) GTEST_SKIP() << "no HID interface here";
  const std::string szGone = vAll.front().szPath;
  WINDOWS_HID_OPTIONS options;
  options.bHotPlug = false;
  options.fnOpenPath = [&](const std::wstring& szPath, unsigned long dwAccess) -> void* {
    if (FoldDevicePath(qrt::diag::platform::Narrow(szPath)) == szGone) {
      ::SetLastError(ERROR_DEVICE_NOT_CONNECTED);
      return INVALID_HANDLE_VALUE;
    }
    return ::CreateFileW(szPath.c_str(), dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  CWindowsHidPlatform platform(options);
  qrt::diag::CTraceCapture trace;
  std::vector<HID_COLLECTION_INFO> vListed;
  ASSERT_TRUE(platform.EnumerateHidCollections(vListed));
  EXPECT_EQ(vListed.size(), vAll.size() - 1);
  for (const auto& info : vListed) EXPECT_NE(info.szPath, szGone);
  EXPECT_TRUE(trace.Contains("hid: " + szGone + " skipped: does not open (gone?), error " +
                             std::to_string(ERROR_DEVICE_NOT_CONNECTED)))
      << trace.Text();
  EXPECT_EQ(platform.OpenCollection(vAll.front()), nullptr);
}

TEST(WindowsHidPlatform, DeviceChangeMessagesReachTheSinkWithTheirIds) {
  CWindowsHidPlatform platform;
  const HANDLE hEvent = static_cast<HANDLE>(platform.GetEventHandle());
  ASSERT_NE(hEvent, nullptr);
  std::vector<DEVICE_EVENT> vEvents;
  platform.SetEventSink([&](const DEVICE_EVENT& event) { vEvents.push_back(event); });
  const auto arrival = Broadcast(DBT_DEVTYP_DEVICEINTERFACE, L"\\\\?\\HID#VID_3A7C&PID_4250#9");
  const auto unknown = Broadcast(DBT_DEVTYP_DEVICEINTERFACE, L"\\\\?\\{00001124}_LOCALMFG#1");
  EXPECT_TRUE(platform.OnDeviceChangeMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                                             reinterpret_cast<intptr_t>(arrival.data())));
  EXPECT_TRUE(platform.OnDeviceChangeMessage(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                                             reinterpret_cast<intptr_t>(unknown.data())));
  EXPECT_FALSE(platform.OnDeviceChangeMessage(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0));
  EXPECT_FALSE(platform.OnDeviceChangeMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0));
  EXPECT_EQ(::WaitForSingleObject(hEvent, 0), DWORD{WAIT_OBJECT_0});
  qrt::diag::CTraceCapture trace;
  platform.DispatchEvents();
  ASSERT_EQ(vEvents.size(), 1u);  // the removal without ids is dropped
  EXPECT_EQ(vEvents[0].eKind, EDeviceEvent::Arrival);
  EXPECT_EQ(vEvents[0].Board.szPath, "\\\\?\\hid#vid_3a7c&pid_4250#9");  // as enumeration names it
  EXPECT_EQ(vEvents[0].Board.wVID, 0x3A7C);
  EXPECT_EQ(vEvents[0].Board.wPID, 0x4250);
  EXPECT_TRUE(trace.Contains("without VID/PID ignored"));
  EXPECT_EQ(::WaitForSingleObject(hEvent, 0), DWORD{WAIT_TIMEOUT});  // auto-reset
}

}  // namespace
}  // namespace USB42XX_MGR
