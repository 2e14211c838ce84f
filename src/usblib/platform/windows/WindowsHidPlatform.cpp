#include "WindowsHidPlatform.h"

// <windows.h> first: the other Win32 headers build on its types.
#include <windows.h>

#include <dbt.h>
// mingw's HID headers declare the HID.DLL functions without C linkage.
extern "C" {
#include <hidsdi.h>  // with hidusage.h and hidpi.h
}
#include <setupapi.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "platform/HidPlatform.h"
#include "NamedMutex.h"
#include "TextNumbers.h"
#include "Trace.h"
#include "Utf16Path.h"

namespace USB42XX_MGR {
namespace {

using qrt::diag::Trace;
using qrt::diag::TraceFormat;

// QueryDosDeviceW's buffer: the whole name list must fit in it.
constexpr DWORD kDosListChars = 0x80000;
// A USB string descriptor holds at most 126 UTF-16 units.
constexpr ULONG kUsbStringChars = 128;
// Device interface paths are far shorter; anything longer is not trusted.
constexpr DWORD kMaxDetailBytes = 64 * 1024;
// Events beyond this many, while nobody dispatches, are dropped: the
// caller's poll finds what they would have said.
constexpr size_t kMaxQueuedEvents = 256;

constexpr wchar_t kWindowClass[] = L"QRTDeviceChangeClass";
constexpr wchar_t kWindowTitle[] = L"QRT Audio DeviceChange Window";
constexpr UINT kStopMessage = WM_APP + 1;

using qrt::diag::platform::Widen;

// Empty for text that is not UTF-16 (a lone surrogate): such a path could
// not be opened again by its UTF-8 name.
std::string Narrow(const wchar_t* pText, size_t nChars) {
  return qrt::diag::platform::Narrow(std::wstring(pText, nChars));
}

// Exactly four hex digits after the first occurrence of szKey (folded).
bool ReadHex4After(const std::string& szFolded, std::string_view szKey, uint16_t& wValue) {
  const size_t nAt = szFolded.find(szKey);
  if (nAt == std::string::npos) return false;
  const size_t nStart = nAt + szKey.size();
  if (szFolded.size() < nStart + 4) return false;
  unsigned int uValue = 0;
  for (size_t i = nStart; i < nStart + 4; ++i) {
    const int nDigit = qrt::diag::HexDigitValue(szFolded[i]);
    if (nDigit < 0) return false;
    uValue = uValue * 16 + static_cast<unsigned int>(nDigit);
  }
  if (szFolded.size() > nStart + 4 && qrt::diag::HexDigitValue(szFolded[nStart + 4]) >= 0) return false;
  wValue = static_cast<uint16_t>(uValue);
  return true;
}

class CHandle {
 public:
  explicit CHandle(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
  ~CHandle() {
    if (Valid()) ::CloseHandle(m_h);
  }
  CHandle(const CHandle&) = delete;
  CHandle& operator=(const CHandle&) = delete;
  bool Valid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
  HANDLE Get() const { return m_h; }
  void Reset(HANDLE h) {
    if (Valid()) ::CloseHandle(m_h);
    m_h = h;
  }
  HANDLE Release() {
    HANDLE h = m_h;
    m_h = INVALID_HANDLE_VALUE;
    return h;
  }

 private:
  HANDLE m_h;
};

HANDLE OpenPath(const std::wstring& szPath, DWORD dwAccess) {
  return ::CreateFileW(szPath.c_str(), dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool ReadCaps(HANDLE h, HIDP_CAPS& caps) {
  PHIDP_PREPARSED_DATA pPreparsed = nullptr;
  if (!::HidD_GetPreparsedData(h, &pPreparsed) || pPreparsed == nullptr) return false;
  const bool bOk = ::HidP_GetCaps(pPreparsed, &caps) == HIDP_STATUS_SUCCESS;
  ::HidD_FreePreparsedData(pPreparsed);
  return bOk;
}

// One of the HidD_Get*String calls. Printable text only: a string of
// control characters is dropped rather than printed.
template <typename Fn>
std::string ReadUsbString(HANDLE h, Fn fnGet) {
  wchar_t szBuffer[kUsbStringChars] = {};
  if (!fnGet(h, szBuffer, static_cast<ULONG>(sizeof szBuffer))) return {};
  const size_t nChars = ::wcsnlen(szBuffer, kUsbStringChars - 1);
  for (size_t i = 0; i < nChars; ++i) {
    if (szBuffer[i] < 0x20 || szBuffer[i] == 0x7F) return {};
  }
  return Narrow(szBuffer, nChars);
}

// The device path of one enumerated interface: size query first, then a
// buffer of that size (aligned for the detail record).
bool ReadInterfacePath(HDEVINFO hSet, SP_DEVICE_INTERFACE_DATA& data, std::wstring& szPath) {
  DWORD dwSize = 0;
  ::SetupDiGetDeviceInterfaceDetailW(hSet, &data, nullptr, 0, &dwSize, nullptr);
  constexpr DWORD dwPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
  if (dwSize <= dwPathOffset || dwSize > kMaxDetailBytes) return false;
  std::vector<DWORD> vStorage((dwSize + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
  auto* pDetail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(vStorage.data());
  pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!::SetupDiGetDeviceInterfaceDetailW(hSet, &data, pDetail, dwSize, nullptr, nullptr))
    return false;
  const size_t nMaxChars = (dwSize - dwPathOffset) / sizeof(wchar_t);
  szPath.assign(pDetail->DevicePath, ::wcsnlen(pDetail->DevicePath, nMaxChars));
  return !szPath.empty();
}

struct SDeviceIds {
  uint16_t wVID = 0;
  uint16_t wPID = 0;
};

// The USB strings cost a control transfer each; they are read once per
// interface path (a path names one device instance) until its removal.
struct SUsbStrings {
  std::string szSerial;
  std::string szProduct;
  std::string szManufacturer;
};

// Ids of an open interface; from its path when the driver does not answer.
bool ReadIds(HANDLE h, const std::string& szPath, SDeviceIds& ids) {
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  if (::HidD_GetAttributes(h, &attributes)) {
    ids.wVID = attributes.VendorID;
    ids.wPID = attributes.ProductID;
    return true;
  }
  return ParseInterfacePathIds(szPath, ids.wVID, ids.wPID);
}

class CWindowsHidDevice : public IHidDevice {
 public:
  CWindowsHidDevice(HANDLE h, std::string szPath, const HIDP_CAPS& caps)
      : m_hDevice(h),
        m_szPath(std::move(szPath)),
        m_dwInputLength(caps.InputReportByteLength),
        m_dwOutputLength(caps.OutputReportByteLength) {}

  bool SetOutputReport(const uint8_t* pReport, size_t nLength) override {
    const size_t nBuffer = ReportBufferLength(nLength, m_dwOutputLength);
    if (m_bGone || pReport == nullptr || nBuffer == 0) {
      Refused("HidD_SetOutputReport", nLength, m_dwOutputLength);
      return false;
    }
    std::vector<uint8_t> vBuffer(nBuffer, 0);
    std::memcpy(vBuffer.data(), pReport, nLength);
    if (::HidD_SetOutputReport(m_hDevice.Get(), vBuffer.data(), static_cast<ULONG>(nBuffer)))
      return true;
    return Failed("HidD_SetOutputReport");
  }

  bool GetInputReport(uint8_t* pReport, size_t nLength) override {
    const size_t nBuffer = ReportBufferLength(nLength, m_dwInputLength);
    if (m_bGone || pReport == nullptr || nBuffer == 0) {
      Refused("HidD_GetInputReport", nLength, m_dwInputLength);
      return false;
    }
    std::vector<uint8_t> vBuffer(nBuffer, 0);
    vBuffer[0] = pReport[0];  // the wanted report ID
    if (!::HidD_GetInputReport(m_hDevice.Get(), vBuffer.data(), static_cast<ULONG>(nBuffer)))
      return Failed("HidD_GetInputReport");
    std::memcpy(pReport, vBuffer.data(), nLength);
    return true;
  }

  bool IsGone() const override { return m_bGone; }

 private:
  void Refused(const char* pszCall, size_t nLength, uint32_t dwCapsLength) const {
    TraceFormat("hid %s on %s refused: %u-byte report, collection reports %u bytes\n", pszCall,
                m_szPath.c_str(), static_cast<unsigned>(nLength), dwCapsLength);
  }

  // A device unplugged under an open handle is not used again.
  bool Failed(const char* pszCall) {
    const DWORD dwError = ::GetLastError();
    if (dwError == ERROR_DEVICE_NOT_CONNECTED) m_bGone = true;
    TraceFormat("hid %s on %s failed: error %lu\n", pszCall, m_szPath.c_str(), dwError);
    return false;
  }

  CHandle m_hDevice;
  std::string m_szPath;
  uint32_t m_dwInputLength;
  uint32_t m_dwOutputLength;
  bool m_bGone = false;
};

}  // namespace

std::string FoldDevicePath(std::string_view szPath) {
  std::string s(szPath);
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool ParseInterfacePathIds(std::string_view szPath, uint16_t& wVID, uint16_t& wPID) {
  const std::string szFolded = FoldDevicePath(szPath);
  uint16_t wFoundVID = 0;
  uint16_t wFoundPID = 0;
  if (!ReadHex4After(szFolded, "vid_", wFoundVID) || !ReadHex4After(szFolded, "pid_", wFoundPID))
    return false;
  wVID = wFoundVID;
  wPID = wFoundPID;
  return true;
}

size_t ReportBufferLength(size_t nLength, uint32_t dwCapsLength) {
  if (nLength == 0 || dwCapsLength == 0 || nLength > dwCapsLength) return 0;
  return dwCapsLength;
}

std::vector<std::string> UsbNamesFromDosDeviceList(const wchar_t* pList, size_t nChars) {
  std::vector<std::string> vNames;
  if (pList == nullptr) return vNames;
  size_t nAt = 0;
  while (nAt < nChars && pList[nAt] != L'\0') {
    const size_t nLength = ::wcsnlen(pList + nAt, nChars - nAt);
    const wchar_t* pName = pList + nAt;
    if (nLength > 4 && ::_wcsnicmp(pName, L"USB#", 4) == 0)
      vNames.push_back(Narrow(pName, nLength));
    nAt += nLength + 1;
  }
  return vNames;
}

bool ReadBroadcastInterfacePath(const void* pBroadcast, std::string& szPath) {
  if (pBroadcast == nullptr) return false;
  // Read field by field: the broadcast says its own size, which is checked
  // before anything past the header is touched.
  DWORD dwSize = 0;
  std::memcpy(&dwSize, pBroadcast, sizeof dwSize);
  if (dwSize < sizeof(DEV_BROADCAST_HDR)) return false;
  DEV_BROADCAST_HDR header;
  std::memcpy(&header, pBroadcast, sizeof header);
  constexpr size_t nNameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  if (header.dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE || header.dbch_size <= nNameOffset)
    return false;
  const size_t nMaxChars = (header.dbch_size - nNameOffset) / sizeof(wchar_t);
  if (nMaxChars == 0 || nMaxChars > 32767) return false;
  std::wstring szName(nMaxChars, L'\0');
  std::memcpy(szName.data(), static_cast<const uint8_t*>(pBroadcast) + nNameOffset,
              nMaxChars * sizeof(wchar_t));
  szName.resize(::wcsnlen(szName.c_str(), nMaxChars));
  if (szName.empty()) return false;
  szPath = FoldDevicePath(Narrow(szName.data(), szName.size()));
  return !szPath.empty();
}

std::string BoardMutexName(const std::string& szPath) {
  std::string szName = std::string(kBoardMutexNames.pszHid) + "_" + szPath;
  std::replace(szName.begin() + static_cast<std::ptrdiff_t>(szName.size() - szPath.size()),
               szName.end(), '\\', '/');
  return szName;
}

struct CNativeHidPlatform::SImpl {
  WINDOWS_HID_OPTIONS options;
  HANDLE Open(const std::wstring& szPath, DWORD dwAccess) const {
    return options.fnOpenPath ? options.fnOpenPath(szPath, dwAccess) : OpenPath(szPath, dwAccess);
  }
  GUID hidGuid{};
  HANDLE hEvent = nullptr;           // auto-reset; set while events are queued
  HDEVNOTIFY hNotify = nullptr;      // registration on the caller's window
  std::thread notifier;              // owns the message-only window
  HWND hNotifierWindow = nullptr;    // written before the thread reports ready
  HDEVNOTIFY hNotifierRegistration = nullptr;  // used on the notifier thread only
  DWORD dwNotifierThread = 0;
  std::function<void(const DEVICE_EVENT&)> fnSink;

  std::mutex mutexQueue;
  std::deque<std::pair<EDeviceEvent, std::string>> queue;  // kind, folded path
  bool bDropped = false;

  std::mutex mutexIds;
  std::map<std::string, SDeviceIds> mapIds;  // folded path -> ids, since seen
  std::map<std::string, SUsbStrings> mapStrings;

  // Called on the notifier thread or the caller's window thread.
  bool Queue(uintptr_t wParam, intptr_t lParam) {
    if (wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) return false;
    if (lParam == 0) {
      Trace("***** Can't convert lParam to DEV_BROADCAST_DEVICEINTERFACE *****\n");
      return false;
    }
    std::string szPath;
    if (!ReadBroadcastInterfacePath(reinterpret_cast<const void*>(lParam), szPath)) return false;
    {
      std::lock_guard<std::mutex> lock(mutexQueue);
      if (queue.size() >= kMaxQueuedEvents) {
        bDropped = true;
        return false;
      }
      queue.emplace_back(
          wParam == DBT_DEVICEARRIVAL ? EDeviceEvent::Arrival : EDeviceEvent::Removal, szPath);
    }
    ::SetEvent(hEvent);
    return true;
  }

  void Remember(const std::string& szPath, SDeviceIds ids) {
    std::lock_guard<std::mutex> lock(mutexIds);
    mapIds[szPath] = ids;
  }

  bool Recall(const std::string& szPath, SDeviceIds& ids) {
    std::lock_guard<std::mutex> lock(mutexIds);
    const auto it = mapIds.find(szPath);
    if (it == mapIds.end()) return false;
    ids = it->second;
    return true;
  }

  void Forget(const std::string& szPath) {
    std::lock_guard<std::mutex> lock(mutexIds);
    mapIds.erase(szPath);
    mapStrings.erase(szPath);
  }

  SUsbStrings Strings(const std::string& szPath, HANDLE hDevice) {
    {
      std::lock_guard<std::mutex> lock(mutexIds);
      const auto it = mapStrings.find(szPath);
      if (it != mapStrings.end()) return it->second;
    }
    SUsbStrings strings;
    strings.szSerial = ReadUsbString(hDevice, ::HidD_GetSerialNumberString);
    strings.szProduct = ReadUsbString(hDevice, ::HidD_GetProductString);
    strings.szManufacturer = ReadUsbString(hDevice, ::HidD_GetManufacturerString);
    std::lock_guard<std::mutex> lock(mutexIds);
    mapStrings[szPath] = strings;
    return strings;
  }

  static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMessage, WPARAM wParam, LPARAM lParam) {
    if (uMessage == WM_NCCREATE) {
      const auto* pCreate = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      ::SetWindowLongPtrW(hWnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(pCreate->lpCreateParams));
    }
    auto* pImpl = reinterpret_cast<SImpl*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (uMessage == WM_DEVICECHANGE && pImpl != nullptr) {
      pImpl->Queue(wParam, lParam);
      return TRUE;
    }
    if (uMessage == kStopMessage) {
      if (pImpl != nullptr && pImpl->hNotifierRegistration != nullptr)
        ::UnregisterDeviceNotification(pImpl->hNotifierRegistration);
      ::DestroyWindow(hWnd);
      return 0;
    }
    if (uMessage == WM_DESTROY) {
      ::PostQuitMessage(0);
      return 0;
    }
    return ::DefWindowProcW(hWnd, uMessage, wParam, lParam);
  }

  // The notifier thread: window, registration and message loop, until
  // kStopMessage unregisters and destroys the window.
  void RunNotifier(std::promise<bool>& ready) {
    const HINSTANCE hInstance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &SImpl::WindowProc;
    windowClass.hInstance = hInstance;
    windowClass.lpszClassName = kWindowClass;
    // A second platform in the process finds the class registered already.
    if (!::RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      Trace("***** RegisterClassEx ERROR *****\n");
      ready.set_value(false);
      return;
    }
    const HWND hWnd = ::CreateWindowExW(0, kWindowClass, kWindowTitle, 0, 0, 0, 0, 0,
                                        HWND_MESSAGE, nullptr, hInstance, this);
    if (hWnd == nullptr) {
      Trace("***** CreateWindow ERROR *****\n");
      ready.set_value(false);
      return;
    }
    hNotifierRegistration = Register(hWnd);
    if (hNotifierRegistration == nullptr) {
      ::DestroyWindow(hWnd);
      ready.set_value(false);
      return;
    }
    hNotifierWindow = hWnd;
    dwNotifierThread = ::GetCurrentThreadId();
    ready.set_value(true);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
  }

  HDEVNOTIFY Register(HWND hWnd) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = hidGuid;
    const HDEVNOTIFY h = ::RegisterDeviceNotificationW(hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (h == nullptr)
      TraceFormat("hid: RegisterDeviceNotification failed: error %lu\n", ::GetLastError());
    return h;
  }

  bool StartNotifications() {
    hEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (hEvent == nullptr) return false;
    if (options.hNotifyWindow != nullptr) {
      hNotify = Register(static_cast<HWND>(options.hNotifyWindow));
      return hNotify != nullptr;
    }
    // The thread owns the promise: it may still be inside set_value() when
    // this thread wakes up and goes on.
    std::promise<bool> ready;
    std::future<bool> bReady = ready.get_future();
    notifier = std::thread([this, ready = std::move(ready)]() mutable { RunNotifier(ready); });
    if (bReady.get()) return true;
    notifier.join();
    return false;
  }

  void StopNotifications() {
    if (notifier.joinable()) {
      if (!::PostMessageW(hNotifierWindow, kStopMessage, 0, 0))
        ::PostThreadMessageW(dwNotifierThread, WM_QUIT, 0, 0);
      notifier.join();
    }
    if (hNotify != nullptr) ::UnregisterDeviceNotification(hNotify);
    hNotify = nullptr;
    if (hEvent != nullptr) ::CloseHandle(hEvent);
    hEvent = nullptr;
  }
};

CNativeHidPlatform::CNativeHidPlatform() : m_pImpl(std::make_unique<SImpl>()) {}

CWindowsHidPlatform::CWindowsHidPlatform(WINDOWS_HID_OPTIONS options) {
  m_pImpl->options = options;
  ::HidD_GetHidGuid(&m_pImpl->hidGuid);
  if (options.bHotPlug && !m_pImpl->StartNotifications()) {
    // Without notifications the library still works; the poll keeps the
    // device list current.
    m_pImpl->StopNotifications();
    Trace("hid: no device notifications, device list kept by polling\n");
  }
}

CNativeHidPlatform::~CNativeHidPlatform() {
  m_pImpl->StopNotifications();
}

bool CNativeHidPlatform::EnumerateHidCollections(std::vector<HID_COLLECTION_INFO>& vOut) {
  vOut.clear();
  const HDEVINFO hSet = ::SetupDiGetClassDevsW(&m_pImpl->hidGuid, nullptr, nullptr,
                                               DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (hSet == INVALID_HANDLE_VALUE) {
    TraceFormat("hid: SetupDiGetClassDevs failed: error %lu\n", ::GetLastError());
    return false;
  }
  std::vector<HID_COLLECTION_INFO> vFound;
  bool bOk = true;
  for (DWORD dwIndex = 0;; ++dwIndex) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!::SetupDiEnumDeviceInterfaces(hSet, nullptr, &m_pImpl->hidGuid, dwIndex, &data)) {
      const DWORD dwError = ::GetLastError();
      if (dwError != ERROR_NO_MORE_ITEMS) {
        TraceFormat("hid: SetupDiEnumDeviceInterfaces failed: error %lu\n", dwError);
        bOk = false;
      }
      break;
    }
    std::wstring szWidePath;
    if (!ReadInterfacePath(hSet, data, szWidePath)) {
      TraceFormat("hid: interface %lu skipped: no path (gone?), error %lu\n", dwIndex,
                  ::GetLastError());
      continue;
    }
    const std::string szPath = FoldDevicePath(Narrow(szWidePath.data(), szWidePath.size()));
    CHandle hDevice(m_pImpl->Open(szWidePath, GENERIC_READ | GENERIC_WRITE));
    if (!hDevice.Valid()) hDevice.Reset(m_pImpl->Open(szWidePath, 0));
    if (!hDevice.Valid()) {
      TraceFormat("hid: %s skipped: does not open (gone?), error %lu\n", szPath.c_str(),
                  ::GetLastError());
      continue;
    }
    SDeviceIds ids;
    HIDP_CAPS caps{};
    if (!ReadIds(hDevice.Get(), szPath, ids) || !ReadCaps(hDevice.Get(), caps)) {
      TraceFormat("hid: %s skipped: no attributes or caps, error %lu\n", szPath.c_str(),
                  ::GetLastError());
      continue;
    }
    m_pImpl->Remember(szPath, ids);
    HID_COLLECTION_INFO info;
    info.szPath = szPath;
    info.wVID = ids.wVID;
    info.wPID = ids.wPID;
    info.dwInputReportByteLength = caps.InputReportByteLength;
    info.dwOutputReportByteLength = caps.OutputReportByteLength;
    SUsbStrings strings = m_pImpl->Strings(szPath, hDevice.Get());
    info.szSerial = std::move(strings.szSerial);
    info.szProduct = std::move(strings.szProduct);
    info.szManufacturer = std::move(strings.szManufacturer);
    vFound.push_back(std::move(info));
  }
  ::SetupDiDestroyDeviceInfoList(hSet);
  if (!bOk) return false;
  vOut = std::move(vFound);
  return true;
}

std::unique_ptr<IHidDevice> CNativeHidPlatform::OpenCollection(const HID_COLLECTION_INFO& info) {
  const std::wstring szWidePath = Widen(info.szPath);
  if (szWidePath.empty()) return nullptr;
  CHandle hDevice(m_pImpl->Open(szWidePath, GENERIC_READ | GENERIC_WRITE));
  if (!hDevice.Valid()) {
    TraceFormat("hid: %s does not open: error %lu\n", info.szPath.c_str(), ::GetLastError());
    return nullptr;
  }
  SDeviceIds ids;
  HIDP_CAPS caps{};
  if (!ReadIds(hDevice.Get(), info.szPath, ids) || !ReadCaps(hDevice.Get(), caps)) {
    TraceFormat("hid: %s has no attributes or caps\n", info.szPath.c_str());
    return nullptr;
  }
  if (ids.wVID != info.wVID || ids.wPID != info.wPID) {
    TraceFormat("hid: %s now belongs to VID = 0x%.4X, PID = 0x%.4X\n", info.szPath.c_str(),
                ids.wVID, ids.wPID);
    return nullptr;
  }
  return std::make_unique<CWindowsHidDevice>(hDevice.Release(), info.szPath, caps);
}

bool CNativeHidPlatform::EnumerateUsbDeviceNames(std::vector<std::string>& vOut) {
  vOut.clear();
  std::vector<wchar_t> vList(kDosListChars, L'\0');
  const DWORD dwChars = ::QueryDosDeviceW(nullptr, vList.data(), kDosListChars);
  if (dwChars == 0) {
    TraceFormat("hid: QueryDosDevice failed: error %lu\n", ::GetLastError());
    return false;
  }
  vOut = UsbNamesFromDosDeviceList(vList.data(), dwChars < kDosListChars ? dwChars : kDosListChars);
  return true;
}

void CNativeHidPlatform::SetEventSink(std::function<void(const DEVICE_EVENT&)> fnSink) {
  m_pImpl->fnSink = std::move(fnSink);
}

NATIVE_EVENT CNativeHidPlatform::GetEventHandle() const {
  return m_pImpl->hEvent != nullptr ? m_pImpl->hEvent : kNoNativeEvent;
}

bool CWindowsHidPlatform::OnDeviceChangeMessage(uint32_t uMessage, uintptr_t wParam,
                                                intptr_t lParam) {
  if (uMessage != WM_DEVICECHANGE || m_pImpl->hEvent == nullptr) return false;
  return m_pImpl->Queue(wParam, lParam);
}

void CNativeHidPlatform::DispatchEvents() {
  std::deque<std::pair<EDeviceEvent, std::string>> queue;
  {
    std::lock_guard<std::mutex> lock(m_pImpl->mutexQueue);
    // A waiter may not have consumed the signal: what is queued now is
    // handled here, and a later event sets it again.
    if (m_pImpl->hEvent != nullptr) ::ResetEvent(m_pImpl->hEvent);
    queue.swap(m_pImpl->queue);
    if (m_pImpl->bDropped) Trace("hid: device events dropped, none dispatched for a while\n");
    m_pImpl->bDropped = false;
  }
  for (const auto& [eKind, szPath] : queue) {
    SDeviceIds ids;
    bool bKnown = ParseInterfacePathIds(szPath, ids.wVID, ids.wPID);
    if (eKind == EDeviceEvent::Removal) {
      SDeviceIds remembered;
      if (m_pImpl->Recall(szPath, remembered) && !bKnown) {
        ids = remembered;
        bKnown = true;
      }
      m_pImpl->Forget(szPath);
    } else if (!bKnown) {
      // A path without the ids (a Bluetooth device, say): ask the device.
      const std::wstring szWidePath = Widen(szPath);
      CHandle hDevice(szWidePath.empty() ? INVALID_HANDLE_VALUE : m_pImpl->Open(szWidePath, 0));
      bKnown = hDevice.Valid() && ReadIds(hDevice.Get(), szPath, ids);
    }
    if (!bKnown) {
      TraceFormat("hid: %s of %s without VID/PID ignored\n",
                  eKind == EDeviceEvent::Arrival ? "arrival" : "removal", szPath.c_str());
      continue;
    }
    if (eKind == EDeviceEvent::Arrival) m_pImpl->Remember(szPath, ids);
    BOARD_ID board;
    board.szPath = szPath;
    board.wVID = ids.wVID;
    board.wPID = ids.wPID;
    if (m_pImpl->fnSink) m_pImpl->fnSink({eKind, board});
  }
}

uint32_t CNativeHidPlatform::GetTickCount() {
  return ::GetTickCount();
}

void CNativeHidPlatform::Sleep(uint32_t dwMilliseconds) {
  if (dwMilliseconds != 0) ::Sleep(dwMilliseconds);
}

std::unique_ptr<IBoardLock> CNativeHidPlatform::OpenBoardLock(const std::string& szPath,
                                                               std::string& szError) {
  int nError = 0;
  std::unique_ptr<CNamedMutex> pLock = CNamedMutex::Create(BoardMutexName(szPath), {}, &nError);
  if (!pLock) szError = szPath + ": " + CNamedMutex::ErrorText(nError);
  return pLock;
}

}  // namespace USB42XX_MGR
