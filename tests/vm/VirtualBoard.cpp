// qrt-vboard: the simulated QRT4250 as a real USB device. Inside a Linux
// system with a USB device controller (in the rig: dummy_hcd in a QEMU guest)
// it sets up a configfs gadget with one HID interface served through
// FunctionFS, and answers the host's reports with the same CSimChip the
// in-process simulator uses. The host side is then the kernel's own usbhid
// and hidraw, exactly as with a board on a cable.
//
//   qrt-vboard [--layout 0|1|2] [--out-endpoint] [--eeprom 24C02..24C16]
//              [--image FILE.bin] [--fault SPEC]... [--log FILE] [--save FILE]
//              [--name NAME] [--udc UDC] [--vid HEX] [--pid HEX]
//
// Control transfers: GET_DESCRIPTOR(Report), SET_IDLE, SET_REPORT(Output) and
// GET_REPORT(Input) on ep0. With --out-endpoint the interface also has an
// interrupt OUT endpoint, and the kernel then sends output reports there
// instead of SET_REPORT. The interrupt IN endpoint (usbhid needs one) never
// carries data: the chip answers input reports on the control pipe only.
//
// The report log is appended to --log as each report is handled (the format
// of qrt4250-cli --sim-log), so a caller can cut out one command's reports.
// The gadget runs until SIGTERM or SIGINT, then unbinds and removes itself.
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ImageFiles.h"
#include "RomDataMgr.h"
#include "SimChip.h"
#include "SimFaultOptions.h"
#include "SimReportLog.h"

namespace {

using qrt::sim::CSimChip;

constexpr size_t kMaxReport = 64;  // wMaxPacketSize; no report of the chip is longer
constexpr uint8_t kReportId = 1;   // the ID of layouts 1 and 2 (the probe asks for 1)

volatile sig_atomic_t g_bStop = 0;
void OnStop(int) {
  g_bStop = 1;
}
// Only interrupts a blocking read of the OUT endpoint.
void OnWake(int) {}

void Put16(std::vector<uint8_t>& v, unsigned n) {
  v.push_back(static_cast<uint8_t>(n));
  v.push_back(static_cast<uint8_t>(n >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t n) {
  Put16(v, n & 0xFFFF);
  Put16(v, n >> 16);
}
void Set32(std::vector<uint8_t>& v, size_t nAt, uint32_t n) {
  for (int i = 0; i < 4; ++i) v[nAt + i] = static_cast<uint8_t>(n >> (8 * i));
}

// Vendor page 0xFF00, 8-bit fields: one input and one output report of
// nBytes each, with report ID 1 when bIds.
std::vector<uint8_t> ReportDescriptor(uint8_t nBytes, bool bIds) {
  std::vector<uint8_t> v = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};
  if (bIds) v.insert(v.end(), {0x85, kReportId});
  v.insert(v.end(), {0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,   0x95, nBytes, 0x09,
                     0x02, 0x81, 0x02, 0x09, 0x03, 0x95, nBytes, 0x91, 0x02,   0xC0});
  return v;
}

bool WriteFile(const std::string& szPath, const std::string& szText) {
  std::ofstream file(szPath);
  file << szText;
  file.flush();
  if (!file) {
    std::cerr << "qrt-vboard: cannot write " << szPath << ": " << std::strerror(errno) << '\n';
    return false;
  }
  return true;
}

bool MakeDir(const std::string& szPath) {
  if (::mkdir(szPath.c_str(), 0755) == 0 || errno == EEXIST) return true;
  std::cerr << "qrt-vboard: mkdir " << szPath << ": " << std::strerror(errno) << '\n';
  return false;
}

bool FullWrite(int fd, const std::vector<uint8_t>& v) {
  const ssize_t n = ::write(fd, v.data(), v.size());
  return n == static_cast<ssize_t>(v.size());
}

struct SOptions {
  int nLayout = 0;
  bool bOutEndpoint = false;
  std::string szEeprom = "24C02";
  std::string szImage;
  std::vector<std::string> vFaults;
  std::string szLog;
  std::string szSave;
  std::string szName = "qrt";
  std::string szUdc;
  std::string szVid = "3A7C";
  std::string szPid = "4250";
};

class CVirtualBoard {
 public:
  explicit CVirtualBoard(const SOptions& o) : m_Options(o) {}
  ~CVirtualBoard() { TearDown(); }

  bool SetUp(const qrt::sim::SIM_CHIP_CONFIG& config, const qrt::sim::SIM_FAULTS& faults,
             const std::vector<uint8_t>& vSeed) {
    m_pChip = std::make_unique<CSimChip>(config, std::make_shared<qrt::sim::CSimClock>(true));
    m_pChip->SetEepromContents(vSeed.data(), vSeed.size());
    m_pChip->SetFaults(faults);
    m_vDescriptor =
        ReportDescriptor(static_cast<uint8_t>(m_pChip->ReportLength() - 1), m_Options.nLayout != 0);
    if (!m_Options.szLog.empty()) {
      m_pLog = std::fopen(m_Options.szLog.c_str(), "we");
      if (m_pLog == nullptr) {
        std::cerr << "qrt-vboard: cannot write " << m_Options.szLog << '\n';
        return false;
      }
    }
    return MakeGadget() && MountFunctionFs() && WriteDescriptors() && Bind();
  }

  // Serves ep0 until a stop signal. Returns false on a fatal error.
  bool Run() {
    if (m_Options.bOutEndpoint) m_OutThread = std::thread([this] { ServeOutEndpoint(); });
    bool bOk = true;
    int nErrors = 0;  // in a row
    while (!g_bStop) {
      pollfd pfd{m_fdEp0, POLLIN, 0};
      const int nReady = ::poll(&pfd, 1, 200);
      if (nReady < 0 && errno != EINTR) {
        bOk = false;
        break;
      }
      if (nReady <= 0) continue;
      usb_functionfs_event events[4];
      const ssize_t n = ::read(m_fdEp0, events, sizeof events);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        // A board stays plugged whatever the host does, so an error on ep0
        // is noted and the next request served. EIDRM: a request we had not
        // answered was overtaken by the next event and FunctionFS dropped
        // it. EL2HLT: an answer that failed because the host went (an
        // unbind mid-transfer) left the request pending, and this read
        // stalled it. Quitting on either unbound the gadget under usbhid's
        // probe ("can't add hid device: -71") or let it vanish before the
        // rig's rebind. Only an error that persists ends the gadget.
        Note(std::string("ep0: ") + std::strerror(errno));
        if (++nErrors >= 50) {
          bOk = false;
          break;
        }
        ::poll(nullptr, 0, 20);
        continue;
      }
      nErrors = 0;
      for (size_t i = 0; i < static_cast<size_t>(n) / sizeof events[0]; ++i) OnEvent(events[i]);
    }
    StopOutThread();
    return bOk;
  }

  // Rule violations the chip recorded (the host broke the protocol).
  size_t Violations() const { return m_pChip ? m_pChip->Violations().size() : 0; }

  void TearDown() {
    StopOutThread();
    if (m_bBound) WriteFile(m_szGadget + "/UDC", "\n");
    m_bBound = false;
    if (m_fdOut >= 0) ::close(m_fdOut);
    if (m_fdEp0 >= 0) ::close(m_fdEp0);
    m_fdOut = m_fdEp0 = -1;
    if (m_bMounted) ::umount(m_szMount.c_str());
    m_bMounted = false;
    if (!m_szGadget.empty()) {
      const std::string szFunction = "functions/ffs." + m_Options.szName;
      ::unlink((m_szGadget + "/configs/c.1/ffs." + m_Options.szName).c_str());
      for (const char* psz : {"/configs/c.1/strings/0x409", "/configs/c.1", "/strings/0x409", ""}) {
        if (*psz == '\0') ::rmdir((m_szGadget + "/" + szFunction).c_str());
        ::rmdir((m_szGadget + psz).c_str());
      }
      m_szGadget.clear();
    }
    if (m_pChip && m_pChip->ReportLog().size() > 1) {
      const auto& vLog = m_pChip->ReportLog();
      const double dMs = static_cast<double>(vLog.back().qwTimeUs - vLog.front().qwTimeUs) / 1000;
      std::printf("qrt-vboard: %zu reports, %.1f ms each\n", vLog.size(),
                  dMs / static_cast<double>(vLog.size() - 1));
    }
    if (m_pLog) std::fclose(m_pLog);
    m_pLog = nullptr;
    if (m_pChip && !m_Options.szSave.empty() && !m_pChip->SaveEeprom(m_Options.szSave))
      std::cerr << "qrt-vboard: cannot write " << m_Options.szSave << '\n';
    m_Options.szSave.clear();
  }

 private:
  bool MakeGadget() {
    const std::string szRoot = "/sys/kernel/config/usb_gadget";
    m_szGadget = szRoot + "/" + m_Options.szName;
    const std::string& g = m_szGadget;
    const std::string szFunction = g + "/functions/ffs." + m_Options.szName;
    if (!MakeDir(g) || !WriteFile(g + "/idVendor", "0x" + m_Options.szVid) ||
        !WriteFile(g + "/idProduct", "0x" + m_Options.szPid) ||
        !WriteFile(g + "/bcdDevice", "0x0100") || !WriteFile(g + "/bcdUSB", "0x0200") ||
        !MakeDir(g + "/strings/0x409") ||
        !WriteFile(g + "/strings/0x409/manufacturer", "QRT virtual board") ||
        !WriteFile(g + "/strings/0x409/product", "QRT4250 (simulated)") ||
        !WriteFile(g + "/strings/0x409/serialnumber", m_Options.szName) ||
        !MakeDir(g + "/configs/c.1") || !MakeDir(g + "/configs/c.1/strings/0x409") ||
        !WriteFile(g + "/configs/c.1/strings/0x409/configuration", "HID") ||
        !WriteFile(g + "/configs/c.1/MaxPower", "100") || !MakeDir(szFunction))
      return false;
    const std::string szLink = g + "/configs/c.1/ffs." + m_Options.szName;
    if (::symlink(szFunction.c_str(), szLink.c_str()) != 0 && errno != EEXIST) {
      std::cerr << "qrt-vboard: symlink " << szLink << ": " << std::strerror(errno) << '\n';
      return false;
    }
    return true;
  }

  bool MountFunctionFs() {
    m_szMount = "/run/qrt-vboard/" + m_Options.szName;
    if (!MakeDir("/run/qrt-vboard") || !MakeDir(m_szMount)) return false;
    if (::mount(m_Options.szName.c_str(), m_szMount.c_str(), "functionfs", 0, nullptr) != 0) {
      std::cerr << "qrt-vboard: mount functionfs: " << std::strerror(errno) << '\n';
      return false;
    }
    m_bMounted = true;
    m_fdEp0 = ::open((m_szMount + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
    if (m_fdEp0 < 0) {
      std::cerr << "qrt-vboard: open ep0: " << std::strerror(errno) << '\n';
      return false;
    }
    return true;
  }

  // Full- and high-speed descriptor sets: the interface, the 9-byte HID class
  // descriptor, interrupt IN and (optionally) interrupt OUT. Then one string.
  bool WriteDescriptors() {
    const uint8_t nEndpoints = m_Options.bOutEndpoint ? 2 : 1;
    std::vector<uint8_t> vSet;
    const auto addSet = [&](uint8_t btInterval) {
      vSet.insert(vSet.end(), {9, USB_DT_INTERFACE, 0, 0, nEndpoints, USB_CLASS_HID, 0, 0, 1});
      vSet.insert(vSet.end(), {9, 0x21, 0x11, 0x01, 0, 1, 0x22});
      Put16(vSet, static_cast<unsigned>(m_vDescriptor.size()));
      vSet.insert(vSet.end(), {7, USB_DT_ENDPOINT, 0x81, USB_ENDPOINT_XFER_INT});
      Put16(vSet, kMaxReport);
      vSet.push_back(btInterval);
      if (m_Options.bOutEndpoint) {
        vSet.insert(vSet.end(), {7, USB_DT_ENDPOINT, 0x02, USB_ENDPOINT_XFER_INT});
        Put16(vSet, kMaxReport);
        vSet.push_back(btInterval);
      }
    };
    const uint32_t dwCount = 2u + nEndpoints;
    std::vector<uint8_t> v;
    Put32(v, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    Put32(v, 0);  // length, below
    Put32(v, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    Put32(v, dwCount);
    Put32(v, dwCount);
    addSet(1);  // 1 ms at full speed
    addSet(4);  // 2^(4-1) x 125 us = 1 ms at high speed
    v.insert(v.end(), vSet.begin(), vSet.end());
    Set32(v, 4, static_cast<uint32_t>(v.size()));

    std::vector<uint8_t> s;
    const std::string szInterface = "QRT4250 vendor HID";
    Put32(s, FUNCTIONFS_STRINGS_MAGIC);
    Put32(s, 0);
    Put32(s, 1);  // strings per language
    Put32(s, 1);  // languages
    Put16(s, 0x0409);
    s.insert(s.end(), szInterface.begin(), szInterface.end());
    s.push_back(0);
    Set32(s, 4, static_cast<uint32_t>(s.size()));
    if (!FullWrite(m_fdEp0, v) || !FullWrite(m_fdEp0, s)) {
      std::cerr << "qrt-vboard: FunctionFS refused the descriptors: " << std::strerror(errno)
                << '\n';
      return false;
    }
    return true;
  }

  // FunctionFS creates the endpoint files once it has the descriptors; the
  // gadget may only be bound after that.
  bool Bind() {
    const std::string szLastEp = m_szMount + (m_Options.bOutEndpoint ? "/ep2" : "/ep1");
    for (int i = 0; i < 200 && ::access(szLastEp.c_str(), F_OK) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (m_Options.bOutEndpoint) {
      m_fdOut = ::open(szLastEp.c_str(), O_RDWR | O_CLOEXEC);
      if (m_fdOut < 0) {
        std::cerr << "qrt-vboard: open " << szLastEp << ": " << std::strerror(errno) << '\n';
        return false;
      }
    }
    std::string szUdc = m_Options.szUdc;
    if (szUdc.empty()) {
      // The first controller by name (dummy_udc.0 in the rig).
      std::error_code ec;
      for (const auto& entry : std::filesystem::directory_iterator("/sys/class/udc", ec)) {
        const std::string szName = entry.path().filename().string();
        if (szUdc.empty() || szName < szUdc) szUdc = szName;
      }
      if (szUdc.empty()) {
        std::cerr << "qrt-vboard: no USB device controller in /sys/class/udc\n";
        return false;
      }
    }
    if (!WriteFile(m_szGadget + "/UDC", szUdc)) return false;
    m_bBound = true;
    Note(m_Options.szName + " bound to " + szUdc);
    return true;
  }

  void OnEvent(const usb_functionfs_event& event) {
    static const char* const kNames[] = {"bind",  "unbind",  "enable", "disable",
                                         "setup", "suspend", "resume"};
    if (event.type != FUNCTIONFS_SETUP && event.type < std::size(kNames)) Note(kNames[event.type]);
    if (event.type == FUNCTIONFS_SETUP) OnSetup(event.u.setup);
  }

  // A line on stdout with the time since the start, for the rig's notes.
  void Note(const std::string& szText) const {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - m_Start);
    std::printf("qrt-vboard: %.3f %s\n", static_cast<double>(us.count()) / 1e6, szText.c_str());
    std::fflush(stdout);
  }

  // A control request. Any interrupt OUT data the host sent before it is
  // handed to the chip first, so the chip sees the reports in bus order.
  void OnSetup(const usb_ctrlrequest& setup) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    ParkOutThread(lock);
    const unsigned wValue = setup.wValue;
    const unsigned wLength = setup.wLength;
    const uint8_t btType = setup.bRequestType;
    uint8_t buffer[kMaxReport + 1] = {};
    const bool bIds = m_Options.nLayout != 0;
    const bool bReport = (btType & USB_TYPE_MASK) == USB_TYPE_CLASS &&
                         (setup.bRequest == 0x09 || setup.bRequest == 0x01);
    if (btType == (USB_DIR_IN | USB_RECIP_INTERFACE) && setup.bRequest == USB_REQ_GET_DESCRIPTOR &&
        (wValue >> 8) == 0x22) {
      const size_t n = std::min<size_t>(wLength, m_vDescriptor.size());
      Reply(std::vector<uint8_t>(m_vDescriptor.begin(), m_vDescriptor.begin() + n));
    } else if (btType == (USB_DIR_OUT | USB_TYPE_CLASS | USB_RECIP_INTERFACE) &&
               setup.bRequest == 0x0A) {  // SET_IDLE
      Acknowledge();
    } else if (btType == (USB_DIR_OUT | USB_TYPE_CLASS | USB_RECIP_INTERFACE) &&
               setup.bRequest == 0x09 && (wValue >> 8) == 2 && wLength > 0 &&
               wLength <= kMaxReport) {  // SET_REPORT(Output)
      // Without report IDs the wire carries the report without its 0 byte.
      uint8_t* pData = bIds ? buffer : buffer + 1;
      const ssize_t n = ::read(m_fdEp0, pData, wLength);
      if (n == static_cast<ssize_t>(wLength)) {
        m_pChip->HandleOutputReport(buffer, bIds ? wLength : wLength + 1u);
        FlushLog();
      }
    } else if (btType == (USB_DIR_IN | USB_TYPE_CLASS | USB_RECIP_INTERFACE) &&
               setup.bRequest == 0x01 && (wValue >> 8) == 1 && wLength > 0 &&
               wLength <= kMaxReport) {  // GET_REPORT(Input)
      buffer[0] = static_cast<uint8_t>(wValue & 0xFF);
      const size_t nReport = bIds ? wLength : wLength + 1u;
      const bool bOk = m_pChip->HandleInputReport(buffer, nReport);
      FlushLog();
      if (bOk)
        Reply(std::vector<uint8_t>(bIds ? buffer : buffer + 1, buffer + nReport));
      else
        Stall(true);
    } else {
      Stall((btType & USB_DIR_IN) != 0);
    }
    if (!bReport) {
      char sz[64];
      std::snprintf(sz, sizeof sz, "setup %.2X %.2X %.4X %.4X %.4X", btType, setup.bRequest, wValue,
                    unsigned(setup.wIndex), wLength);
      Note(sz);
    }
    ResumeOutThread();
  }

  void Reply(const std::vector<uint8_t>& v) {
    if (::write(m_fdEp0, v.data(), v.size()) < 0)
      Note(std::string("ep0 reply: ") + std::strerror(errno));
  }
  void Acknowledge() {
    uint8_t bt = 0;
    if (::read(m_fdEp0, &bt, 0) < 0) Note(std::string("ep0 status: ") + std::strerror(errno));
  }
  // FunctionFS halts ep0 when it is used in the wrong direction.
  void Stall(bool bIn) {
    uint8_t bt = 0;
    if (bIn)
      (void)!::read(m_fdEp0, &bt, 0);
    else
      (void)!::write(m_fdEp0, &bt, 0);
  }

  void FlushLog() {
    if (m_pLog == nullptr) return;
    const auto& vLog = m_pChip->ReportLog();
    qrt::sim::WriteReportLog(vLog, m_nLogged, m_pLog);
    m_nLogged = vLog.size();
  }

  // The OUT thread reads the endpoint without the lock. A request the host
  // has completed may not have reached the thread yet, so it is interrupted:
  // FunctionFS then either returns the data that arrived or dequeues the
  // empty request. Called with the lock held; returns with the thread parked.
  void ParkOutThread(std::unique_lock<std::mutex>& lock) {
    if (!m_OutThread.joinable()) return;
    m_bParkWanted = true;
    while (m_bInRead) {
      ::pthread_kill(m_OutThread.native_handle(), SIGUSR1);
      m_Changed.wait_for(lock, std::chrono::milliseconds(5));
    }
  }
  void ResumeOutThread() {
    m_bParkWanted = false;
    m_Changed.notify_all();
  }

  void ServeOutEndpoint() {
    uint8_t buffer[kMaxReport + 1] = {};
    const bool bIds = m_Options.nLayout != 0;
    std::unique_lock<std::mutex> lock(m_Mutex);
    while (!m_bOutStop) {
      m_Changed.wait(lock, [this] { return m_bOutStop || !m_bParkWanted; });
      if (m_bOutStop) break;
      m_bInRead = true;
      lock.unlock();
      uint8_t* pData = bIds ? buffer : buffer + 1;
      const ssize_t n = ::read(m_fdOut, pData, kMaxReport);
      const int nErr = errno;
      lock.lock();
      m_bInRead = false;
      if (n > 0) {
        buffer[0] = bIds ? buffer[0] : 0;
        m_pChip->HandleOutputReport(buffer, bIds ? static_cast<size_t>(n) : n + 1u);
        FlushLog();
      }
      m_Changed.notify_all();
      // Unbound or disabled: wait a moment before the next request.
      if (n < 0 && nErr != EINTR)
        m_Changed.wait_for(lock, std::chrono::milliseconds(20), [this] { return m_bOutStop; });
    }
  }

  void StopOutThread() {
    if (!m_OutThread.joinable()) return;
    {
      std::unique_lock<std::mutex> lock(m_Mutex);
      m_bOutStop = true;
      m_Changed.notify_all();
      while (m_bInRead) {
        ::pthread_kill(m_OutThread.native_handle(), SIGUSR1);
        m_Changed.wait_for(lock, std::chrono::milliseconds(5));
      }
    }
    m_OutThread.join();
  }

  SOptions m_Options;
  std::unique_ptr<CSimChip> m_pChip;
  std::vector<uint8_t> m_vDescriptor;
  std::string m_szGadget;
  std::string m_szMount;
  bool m_bMounted = false;
  bool m_bBound = false;
  int m_fdEp0 = -1;
  int m_fdOut = -1;
  FILE* m_pLog = nullptr;
  const std::chrono::steady_clock::time_point m_Start = std::chrono::steady_clock::now();
  size_t m_nLogged = 0;

  std::mutex m_Mutex;  // the chip, the log and the flags below
  std::condition_variable m_Changed;
  std::thread m_OutThread;
  bool m_bParkWanted = false;
  bool m_bInRead = false;
  bool m_bOutStop = false;
};

bool IsHexId(const std::string& sz) {
  return !sz.empty() && sz.size() <= 4 &&
         sz.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
  SOptions o;
  CLI::App app{"The simulated QRT4250 as a USB HID gadget (FunctionFS)"};
  app.add_option("--layout", o.nLayout, "Report layout 0, 1 or 2")->check(CLI::Range(0, 2));
  app.add_flag("--out-endpoint", o.bOutEndpoint, "Give the interface an interrupt OUT endpoint");
  app.add_option("--eeprom", o.szEeprom, "24C02, 24C04, 24C08 or 24C16");
  app.add_option("--image", o.szImage, "Seed the EEPROM from a .bin file");
  app.add_option("--fault", o.vFaults, "Faults and timing, as qrt4250-cli --sim-fault");
  app.add_option("--log", o.szLog, "Append the report log to FILE as reports arrive");
  app.add_option("--save", o.szSave, "Write the EEPROM to FILE at exit");
  app.add_option("--name", o.szName, "Gadget and FunctionFS instance name");
  app.add_option("--udc", o.szUdc, "USB device controller (default: the first)");
  app.add_option("--vid", o.szVid, "Vendor id (hex)");
  app.add_option("--pid", o.szPid, "Product id (hex)");
  CLI11_PARSE(app, argc, argv);

  if (!IsHexId(o.szVid) || !IsHexId(o.szPid) || o.szName.empty() ||
      o.szName.find_first_of("/ .") != std::string::npos) {
    std::cerr << "qrt-vboard: bad --vid, --pid or --name\n";
    return 2;
  }
  qrt::sim::SIM_CHIP_CONFIG config;
  config.nLayout = static_cast<uint8_t>(o.nLayout);
  config.dwEepromSize = qrt::image::RomSizeFromEepromType(o.szEeprom);
  if (config.dwEepromSize == 0) {
    std::cerr << "qrt-vboard: --eeprom must be 24C02, 24C04, 24C08 or 24C16\n";
    return 2;
  }
  qrt::sim::SIM_FAULTS faults;
  for (const std::string& szSpec : o.vFaults) {
    std::string szError;
    if (!qrt::sim::ParseSimFaultSpec(szSpec, faults, config, szError)) {
      std::cerr << "qrt-vboard: --fault: " << szError << '\n';
      return 2;
    }
  }
  // The same seed as qrt4250-cli --simulate: the built-in image, rest 0xFF.
  std::vector<uint8_t> vSeed(qrt::image::g_btDefaultImage,
                             qrt::image::g_btDefaultImage + qrt::image::kHeaderSize);
  if (!o.szImage.empty()) {
    vSeed.assign(qrt::image::kMaxImageSize, 0xFF);
    size_t n = 0;
    if (qrt::image::ReadBinFile(o.szImage, vSeed.data(), vSeed.size(), &n) != qrt::image::kReadOk) {
      std::cerr << "qrt-vboard: cannot read " << o.szImage << '\n';
      return 2;
    }
    vSeed.resize(n);
  }

  struct sigaction stop {};
  stop.sa_handler = OnStop;
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);
  struct sigaction wake {};
  wake.sa_handler = OnWake;  // no SA_RESTART: the blocking read must return
  sigaction(SIGUSR1, &wake, nullptr);

  CVirtualBoard board(o);
  if (!board.SetUp(config, faults, vSeed)) return 1;
  const bool bOk = board.Run();
  const size_t nViolations = board.Violations();
  board.TearDown();
  if (nViolations != 0) std::cerr << "qrt-vboard: " << nViolations << " protocol violations\n";
  return bOk ? 0 : 1;
}
