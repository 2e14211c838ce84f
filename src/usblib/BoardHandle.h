#pragma once
// An opened board. OpenBoard takes the board's own lock, probes its chip and
// keeps its vendor collection open; the handle's calls are the register, I2C
// and EEPROM steps, and everything one transfer needs (device, layout, lock,
// the clock it sleeps on) is the handle's, so boards can be worked on at
// once, each through its own handle. Destroying the handle closes the
// device and gives the lock back.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BoardId.h"
#include "BoardLock.h"
#include "ReportProtocol.h"

namespace USB42XX_MGR {

class IHidDevice;
class IHidPlatform;
class ITimeSource;

// A device operation that could not have the lock within its wait.
constexpr int kDeviceLockNotHad = -2;

// How a board's lock is waited for.
struct BOARD_LOCK_WAIT {
  uint32_t dwTimeOutMs = UINT32_MAX;  // UINT32_MAX: no limit
  std::function<void(uint32_t)> fnSleep = DeviceLockSleep;
  DEVICE_LOCK_WAIT_CALLBACK fnWaiting;  // may be empty
};

enum class EBoardOpen {
  kOpen,
  kGone,         // no collection of the board is listed (unplugged)
  kLockFailed,   // the lock could not be set up
  kInUse,        // another program held the lock for the whole wait
  kProbeFailed,  // the chip did not answer the probe
};

struct BOARD_OPEN_RESULT {
  EBoardOpen eResult = EBoardOpen::kOpen;
  // For the user: "The device is in use: its lock ... is held by ...; gave
  // up after 1 s.", "chip id not read (layout 0, code 1004)", ...
  std::string szWhy;
  std::string szHolder;  // kInUse: who held the lock
};

class CBoardHandle {
 public:
  ~CBoardHandle();
  CBoardHandle(const CBoardHandle&) = delete;
  CBoardHandle& operator=(const CBoardHandle&) = delete;

  const BOARD_ID& Id() const { return m_Id; }
  uint8_t Layout() const { return m_btLayout; }
  // What the probe of OpenBoard found (0 for a handle opened by layout).
  uint16_t ChipId() const { return m_Probe.wChipId; }
  // The report ID the chip's register accesses use (0 for layout 0).
  uint8_t ReportIdFlag() const { return m_Probe.btReportIdFlag; }
  ITimeSource& Clock() { return m_Clock; }

  // Probes the chip again on this board (layouts 0, 2, 1): 0 with the
  // outputs, 1 when no layout answered (outputs unchanged).
  int GetChipInformation(uint16_t& wChipId, uint8_t& btReportId, uint32_t& dwOutputReportLength);

  // Reads the chip id in the handle's layout (protocol::ReadChipId).
  int ReadChipId(uint16_t& wChipId, uint8_t btReportId);
  // The register and I2C steps in the handle's layout; results as in
  // ReportProtocol.h, -1 when the board has left.
  int WriteRegister(uint16_t wAddress, const uint8_t* pData, uint8_t btLength,
                    uint8_t btReportId);
  int ReadRegister(uint16_t wAddress, uint8_t* pData, uint8_t btLength, uint8_t btReportId);
  int WriteI2C(uint8_t btMode, uint16_t wAddress, const uint8_t* pData, uint16_t wLength,
               uint32_t dwTimeOutMs, const I2C_PROGRESS_CALLBACK& fnProgress, uint32_t dwDelayMs,
               uint8_t btReportId);
  int ReadI2C(uint8_t btMode, uint16_t wAddress, uint8_t* pData, uint16_t wLength,
              uint32_t dwTimeOutMs, const I2C_PROGRESS_CALLBACK& fnProgress, uint32_t dwDelayMs,
              uint8_t btReportId);
  int ReadI2C_ByMode(uint8_t btSlaveAddress, uint8_t btWordAddress, int nAutoIncrement,
                     uint8_t btMode, uint8_t* pData, int nLength, uint32_t dwTimeOutMs,
                     uint32_t dwDelayMs, uint8_t btReportId);
  // Sleeps on the board's clock; 0 returns at once.
  void DelayMs(uint32_t dwMilliseconds);

 private:
  friend std::unique_ptr<CBoardHandle> OpenBoard(IHidPlatform&, const BOARD_ID&,
                                                 const BOARD_LOCK_WAIT&, BOARD_OPEN_RESULT&);
  friend std::unique_ptr<CBoardHandle> OpenBoardLayout(IHidPlatform&, uint16_t, uint16_t, uint8_t,
                                                       const BOARD_LOCK_WAIT&, BOARD_OPEN_RESULT&);
  CBoardHandle(IHidPlatform& platform, BOARD_ID id, std::unique_ptr<IBoardLock> pLock);
  protocol::REPORT_CHANNEL Channel();

  IHidPlatform& m_Platform;
  ITimeSource& m_Clock;
  BOARD_ID m_Id;
  std::unique_ptr<IBoardLock> m_pLock;  // held
  std::unique_ptr<IHidDevice> m_pDevice;
  uint8_t m_btLayout = 0;
  protocol::CHIP_PROBE m_Probe;
};

// Opens the board for transfers: takes its lock (waiting as given), probes
// its chip (layouts 0, 2, 1 on its collections) and keeps the answering
// collection open. A board id without a path means the first board of its
// pair. Null with result telling why.
std::unique_ptr<CBoardHandle> OpenBoard(IHidPlatform& platform, const BOARD_ID& id,
                                        const BOARD_LOCK_WAIT& wait, BOARD_OPEN_RESULT& result);

// The first collection of the pair whose output report length fits the
// layout and that opens, locked, without a probe: the per-call device
// operations of the pair-based functions. Null with result (kGone: none
// opened).
std::unique_ptr<CBoardHandle> OpenBoardLayout(IHidPlatform& platform, uint16_t wVID, uint16_t wPID,
                                              uint8_t btLayout, const BOARD_LOCK_WAIT& wait,
                                              BOARD_OPEN_RESULT& result);

struct BOARD_LIST_OPTIONS {
  // Also the boards whose probe failed (szProbeFailure set) that are still
  // listed after the probes; a board pulled out during its probe is not.
  bool bWithFailed = false;
  // How long each board's lock is waited for; a board whose lock is not had
  // is listed unprobed with szHeldBy.
  BOARD_LOCK_WAIT Lock = {0, DeviceLockSleep, {}};
};

// Every present board in enumeration order, one entry per path with a
// collection of a chip's report length: probed under its lock. False when
// the enumeration failed (vBoards is then empty).
bool ListBoards(IHidPlatform& platform, const BOARD_LIST_OPTIONS& options,
                std::vector<BOARD_INFO>& vBoards);

}  // namespace USB42XX_MGR
