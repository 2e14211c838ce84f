#pragma once
// The simulated platform: any number of USB devices, each with a simulated
// QRT4250 behind its vendor HID collection, optional extra collections with
// other report lengths, plug and unplug with hot-plug events, and the clock.
// Implements IHidPlatform, so the transport, report protocol and facade run
// unchanged on it.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "BoardLock.h"
#include "SimChip.h"
#include "SimClock.h"
#include "platform/EventObject.h"
#include "platform/HidPlatform.h"

namespace qrt::sim {

// A HID collection of a simulated device besides the chip's vendor
// collection. It lists with the device's VID/PID and these lengths, opens,
// and refuses every report.
struct SIM_EXTRA_COLLECTION {
  uint32_t dwInputReportByteLength = 0;
  uint32_t dwOutputReportByteLength = 0;
};

struct SIM_DEVICE_CONFIG {
  uint16_t wVID = 0x3A7C;
  uint16_t wPID = 0x4250;
  SIM_CHIP_CONFIG Chip;
  // Listed before the vendor collection, so collection selection is tested.
  std::vector<SIM_EXTRA_COLLECTION> vExtraCollections;
  uint32_t nUsbNames = 1;  // USB device names (interfaces) the device lists
  bool bPlugged = true;    // present at start
};

// Simulated boards are not the machine's: the facade's mutexes have names of
// their own and lock within the platform, so a simulated run never waits
// for another program nor holds one up (unless a test asks for the lock
// folder).
inline constexpr USB42XX_MGR::DEVICE_MUTEX_NAMES kSimMutexNames = {
    "Global\\QRT_SimAudioMutex_{4E1B7C20-9A3D-4F5E-8C61-2B7D9E0A4F13}",
    "Global\\QRT_SimHidMutex_{7D2A9E41-3C5B-4A86-9F10-6E4B2C8D1A57}",
    "Global\\QRT_SimSpeakerMutex_{2C8F5A16-7E3D-4B92-A047-9D1E6B3F5C28}",
};

class CSimPlatform : public USB42XX_MGR::IHidPlatform {
 public:
  // bMachineLocks: the facade's mutexes in the lock folder as on the
  // machine's boards (the tests of the window's lock states); otherwise
  // everything locks within this platform.
  explicit CSimPlatform(bool bRealTime = false, bool bMachineLocks = false);
  ~CSimPlatform() override;
  CSimPlatform(const CSimPlatform&) = delete;
  CSimPlatform& operator=(const CSimPlatform&) = delete;

  // From now on each device added runs on a clock of its own (the
  // transfers on it wait on that clock, see TimeSourceOf), so boards
  // programmed at once each take their own modelled time. Call it before
  // AddDevice; the platform's own clock stays the host's (lock waits, polls).
  void UseBoardClocks() { m_bBoardClocks = true; }
  // The modelled time of all the work so far: the host's clock plus every
  // board clock of its own (the sum of the boards' times, not the wall of
  // boards worked on at once).
  uint64_t ModelledUs() const;

  // Adds a device and returns its index. A device added plugged raises no
  // event (it was there before the host looked).
  size_t AddDevice(const SIM_DEVICE_CONFIG& config);
  size_t DeviceCount() const { return m_vDevices.size(); }
  CSimChip& Chip(size_t nIndex) { return *m_vDevices.at(nIndex).pChip; }
  const SIM_DEVICE_CONFIG& DeviceConfig(size_t nIndex) const {
    return m_vDevices.at(nIndex).Config;
  }
  bool IsPlugged(size_t nIndex) const;
  // The clock device nIndex runs on (the platform's unless UseBoardClocks).
  CSimClock& ClockOf(size_t nIndex) { return *m_vDevices.at(nIndex).pClock; }

  // Plug and unplug raise an arrival or removal event (the event object is
  // signalled until DispatchEvents).
  void Plug(size_t nIndex);
  void Unplug(size_t nIndex);

  CSimClock& Clock() { return *m_pClock; }
  std::shared_ptr<CSimClock> SharedClock() { return m_pClock; }

  // Makes the platform's enumerations fail, for the failure paths.
  void SetEnumerationFails(bool bFails) { m_bEnumerationFails = bFails; }

  // IHidPlatform
  const USB42XX_MGR::DEVICE_MUTEX_NAMES& MutexNames() const override { return kSimMutexNames; }
  bool MutexesInLockFolder() const override { return m_bMachineLocks; }
  bool EnumerateHidCollections(std::vector<USB42XX_MGR::HID_COLLECTION_INFO>& vOut) override;
  std::unique_ptr<USB42XX_MGR::IHidDevice> OpenCollection(
      const USB42XX_MGR::HID_COLLECTION_INFO& info) override;
  bool EnumerateUsbDeviceNames(std::vector<std::string>& vOut) override;
  void SetEventSink(std::function<void(const USB42XX_MGR::DEVICE_EVENT&)> fnSink) override;
  USB42XX_MGR::NATIVE_EVENT GetEventHandle() const override { return m_Event.Native(); }
  void DispatchEvents() override;
  uint32_t GetTickCount() override { return m_pClock->GetTickCount(); }
  void Sleep(uint32_t dwMilliseconds) override { m_pClock->Sleep(dwMilliseconds); }
  // Simulated boards are not the machine's: they lock within this platform
  // only, never waiting for a program that works on real boards.
  USB42XX_MGR::ITimeSource& TimeSourceOf(const std::string& szPath) override;
  std::unique_ptr<USB42XX_MGR::IBoardLock> OpenBoardLock(const std::string& szPath,
                                                         std::string& szError) override;

  // The board of device nIndex as the enumeration names it ("sim:1" for 0).
  USB42XX_MGR::BOARD_ID BoardOf(size_t nIndex) const;

 private:
  // A board clock as the transfers see it.
  class CBoardTime : public USB42XX_MGR::ITimeSource {
   public:
    explicit CBoardTime(std::shared_ptr<CSimClock> pClock) : m_pClock(std::move(pClock)) {}
    uint32_t GetTickCount() override { return m_pClock->GetTickCount(); }
    void Sleep(uint32_t dwMilliseconds) override { m_pClock->Sleep(dwMilliseconds); }

   private:
    std::shared_ptr<CSimClock> m_pClock;
  };
  struct SDevice {
    SIM_DEVICE_CONFIG Config;
    std::shared_ptr<CSimClock> pClock;
    std::shared_ptr<CSimChip> pChip;
    std::shared_ptr<CBoardTime> pTime;  // null on the platform's clock
    bool bPlugged = true;
  };
  // Calls fn with each plugged device and its index, under the lock. False
  // (fn never called) while enumeration is set to fail.
  bool ForEachPlugged(const std::function<void(size_t, const SDevice&)>& fn);
  // The device of a "sim:N" path; SIZE_MAX for any other.
  size_t IndexOfPath(const std::string& szPath) const;
  void PostEvent(USB42XX_MGR::EDeviceEvent eKind, size_t nIndex);

  std::shared_ptr<CSimClock> m_pClock;
  std::vector<SDevice> m_vDevices;
  std::deque<USB42XX_MGR::DEVICE_EVENT> m_qEvents;
  std::function<void(const USB42XX_MGR::DEVICE_EVENT&)> m_fnSink;
  USB42XX_MGR::CEventObject m_Event;
  USB42XX_MGR::CProcessLockTable m_Locks;
  bool m_bMachineLocks;
  bool m_bEnumerationFails = false;
  bool m_bBoardClocks = false;
  // Boards programmed at once list, open, unplug (a fault) and post events
  // from their threads: the plug states and the event queue are shared.
  mutable std::mutex m_Mutex;
};

}  // namespace qrt::sim
