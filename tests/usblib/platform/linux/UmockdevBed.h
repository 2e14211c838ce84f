#pragma once
// A umockdev test bed with USB HID boards: a USB device, its HID interface,
// the HID device with its report descriptor and a hidraw node, plus an ioctl
// responder on the node that answers the hidraw requests the platform makes.
// Only meaningful inside umockdev-wrapper (the preload library redirects
// /sys, /dev and the netlink monitor into the bed).
#include <umockdev.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace USB42XX_MGR::test {

bool InsideUmockdev();

// Answers ioctls on one hidraw node. Runs on umockdev's worker thread while
// the caller is blocked in ioctl(2).
class CHidrawResponder {
 public:
  // Receives an output report; returns the number of bytes "sent" (the
  // report length for success) or -errno.
  using OutputFn = std::function<int(const uint8_t* pReport, size_t nLength)>;
  // Fills an input report (pReport[0] holds the requested ID on entry);
  // returns the number of bytes delivered or -errno.
  using InputFn = std::function<int(uint8_t* pReport, size_t nLength)>;

  CHidrawResponder(std::vector<uint8_t> vDescriptor, uint16_t wVID, uint16_t wPID);
  ~CHidrawResponder();
  CHidrawResponder(const CHidrawResponder&) = delete;
  CHidrawResponder& operator=(const CHidrawResponder&) = delete;

  void SetOutputFn(OutputFn fn);
  void SetInputFn(InputFn fn);
  // Refuse HIDIOCGRDESCSIZE / HIDIOCGRDESC (the platform then reads sysfs).
  void RefuseDescriptorRequests();
  // Answer HIDIOCGRAWINFO with these ids (a node reused by another device).
  void SetRawInfoIds(uint16_t wVID, uint16_t wPID);
  // Every later request fails with this errno (0: back to normal).
  void FailEverythingWith(int nErrno);

  // Number of HIDIOCSOUTPUT / HIDIOCGINPUT requests seen.
  int OutputCount() const;
  int InputCount() const;

  UMockdevIoctlBase* Handler() const { return m_pHandler; }

 private:
  static gboolean OnIoctl(UMockdevIoctlBase* pBase, UMockdevIoctlClient* pClient, gpointer pSelf);
  void Handle(UMockdevIoctlClient* pClient);

  mutable std::mutex m_Mutex;
  UMockdevIoctlBase* m_pHandler = nullptr;
  std::vector<uint8_t> m_vDescriptor;
  uint16_t m_wVID;
  uint16_t m_wPID;
  bool m_bRefuseDescriptor = false;
  int m_nFailErrno = 0;
  int m_nOutputs = 0;
  int m_nInputs = 0;
  OutputFn m_fnOutput;
  InputFn m_fnInput;
};

struct SBoard {
  std::string szUsbSysPath;     // /sys/devices/.../1-N
  std::string szHidrawSysPath;  // .../hidraw/hidrawK
  std::string szDevNode;        // /dev/hidrawK
  std::unique_ptr<CHidrawResponder> pResponder;
};

class CUmockdevBed {
 public:
  CUmockdevBed();
  ~CUmockdevBed();
  CUmockdevBed(const CUmockdevBed&) = delete;
  CUmockdevBed& operator=(const CUmockdevBed&) = delete;

  // Adds a board on USB port nPort with hidraw node nNode; bResponder attaches
  // an ioctl responder (without one, ioctls on the node fail like on a plain
  // file and the descriptor comes from sysfs). Returns the board, owned by
  // the bed. umockdev sends the "add" uevents of the new devices, so a
  // running monitor sees the board arrive.
  SBoard& AddBoard(int nPort, int nNode, uint16_t wVID, uint16_t wPID,
                   const std::vector<uint8_t>& vDescriptor, bool bResponder = true);

  // Makes the node answer ENODEV, sends the "remove" uevent of the hidraw
  // node, then deletes the board's whole sysfs tree and its node.
  void Unplug(SBoard& board);

  // The testbed's copy of a /dev path (for chmod).
  std::string BedPath(const std::string& szDevNode) const;

  UMockdevTestbed* Testbed() const { return m_pTestbed; }

 private:
  UMockdevTestbed* m_pTestbed = nullptr;
  std::vector<std::unique_ptr<SBoard>> m_vBoards;
};

// Waits (bounded, returns at once when ready) until fd is readable.
bool WaitReadable(int fd, int nTimeoutMs = 5000);

}  // namespace USB42XX_MGR::test
