#pragma once
// The HID platform on Windows: HID interfaces found through SetupAPI, report
// lengths from the HID class driver's capabilities (HidP_GetCaps), reports on
// the control channel with HidD_SetOutputReport / HidD_GetInputReport, and
// hot-plug from RegisterDeviceNotificationW. <windows.h> stays out of this
// header; handles cross it as void*.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/NativeHidPlatform.h"

namespace USB42XX_MGR {

struct WINDOWS_HID_OPTIONS {
  // Where the device-interface notifications go. Null: a message-only window
  // (HWND_MESSAGE) on a thread of the platform. Otherwise the caller's own
  // window (an HWND); its window procedure then hands every WM_DEVICECHANGE
  // to OnDeviceChangeMessage().
  void* hNotifyWindow = nullptr;
  // False: no notifications at all; the caller's poll keeps the list current.
  bool bHotPlug = true;
  // Opens an interface path for dwAccess and returns its HANDLE, or
  // INVALID_HANDLE_VALUE with the thread's error set. Empty: CreateFileW.
  // A test's seam for a device that vanishes between listing and opening.
  std::function<void*(const std::wstring& szPath, unsigned long dwAccess)> fnOpenPath;
};

// Device paths are case-insensitive on Windows, and an arrival may spell a
// path otherwise than the enumeration did: paths are kept with ASCII A-Z
// folded to lower case so that they compare as plain strings.
std::string FoldDevicePath(std::string_view szPath);

// VID and PID from an interface path ("...vid_3a7c&pid_4250..." in any
// case): "VID_" and "PID_" each followed by exactly four hex digits. Used
// when a device does not answer HidD_GetAttributes. Returns false (outputs
// unchanged) when either is missing or malformed.
bool ParseInterfacePathIds(std::string_view szPath, uint16_t& wVID, uint16_t& wPID);

// Size of the buffer a report exchange passes to the HID class driver, which
// takes whole reports of the collection's length (caps length, report ID
// byte included): the caller's nLength bytes go first, the rest is zero.
// Returns 0 when the exchange cannot be made: nothing to send, or a report
// longer than the collection's (its bytes would be lost) or a collection
// without reports of that kind (caps length 0).
size_t ReportBufferLength(size_t nLength, uint32_t dwCapsLength);

// The present USB devices out of QueryDosDeviceW's list (NUL-separated names,
// ended by an empty one, nChars long): every name longer than "USB#" that
// begins with it in any case, as UTF-8. A list without its final NUL ends at
// nChars; nothing is read beyond it.
std::vector<std::string> UsbNamesFromDosDeviceList(const wchar_t* pList, size_t nChars);

// The interface path carried by a WM_DEVICECHANGE broadcast (lParam), as a
// folded UTF-8 path. Returns false for a broadcast that is not a device
// interface, is shorter than its header or whose name is empty; a name
// without a NUL inside the broadcast's own size is cut at that size.
bool ReadBroadcastInterfacePath(const void* pBroadcast, std::string& szPath);

// The name of a board's lock: the HID mutex's name, '_' and the board's
// path with its backslashes as '/' (a kernel object name has no backslash
// after its namespace). A path too long for a name leaves the board
// without a lock: its transfers are refused.
std::string BoardMutexName(const std::string& szPath);

// HID interfaces found through SetupAPI, one top-level collection each.
// Listed when they open for reading and writing, else with no access (a
// keyboard or mouse the system holds exclusively still shows its ids and
// caps; it will not open for transfers). The USB names come from
// QueryDosDeviceW (false beyond 0x80000 chars); the event handle is an
// auto-reset event set while events are queued; a removal's ids come from
// the path first.
class CWindowsHidPlatform : public CNativeHidPlatform {
 public:
  explicit CWindowsHidPlatform(WINDOWS_HID_OPTIONS options = {});

  // For a caller window given in the options: call with every
  // WM_DEVICECHANGE message it receives. Returns true when an arrival or
  // removal of a HID interface was queued.
  bool OnDeviceChangeMessage(uint32_t uMessage, uintptr_t wParam, intptr_t lParam);
};

}  // namespace USB42XX_MGR
