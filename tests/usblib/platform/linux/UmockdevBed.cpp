#include "UmockdevBed.h"

#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace USB42XX_MGR::test {

bool InsideUmockdev() {
  const char* pszPreload = std::getenv("LD_PRELOAD");
  return pszPreload != nullptr && std::strstr(pszPreload, "umockdev-preload") != nullptr;
}

CHidrawResponder::CHidrawResponder(std::vector<uint8_t> vDescriptor, uint16_t wVID, uint16_t wPID)
    : m_vDescriptor(std::move(vDescriptor)), m_wVID(wVID), m_wPID(wPID) {
  m_pHandler = umockdev_ioctl_base_new();
  g_signal_connect(m_pHandler, "handle-ioctl", G_CALLBACK(&CHidrawResponder::OnIoctl), this);
}

CHidrawResponder::~CHidrawResponder() {
  g_object_unref(m_pHandler);
}

void CHidrawResponder::SetOutputFn(OutputFn fn) {
  std::lock_guard lock(m_Mutex);
  m_fnOutput = std::move(fn);
}

void CHidrawResponder::SetInputFn(InputFn fn) {
  std::lock_guard lock(m_Mutex);
  m_fnInput = std::move(fn);
}

void CHidrawResponder::RefuseDescriptorRequests() {
  std::lock_guard lock(m_Mutex);
  m_bRefuseDescriptor = true;
}

void CHidrawResponder::SetRawInfoIds(uint16_t wVID, uint16_t wPID) {
  std::lock_guard lock(m_Mutex);
  m_wVID = wVID;
  m_wPID = wPID;
}

void CHidrawResponder::FailEverythingWith(int nErrno) {
  std::lock_guard lock(m_Mutex);
  m_nFailErrno = nErrno;
}

int CHidrawResponder::OutputCount() const {
  std::lock_guard lock(m_Mutex);
  return m_nOutputs;
}

int CHidrawResponder::InputCount() const {
  std::lock_guard lock(m_Mutex);
  return m_nInputs;
}

gboolean CHidrawResponder::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* pClient,
                                   gpointer pSelf) {
  static_cast<CHidrawResponder*>(pSelf)->Handle(pClient);
  return TRUE;
}

void CHidrawResponder::Handle(UMockdevIoctlClient* pClient) {
  std::lock_guard lock(m_Mutex);
  const gulong ulRequest = umockdev_ioctl_client_get_request(pClient);
  UMockdevIoctlData* pArg = umockdev_ioctl_client_get_arg(pClient);
  const auto complete = [pClient](long nResult, int nErrno) {
    umockdev_ioctl_client_complete(pClient, nResult, nErrno);
  };
  const auto resolve = [pArg](size_t nLength) -> uint8_t* {
    UMockdevIoctlData* pData = umockdev_ioctl_data_resolve(pArg, 0, nLength, nullptr);
    return pData ? pData->data : nullptr;
  };
  const bool bExchange =
      _IOC_TYPE(ulRequest) == 'H' && (_IOC_NR(ulRequest) == 0x0A || _IOC_NR(ulRequest) == 0x0B);
  if (bExchange) ++(_IOC_NR(ulRequest) == 0x0B ? m_nOutputs : m_nInputs);
  if (m_nFailErrno != 0) return complete(-1, m_nFailErrno);

  if (ulRequest == HIDIOCGRDESCSIZE && !m_bRefuseDescriptor) {
    const int nSize = static_cast<int>(m_vDescriptor.size());
    std::memcpy(resolve(sizeof nSize), &nSize, sizeof nSize);
    return complete(0, 0);
  }
  if (ulRequest == HIDIOCGRDESC && !m_bRefuseDescriptor) {
    auto* pDescriptor =
        reinterpret_cast<hidraw_report_descriptor*>(resolve(sizeof(hidraw_report_descriptor)));
    if (pDescriptor->size > m_vDescriptor.size()) return complete(-1, EINVAL);
    std::memcpy(pDescriptor->value, m_vDescriptor.data(), pDescriptor->size);
    return complete(0, 0);
  }
  if (ulRequest == HIDIOCGRAWINFO) {
    hidraw_devinfo info{};
    info.bustype = 3;  // BUS_USB
    info.vendor = static_cast<int16_t>(m_wVID);
    info.product = static_cast<int16_t>(m_wPID);
    std::memcpy(resolve(sizeof info), &info, sizeof info);
    return complete(0, 0);
  }
  if (bExchange) {
    const size_t nLength = _IOC_SIZE(ulRequest);
    uint8_t* pReport = resolve(nLength);
    const bool bOutput = _IOC_NR(ulRequest) == 0x0B;
    int nResult = -EPIPE;  // nothing attached answers like a stalled endpoint
    if (bOutput && m_fnOutput) nResult = m_fnOutput(pReport, nLength);
    if (!bOutput && m_fnInput) nResult = m_fnInput(pReport, nLength);
    return nResult < 0 ? complete(-1, -nResult) : complete(nResult, 0);
  }
  complete(-1, ENOTTY);
}

CUmockdevBed::CUmockdevBed() : m_pTestbed(umockdev_testbed_new()) {}

CUmockdevBed::~CUmockdevBed() {
  for (auto& pBoard : m_vBoards) {
    if (pBoard->pResponder)
      umockdev_testbed_detach_ioctl(m_pTestbed, pBoard->szDevNode.c_str(), nullptr);
  }
  g_object_unref(m_pTestbed);
}

SBoard& CUmockdevBed::AddBoard(int nPort, int nNode, uint16_t wVID, uint16_t wPID,
                               const std::vector<uint8_t>& vDescriptor, bool bResponder) {
  auto pBoard = std::make_unique<SBoard>();
  char szBuf[512];
  std::snprintf(szBuf, sizeof szBuf, "/devices/pci0000:00/0000:00:14.0/usb1/1-%d", nPort);
  const std::string szUsb = szBuf;
  std::snprintf(szBuf, sizeof szBuf, "%s/1-%d:1.3", szUsb.c_str(), nPort);
  const std::string szInterface = szBuf;
  std::snprintf(szBuf, sizeof szBuf, "%s/0003:%04X:%04X.%04X", szInterface.c_str(), wVID, wPID,
                nNode + 1);
  const std::string szHid = szBuf;
  const std::string szHidraw = szHid + "/hidraw/hidraw" + std::to_string(nNode);
  std::string szHex;
  for (uint8_t b : vDescriptor) {
    std::snprintf(szBuf, sizeof szBuf, "%02X", b);
    szHex += szBuf;
  }
  std::string szDesc;
  std::snprintf(
      szBuf, sizeof szBuf,
      "P: %s\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=%04x\nA: idProduct=%04x\n\n",
      szUsb.c_str(), wVID, wPID);
  szDesc += szBuf;
  szDesc += "P: " + szInterface +
            "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceClass=03\n\n";
  std::snprintf(szBuf, sizeof szBuf, "P: %s\nE: SUBSYSTEM=hid\nE: HID_ID=0003:%08X:%08X\n",
                szHid.c_str(), wVID, wPID);
  szDesc += szBuf;
  szDesc += "H: report_descriptor=" + szHex + "\n\n";
  std::snprintf(szBuf, sizeof szBuf,
                "P: %s\nN: hidraw%d\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/hidraw%d\nE: MAJOR=240\n"
                "E: MINOR=%d\nA: dev=240:%d\n",
                szHidraw.c_str(), nNode, nNode, nNode, nNode);
  szDesc += szBuf;
  GError* pError = nullptr;
  if (!umockdev_testbed_add_from_string(m_pTestbed, szDesc.c_str(), &pError)) {
    std::string szMessage = pError ? pError->message : "unknown";
    if (pError) g_error_free(pError);
    throw std::runtime_error("umockdev_testbed_add_from_string: " + szMessage);
  }
  pBoard->szUsbSysPath = "/sys" + szUsb;
  pBoard->szHidrawSysPath = "/sys" + szHidraw;
  pBoard->szDevNode = "/dev/hidraw" + std::to_string(nNode);
  if (bResponder) {
    pBoard->pResponder = std::make_unique<CHidrawResponder>(vDescriptor, wVID, wPID);
    if (!umockdev_testbed_attach_ioctl(m_pTestbed, pBoard->szDevNode.c_str(),
                                       pBoard->pResponder->Handler(), nullptr))
      throw std::runtime_error("umockdev_testbed_attach_ioctl failed");
  }
  m_vBoards.push_back(std::move(pBoard));
  return *m_vBoards.back();
}

void CUmockdevBed::Unplug(SBoard& board) {
  // A node that is still open answers ENODEV from now on, as the kernel does;
  // the responder stays attached for it.
  if (board.pResponder) board.pResponder->FailEverythingWith(ENODEV);
  umockdev_testbed_uevent(m_pTestbed, board.szHidrawSysPath.c_str(), "remove");
  umockdev_testbed_remove_device(m_pTestbed, board.szUsbSysPath.c_str());
}

std::string CUmockdevBed::BedPath(const std::string& szDevNode) const {
  gchar* pszRoot = umockdev_testbed_get_root_dir(m_pTestbed);
  std::string szPath = std::string(pszRoot) + szDevNode;
  g_free(pszRoot);
  return szPath;
}

bool WaitReadable(int fd, int nTimeoutMs) {
  pollfd pfd{fd, POLLIN, 0};
  return ::poll(&pfd, 1, nTimeoutMs) == 1 && (pfd.revents & POLLIN) != 0;
}

}  // namespace USB42XX_MGR::test
