#pragma once
// The seam between the device library and the operating system. Everything
// the library needs from the platform goes through IHidPlatform: the HID
// collections with their report lengths, opening one, exchanging reports on
// the control channel, the present USB devices, hot-plug events, and time.
// Implementations: platform/linux (hidraw + libudev), the simulated chip in
// sim/, and platform/windows (HID.DLL + SetupAPI).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BoardId.h"
#include "BoardLock.h"
#include "NativeEvent.h"

namespace USB42XX_MGR {

// One top-level HID collection as the platform lists it. A USB interface can
// carry several top-level collections on one device node; each is listed on
// its own with the same path and its own index and report lengths, as Windows
// lists them, so that a collection can be chosen by its output report length.
struct HID_COLLECTION_INFO {
  std::string szPath;            // what OpenCollection() opens
  uint32_t nCollection = 0;      // index of the top-level collection on szPath
  uint16_t wVID = 0;
  uint16_t wPID = 0;
  // The largest report of that kind in bytes plus one byte for the report ID
  // (or the 0 byte when the collection uses no report IDs); 0 when the
  // collection has no report of that kind. Same rule as Windows' HIDP_CAPS.
  uint32_t dwInputReportByteLength = 0;
  uint32_t dwOutputReportByteLength = 0;
  // Where the board sits on the bus ("1-2.3": bus 1, hub port 2, port 3) and
  // its USB serial string; empty when the platform does not know them.
  std::string szUsbTopology;
  std::string szSerial;
  // The device's USB product and manufacturer strings (UTF-8); empty when
  // the platform does not read them.
  std::string szProduct;
  std::string szManufacturer;
};

// An open HID collection. Reports travel on the control channel as one unit,
// first byte the report ID (0x00 when the collection has no report IDs).
// Closing happens in the destructor.
class IHidDevice {
 public:
  virtual ~IHidDevice() = default;

  // Sends nLength bytes as one output report. Returns false when the
  // platform refuses it (stall, short transfer, device gone).
  virtual bool SetOutputReport(const uint8_t* pReport, size_t nLength) = 0;

  // Fetches one input report of nLength bytes into pReport; pReport[0] holds
  // the wanted report ID on entry. Returns false on any failure, including a
  // report shorter than nLength. Never writes past pReport[nLength - 1].
  virtual bool GetInputReport(uint8_t* pReport, size_t nLength) = 0;

  // True once the platform knows the device has left (the procedures then
  // answer -1, as for a device that does not open).
  virtual bool IsGone() const { return false; }
};

enum class EDeviceEvent { Arrival, Removal };

// A hot-plug notification about one board. Board.szPath is the path the
// enumeration gives it (empty when the platform cannot tell): a board swapped
// on one port keeps the path (and often the USB serial), so only the removal
// says it left. The ids are 0 when the platform could not read them.
struct DEVICE_EVENT {
  EDeviceEvent eKind = EDeviceEvent::Arrival;
  BOARD_ID Board;
};

// The names of the three system-wide mutexes of the pair-based facade, whose
// device searches run under the HID one; each board's own lock is
// OpenBoardLock's.
struct DEVICE_MUTEX_NAMES {
  const char* pszAudio;
  const char* pszHid;
  const char* pszSpeaker;
};

// The machine's boards: names shared with every program that uses them.
inline constexpr DEVICE_MUTEX_NAMES kBoardMutexNames = {
    "Global\\QRT_AudioMutex_{4E1B7C20-9A3D-4F5E-8C61-2B7D9E0A4F13}",
    "Global\\QRT_HidMutex_{7D2A9E41-3C5B-4A86-9F10-6E4B2C8D1A57}",
    "Global\\QRT_SpeakerMutex_{2C8F5A16-7E3D-4B92-A047-9D1E6B3F5C28}",
};

// Milliseconds from an arbitrary start, wrapping at 2^32, and a sleep of the
// calling thread: what a transfer waits on. The simulated platform runs both
// on a virtual clock.
class ITimeSource {
 public:
  virtual ~ITimeSource() = default;
  virtual uint32_t GetTickCount() = 0;
  virtual void Sleep(uint32_t dwMilliseconds) = 0;
};

class IHidPlatform : public ITimeSource {
 public:
  ~IHidPlatform() override = default;

  // The facade's mutex names on this platform: a platform whose boards are
  // not the machine's (the simulator's) has names of its own.
  virtual const DEVICE_MUTEX_NAMES& MutexNames() const { return kBoardMutexNames; }
  // True: the facade's mutexes are named mutexes in the lock folder, shared
  // with every program that uses the names. False: they lock within this
  // platform (OpenBoardLock by name), so a search never waits for another
  // program nor holds one up: boards that are not the machine's.
  virtual bool MutexesInLockFolder() const { return true; }

  // Lists the present HID collections in a stable enumeration order.
  // Returns false when the enumeration itself failed (vOut is then empty).
  virtual bool EnumerateHidCollections(std::vector<HID_COLLECTION_INFO>& vOut) = 0;

  // Opens a listed collection for reading and writing. Returns null when it
  // cannot be opened (gone, no permission, held exclusively).
  virtual std::unique_ptr<IHidDevice> OpenCollection(const HID_COLLECTION_INFO& info) = 0;

  // Names of the present USB devices, each of the form
  // "USB#VID_xxxx&PID_xxxx#<instance>". Returns false when the enumeration
  // failed.
  virtual bool EnumerateUsbDeviceNames(std::vector<std::string>& vOut) = 0;

  // Hot-plug. GetEventHandle() returns the OS object that is signalled while
  // events are pending (a descriptor polled readable on Linux, an event
  // handle on Windows), or kNoNativeEvent when the platform can deliver none;
  // the caller then relies on polling. DispatchEvents() hands every pending
  // event to the sink on the calling thread and never blocks.
  virtual void SetEventSink(std::function<void(const DEVICE_EVENT&)> fnSink) = 0;
  virtual NATIVE_EVENT GetEventHandle() const = 0;
  virtual void DispatchEvents() = 0;

  // The clock the transfers on the board at szPath wait on: the
  // platform's own, unless its boards each run on a clock of their own.
  virtual ITimeSource& TimeSourceOf(const std::string& /*szPath*/) { return *this; }

  // The lock of the board at szPath (not yet taken). The default locks
  // within this process only, by path; the machine's boards lock so that
  // every program sees it. Null with szError for the user when the lock
  // cannot be set up (the board is gone, its node does not open).
  virtual std::unique_ptr<IBoardLock> OpenBoardLock(const std::string& szPath,
                                                    std::string& szError);
};

}  // namespace USB42XX_MGR
