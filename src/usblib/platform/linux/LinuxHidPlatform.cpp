#include "LinuxHidPlatform.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string_view>

#include "HidReportDescriptor.h"
#include "NamedMutex.h"
#include "TextNumbers.h"
#include "Trace.h"

// Report exchanges on the control channel need kernel 5.11 headers or newer.
// Older headers lack the two requests; their numbers are fixed by the kernel ABI.
#ifndef HIDIOCGINPUT
#define HIDIOCGINPUT(len) _IOC(_IOC_WRITE | _IOC_READ, 'H', 0x0A, len)
#endif
#ifndef HIDIOCSOUTPUT
#define HIDIOCSOUTPUT(len) _IOC(_IOC_WRITE | _IOC_READ, 'H', 0x0B, len)
#endif
static_assert(HIDIOCGINPUT(5) == _IOC(_IOC_WRITE | _IOC_READ, 'H', 0x0A, 5));
static_assert(HIDIOCSOUTPUT(5) == _IOC(_IOC_WRITE | _IOC_READ, 'H', 0x0B, 5));

namespace USB42XX_MGR {
namespace {

using qrt::diag::TraceFormat;

// The ioctl size field has 14 bits.
constexpr size_t kMaxIoctlReportLength = (1u << _IOC_SIZEBITS) - 1;
// The kernel's HID_MAX_DESCRIPTOR_SIZE.
constexpr size_t kMaxDescriptorSize = 4096;

constexpr int kNodeOpenFlags = O_RDWR | O_NONBLOCK | O_CLOEXEC;

struct SUdevDeleter {
  void operator()(udev* p) const { udev_unref(p); }
  void operator()(udev_enumerate* p) const { udev_enumerate_unref(p); }
  void operator()(udev_device* p) const { udev_device_unref(p); }
  void operator()(udev_monitor* p) const { udev_monitor_unref(p); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, SUdevDeleter>;

// A sysfs id attribute: hex digits, perhaps with the line's newline.
bool ParseHex16(const char* psz, uint16_t& wValue) {
  if (psz == nullptr) return false;
  std::string_view sz(psz);
  while (!sz.empty() && (sz.back() == '\n' || sz.back() == ' ')) sz.remove_suffix(1);
  uint32_t dwValue = 0;
  if (!qrt::diag::ParseHex(sz, 0xFFFF, dwValue)) return false;
  wValue = static_cast<uint16_t>(dwValue);
  return true;
}

int IoctlRetry(int fd, unsigned long ulRequest, void* pArg) {
  int nResult;
  do {
    nResult = ::ioctl(fd, ulRequest, pArg);
  } while (nResult < 0 && errno == EINTR);
  return nResult;
}

void CloseFd(int fd) {
  if (fd >= 0) ::close(fd);
}

// Identity of a hidraw node, remembered so that a removal (whose sysfs
// entries are gone by then) can still be told apart.
struct SNodeIds {
  BOARD_ID Board;  // the node (szPath) and its ids: what an event names
};

// VID/PID of a hidraw device from its HID parent (HID_ID), else from its USB
// device parent.
bool ReadNodeIds(udev_device* pDevice, SNodeIds& ids) {
  const char* pszDevNode = udev_device_get_devnode(pDevice);
  ids.Board.szPath = pszDevNode ? pszDevNode : "";
  // Parents belong to the child device and are not unreferenced here.
  udev_device* pHid = udev_device_get_parent_with_subsystem_devtype(pDevice, "hid", nullptr);
  if (pHid &&
      ParseHidIdProperty(udev_device_get_property_value(pHid, "HID_ID"), ids.Board.wVID, ids.Board.wPID))
    return true;
  udev_device* pUsb = udev_device_get_parent_with_subsystem_devtype(pDevice, "usb", "usb_device");
  return pUsb && ParseHex16(udev_device_get_sysattr_value(pUsb, "idVendor"), ids.Board.wVID) &&
         ParseHex16(udev_device_get_sysattr_value(pUsb, "idProduct"), ids.Board.wPID);
}

// The USB device's bus-port name ("1-2.3") and serial string, when the node
// sits on USB. A serial of stray bytes is dropped rather than printed.
void ReadUsbPlace(udev_device* pDevice, HID_COLLECTION_INFO& info) {
  udev_device* pUsb = udev_device_get_parent_with_subsystem_devtype(pDevice, "usb", "usb_device");
  if (pUsb == nullptr) return;
  const char* pszName = udev_device_get_sysname(pUsb);
  if (pszName != nullptr) info.szUsbTopology = pszName;
  const char* pszSerial = udev_device_get_sysattr_value(pUsb, "serial");
  if (pszSerial == nullptr) return;
  std::string szSerial(pszSerial);
  if (szSerial.size() > 126) return;
  for (char c : szSerial) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return;
  }
  info.szSerial = std::move(szSerial);
}

// The report descriptor through the node, else from the HID parent's sysfs
// attribute (which does not need the node).
bool ReadReportDescriptor(int fd, udev_device* pDevice, std::vector<uint8_t>& vDescriptor) {
  vDescriptor.clear();
  int nSize = 0;
  if (fd >= 0 && IoctlRetry(fd, HIDIOCGRDESCSIZE, &nSize) == 0 && nSize > 0 &&
      static_cast<size_t>(nSize) <= HID_MAX_DESCRIPTOR_SIZE) {
    hidraw_report_descriptor descriptor{};
    descriptor.size = static_cast<uint32_t>(nSize);
    if (IoctlRetry(fd, HIDIOCGRDESC, &descriptor) == 0) {
      vDescriptor.assign(descriptor.value, descriptor.value + descriptor.size);
      return true;
    }
  }
  udev_device* pHid = udev_device_get_parent_with_subsystem_devtype(pDevice, "hid", nullptr);
  if (pHid == nullptr) return false;
  const char* pszSysPath = udev_device_get_syspath(pHid);
  if (pszSysPath == nullptr) return false;
  const std::string szFile = std::string(pszSysPath) + "/report_descriptor";
  FILE* pFile = std::fopen(szFile.c_str(), "rbe");
  if (pFile == nullptr) return false;
  vDescriptor.resize(kMaxDescriptorSize + 1);
  const size_t nRead = std::fread(vDescriptor.data(), 1, vDescriptor.size(), pFile);
  std::fclose(pFile);
  // More than the kernel's maximum means the attribute is not a descriptor.
  if (nRead == 0 || nRead > kMaxDescriptorSize) {
    vDescriptor.clear();
    return false;
  }
  vDescriptor.resize(nRead);
  return true;
}

void RealSleep(uint32_t dwMilliseconds) {
  timespec ts{static_cast<time_t>(dwMilliseconds / 1000),
              static_cast<long>(dwMilliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

class CHidrawDevice : public IHidDevice {
 public:
  CHidrawDevice(int fd, std::string szPath) : m_fd(fd), m_szPath(std::move(szPath)) {}
  ~CHidrawDevice() override { CloseFd(m_fd); }
  CHidrawDevice(const CHidrawDevice&) = delete;
  CHidrawDevice& operator=(const CHidrawDevice&) = delete;

  bool SetOutputReport(const uint8_t* pReport, size_t nLength) override {
    if (!Usable(pReport, nLength)) return false;
    // The request takes a writable buffer; the caller's report stays const.
    std::vector<uint8_t> vReport(pReport, pReport + nLength);
    const int nResult = IoctlRetry(m_fd, HIDIOCSOUTPUT(nLength), vReport.data());
    return Check(nResult, nLength, "HIDIOCSOUTPUT");
  }

  bool GetInputReport(uint8_t* pReport, size_t nLength) override {
    if (!Usable(pReport, nLength)) return false;
    const int nResult = IoctlRetry(m_fd, HIDIOCGINPUT(nLength), pReport);
    return Check(nResult, nLength, "HIDIOCGINPUT");
  }

  bool IsGone() const override { return m_bGone; }

 private:
  bool Usable(const void* p, size_t nLength) const {
    return !m_bGone && p != nullptr && nLength > 0 && nLength <= kMaxIoctlReportLength;
  }

  // A stall (EPIPE), an I/O error, a vanished device (ENODEV) and a short
  // transfer all fail the exchange; after ENODEV the node is not used again.
  bool Check(int nResult, size_t nLength, const char* pszRequest) {
    if (nResult < 0) {
      const int nErr = errno;
      if (nErr == ENODEV) m_bGone = true;
      TraceFormat("hidraw %s on %s failed: %s\n", pszRequest, m_szPath.c_str(),
                  std::strerror(nErr));
      return false;
    }
    if (static_cast<size_t>(nResult) != nLength) {
      TraceFormat("hidraw %s on %s: %d of %zu bytes\n", pszRequest, m_szPath.c_str(), nResult,
                  nLength);
      return false;
    }
    return true;
  }

  int m_fd;
  std::string m_szPath;
  bool m_bGone = false;
};

}  // namespace

std::string MakeUsbDeviceName(uint16_t wVID, uint16_t wPID, const std::string& szSysName) {
  char szIds[32];
  std::snprintf(szIds, sizeof szIds, "USB#VID_%04X&PID_%04X#", wVID, wPID);
  return szIds + szSysName;
}

bool ParseHidIdProperty(const char* pszHidId, uint16_t& wVID, uint16_t& wPID) {
  if (pszHidId == nullptr) return false;
  // "BBBB:VVVVVVVV:PPPPPPPP", hex fields.
  const std::string_view sz(pszHidId);
  const size_t nFirst = sz.find(':');
  const size_t nSecond = nFirst == std::string_view::npos ? nFirst : sz.find(':', nFirst + 1);
  if (nSecond == std::string_view::npos) return false;
  uint32_t dwBus = 0, dwVendor = 0, dwProduct = 0;
  if (!qrt::diag::ParseHex(sz.substr(0, nFirst), 0xFFFFFFFFu, dwBus) ||
      !qrt::diag::ParseHex(sz.substr(nFirst + 1, nSecond - nFirst - 1), 0xFFFF, dwVendor) ||
      !qrt::diag::ParseHex(sz.substr(nSecond + 1), 0xFFFF, dwProduct)) {
    return false;
  }
  wVID = static_cast<uint16_t>(dwVendor);
  wPID = static_cast<uint16_t>(dwProduct);
  return true;
}

struct CNativeHidPlatform::SImpl {
  LINUX_HID_OPTIONS options;
  UdevPtr<udev> pUdev;
  UdevPtr<udev_monitor> pMonitor;
  EUdevEventSource eSource = EUdevEventSource::None;
  std::function<void(const DEVICE_EVENT&)> fnSink;
  std::map<std::string, SNodeIds> mapNodes;  // syspath -> ids, since enumeration

  int Open(const char* pszPath) const {
    if (options.fnOpen) return options.fnOpen(pszPath, kNodeOpenFlags);
    return ::open(pszPath, kNodeOpenFlags);
  }

  void RetrySleep(uint32_t dwMilliseconds) const {
    if (options.fnRetrySleep)
      options.fnRetrySleep(dwMilliseconds);
    else
      RealSleep(dwMilliseconds);
  }

  // Walks the hidraw devices; fn(syspath, device) for each.
  template <typename Fn>
  bool ForEachHidraw(Fn fn) {
    if (!pUdev) return false;
    UdevPtr<udev_enumerate> pEnum(udev_enumerate_new(pUdev.get()));
    if (!pEnum || udev_enumerate_add_match_subsystem(pEnum.get(), "hidraw") < 0 ||
        udev_enumerate_scan_devices(pEnum.get()) < 0)
      return false;
    udev_list_entry* pEntry = nullptr;
    udev_list_entry_foreach(pEntry, udev_enumerate_get_list_entry(pEnum.get())) {
      const char* pszSysPath = udev_list_entry_get_name(pEntry);
      UdevPtr<udev_device> pDevice(udev_device_new_from_syspath(pUdev.get(), pszSysPath));
      if (pDevice) fn(std::string(pszSysPath), pDevice.get());
    }
    return true;
  }

  void StartMonitor() {
    EUdevEventSource eWanted = options.eEventSource;
    if (eWanted == EUdevEventSource::None || !pUdev) return;
    if (eWanted == EUdevEventSource::Auto)
      eWanted = ::access(options.szUdevControlPath.c_str(), F_OK) == 0 ? EUdevEventSource::Udev
                                                                       : EUdevEventSource::Kernel;
    const char* pszName = eWanted == EUdevEventSource::Udev ? "udev" : "kernel";
    UdevPtr<udev_monitor> pNew(udev_monitor_new_from_netlink(pUdev.get(), pszName));
    if (!pNew ||
        udev_monitor_filter_add_match_subsystem_devtype(pNew.get(), "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(pNew.get()) < 0) {
      TraceFormat("hidraw: no \"%s\" device monitor, device list kept by polling\n", pszName);
      return;
    }
    pMonitor = std::move(pNew);
    eSource = eWanted;
  }

  // After a kernel "add" udev may still be creating the node or setting its
  // permissions; give it a moment before the arrival is probed.
  void WaitForNode(const std::string& szDevNode) {
    if (eSource != EUdevEventSource::Kernel || szDevNode.empty()) return;
    for (uint32_t dwAttempt = 0; dwAttempt < options.dwArrivalOpenAttempts; ++dwAttempt) {
      const int fd = Open(szDevNode.c_str());
      if (fd >= 0) {
        CloseFd(fd);
        return;
      }
      if (dwAttempt + 1 < options.dwArrivalOpenAttempts) RetrySleep(options.dwArrivalRetryDelayMs);
    }
    TraceFormat("hidraw: %s not ready after arrival\n", szDevNode.c_str());
  }
};

CNativeHidPlatform::CNativeHidPlatform() : m_pImpl(std::make_unique<SImpl>()) {}

CLinuxHidPlatform::CLinuxHidPlatform(LINUX_HID_OPTIONS options) {
  m_pImpl->options = std::move(options);
  m_pImpl->pUdev.reset(udev_new());
  if (!m_pImpl->pUdev) {
    qrt::diag::Trace("hidraw: udev_new failed\n");
    return;
  }
  m_pImpl->StartMonitor();
  // Remember the ids of the nodes present now, for their later removal.
  m_pImpl->ForEachHidraw([this](const std::string& szSysPath, udev_device* pDevice) {
    SNodeIds ids;
    if (ReadNodeIds(pDevice, ids)) m_pImpl->mapNodes[szSysPath] = ids;
  });
}

CNativeHidPlatform::~CNativeHidPlatform() = default;

bool CNativeHidPlatform::EnumerateHidCollections(std::vector<HID_COLLECTION_INFO>& vOut) {
  vOut.clear();
  std::vector<HID_COLLECTION_INFO> vFound;
  const bool bOk = m_pImpl->ForEachHidraw([&](const std::string& szSysPath, udev_device* pDevice) {
    SNodeIds ids;
    if (!ReadNodeIds(pDevice, ids) || ids.Board.szPath.empty()) return;
    m_pImpl->mapNodes[szSysPath] = ids;
    // Like the Windows search, a node that cannot be opened is passed over.
    const int fd = m_pImpl->Open(ids.Board.szPath.c_str());
    if (fd < 0) {
      TraceFormat("hidraw: %s skipped: %s\n", ids.Board.szPath.c_str(), std::strerror(errno));
      return;
    }
    std::vector<uint8_t> vDescriptor;
    const bool bHaveDescriptor = ReadReportDescriptor(fd, pDevice, vDescriptor);
    CloseFd(fd);
    std::vector<HID_TOP_COLLECTION> vCollections;
    if (!bHaveDescriptor) {
      TraceFormat("hidraw: %s skipped: no report descriptor\n", ids.Board.szPath.c_str());
      return;
    }
    const EHidDescriptorStatus eStatus =
        ParseHidReportDescriptor(vDescriptor.data(), vDescriptor.size(), vCollections);
    if (eStatus != EHidDescriptorStatus::Ok) {
      TraceFormat("hidraw: %s skipped: report descriptor fault %d\n", ids.Board.szPath.c_str(),
                  static_cast<int>(eStatus));
      return;
    }
    for (size_t i = 0; i < vCollections.size(); ++i) {
      HID_COLLECTION_INFO info;
      info.szPath = ids.Board.szPath;
      info.nCollection = static_cast<uint32_t>(i);
      info.wVID = ids.Board.wVID;
      info.wPID = ids.Board.wPID;
      info.dwInputReportByteLength = vCollections[i].dwInputReportByteLength;
      info.dwOutputReportByteLength = vCollections[i].dwOutputReportByteLength;
      ReadUsbPlace(pDevice, info);
      m_pImpl->mapNodes[szSysPath].Board.szUsbSerial = info.szSerial;
      m_pImpl->mapNodes[szSysPath].Board.szUsbTopology = info.szUsbTopology;
      vFound.push_back(std::move(info));
    }
  });
  if (!bOk) return false;
  vOut = std::move(vFound);
  return true;
}

std::unique_ptr<IHidDevice> CNativeHidPlatform::OpenCollection(const HID_COLLECTION_INFO& info) {
  if (info.szPath.empty()) return nullptr;
  const int fd = m_pImpl->Open(info.szPath.c_str());
  if (fd < 0) return nullptr;
  // The node may have been handed to another device since it was listed.
  hidraw_devinfo devinfo{};
  if (IoctlRetry(fd, HIDIOCGRAWINFO, &devinfo) == 0 &&
      (static_cast<uint16_t>(devinfo.vendor) != info.wVID ||
       static_cast<uint16_t>(devinfo.product) != info.wPID)) {
    TraceFormat("hidraw: %s now belongs to VID = 0x%.4X, PID = 0x%.4X\n", info.szPath.c_str(),
                static_cast<uint16_t>(devinfo.vendor), static_cast<uint16_t>(devinfo.product));
    CloseFd(fd);
    return nullptr;
  }
  return std::make_unique<CHidrawDevice>(fd, info.szPath);
}

bool CNativeHidPlatform::EnumerateUsbDeviceNames(std::vector<std::string>& vOut) {
  vOut.clear();
  if (!m_pImpl->pUdev) return false;
  udev* pUdev = m_pImpl->pUdev.get();
  UdevPtr<udev_enumerate> pEnum(udev_enumerate_new(pUdev));
  if (!pEnum || udev_enumerate_add_match_subsystem(pEnum.get(), "usb") < 0 ||
      udev_enumerate_add_match_property(pEnum.get(), "DEVTYPE", "usb_device") < 0 ||
      udev_enumerate_scan_devices(pEnum.get()) < 0)
    return false;
  udev_list_entry* pEntry = nullptr;
  udev_list_entry_foreach(pEntry, udev_enumerate_get_list_entry(pEnum.get())) {
    UdevPtr<udev_device> pDevice(
        udev_device_new_from_syspath(pUdev, udev_list_entry_get_name(pEntry)));
    if (!pDevice) continue;
    uint16_t wVID = 0;
    uint16_t wPID = 0;
    const char* pszSysName = udev_device_get_sysname(pDevice.get());
    if (pszSysName == nullptr ||
        !ParseHex16(udev_device_get_sysattr_value(pDevice.get(), "idVendor"), wVID) ||
        !ParseHex16(udev_device_get_sysattr_value(pDevice.get(), "idProduct"), wPID))
      continue;
    vOut.push_back(MakeUsbDeviceName(wVID, wPID, pszSysName));
  }
  return true;
}

void CNativeHidPlatform::SetEventSink(std::function<void(const DEVICE_EVENT&)> fnSink) {
  m_pImpl->fnSink = std::move(fnSink);
}

NATIVE_EVENT CNativeHidPlatform::GetEventHandle() const {
  return m_pImpl->pMonitor ? udev_monitor_get_fd(m_pImpl->pMonitor.get()) : kNoNativeEvent;
}

void CNativeHidPlatform::DispatchEvents() {
  if (!m_pImpl->pMonitor) return;
  // Collect first: the sink may enumerate (and so touch the node map).
  std::vector<DEVICE_EVENT> vEvents;
  for (;;) {
    UdevPtr<udev_device> pDevice(udev_monitor_receive_device(m_pImpl->pMonitor.get()));
    if (!pDevice) break;  // nothing pending (the monitor socket is non-blocking)
    const char* pszAction = udev_device_get_action(pDevice.get());
    const char* pszSysPath = udev_device_get_syspath(pDevice.get());
    if (pszAction == nullptr || pszSysPath == nullptr) continue;
    const std::string szSysPath = pszSysPath;
    if (std::strcmp(pszAction, "add") == 0) {
      SNodeIds ids;
      if (!ReadNodeIds(pDevice.get(), ids)) {
        TraceFormat("hidraw: arrival of %s without VID/PID ignored\n", pszSysPath);
        continue;
      }
      HID_COLLECTION_INFO place;
      ReadUsbPlace(pDevice.get(), place);
      ids.Board.szUsbSerial = place.szSerial;
      ids.Board.szUsbTopology = place.szUsbTopology;
      m_pImpl->mapNodes[szSysPath] = ids;
      m_pImpl->WaitForNode(ids.Board.szPath);
      vEvents.push_back({EDeviceEvent::Arrival, ids.Board});
    } else if (std::strcmp(pszAction, "remove") == 0) {
      const auto it = m_pImpl->mapNodes.find(szSysPath);
      if (it == m_pImpl->mapNodes.end()) {
        TraceFormat("hidraw: removal of unknown %s ignored\n", pszSysPath);
        continue;
      }
      vEvents.push_back({EDeviceEvent::Removal, it->second.Board});
      m_pImpl->mapNodes.erase(it);
    }
  }
  for (const DEVICE_EVENT& event : vEvents) {
    if (m_pImpl->fnSink) m_pImpl->fnSink(event);
  }
}

uint32_t CNativeHidPlatform::GetTickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t qwMs =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(qwMs);
}

void CNativeHidPlatform::Sleep(uint32_t dwMilliseconds) {
  if (dwMilliseconds != 0) RealSleep(dwMilliseconds);
}

std::unique_ptr<IBoardLock> CNativeHidPlatform::OpenBoardLock(const std::string& szPath,
                                                             std::string& szError) {
  const int fd = szPath.empty() ? -1 : m_pImpl->Open(szPath.c_str());
  if (fd < 0) {
    szError = szPath + ": " + std::strerror(szPath.empty() ? ENOENT : errno);
    return nullptr;
  }
  int nError = 0;
  std::unique_ptr<CNamedMutex> pLock = CNamedMutex::OnOpenFile(fd, szPath, &nError);
  if (!pLock) szError = szPath + ": " + CNamedMutex::ErrorText(nError);
  return pLock;
}

EUdevEventSource CLinuxHidPlatform::GetEventSource() const {
  return m_pImpl->eSource;
}

}  // namespace USB42XX_MGR
