#pragma once
// The options of the device commands and what the engine takes from them:
// the simulator's options, the board choice, the transfer settings and the
// wait for a board's lock.
#include <cstdint>
#include <string>
#include <vector>

#include "BoardHandle.h"
#include "DevicePlatform.h"
#include "EepromProcedure.h"
#include "SimSetup.h"

namespace CLI {
class App;
}

namespace qrt::cli {

struct CCliContext;

struct CDeviceOptions {
  std::string szDevice;
  std::string szPath;
  uint32_t dwReadTimeOut = 128;
  uint32_t dwReadDelay = 5;
  uint32_t dwWriteTimeOut = 128;
  uint32_t dwWriteDelay = 5;
  std::string szI2CSpeed = "20";
  bool bSimulate = false;
  qrt::transfer::SIM_OPTIONS Sim;
  uint32_t dwLockTimeOut = 60;  // seconds
  // read, write and verify only (--json: list too)
  std::string szProfile = "default";
  uint32_t dwWriteCycleMs = 5;
  bool bJson = false;
  // read and write: the EEPROM bytes as they are, no signature or re-encoding
  bool bRaw = false;
  // write and restore
  std::string szBackup;
  bool bNoBackup = false;
  bool bNoRollback = false;
};

// The options of every device command, of read/write/verify/restore/program
// (profile, write cycle, --json) and of the commands that take a backup.
void AddDeviceOptions(CLI::App* pCommand, CDeviceOptions& o);
void AddTransferOptions(CLI::App* pCommand, CDeviceOptions& o);
void AddBackupOptions(CLI::App* pCommand, CDeviceOptions& o);

// --path and --device as a board choice. False (message written) when
// --device is not VID:PID in hex.
bool BoardChoiceOf(CCliContext& ctx, const CDeviceOptions& o, qrt::transfer::BOARD_CHOICE& choice);

// The timing, speed and profile options as transfer settings (the chip's
// own report-ID need is set once the board is open). False (message
// written) when --i2c-speed is not a hex byte.
bool TransferSettingsOf(CCliContext& ctx, const CDeviceOptions& o,
                        USB42XX_MGR::EEPROM_TRANSFER_SETTINGS& settings);

// The wait for a board's lock: --lock-timeout, real time, and one line on
// stderr once the holder is known.
USB42XX_MGR::BOARD_LOCK_WAIT LockWaitOf(CCliContext& ctx, const CDeviceOptions& o);

}  // namespace qrt::cli
