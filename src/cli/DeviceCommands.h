#pragma once
// The device commands, registered by RegisterDeviceCommands
// (DeviceCommands.cpp); each reports failures through ctx.Fail.
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "CliApp.h"
#include "UsbHidMgr.h"

namespace qrt::sim {
class CSimPlatform;
}

namespace qrt::cli {

// The production run: every board gets a backup, a fresh serial, the base
// image with that serial, a verified write (rolled back on failure) and one
// synced log line.
struct CProgramOptions {
  std::string szImage;     // base image; empty: the built-in default image
  std::string szTemplate;  // applied to the base image
  std::string szType;
  std::string szSerialFile;
  std::string szSerialStart;
  std::string szLog;
  bool bAll = false;
  bool bWait = false;  // the station: each arriving board until interrupted
  bool bJson = false;  // one JSON document instead of the lines
};

// How program --wait waits.
struct STATION_HOOKS {
  // Longest wait for a hot-plug event; the period of the board search where
  // the platform delivers none.
  int nPollMs = 1000;
  // Asked before every wait with the simulated platform (null on real
  // boards); true ends the station as an interrupt does. Tests plug and
  // unplug boards here.
  std::function<bool(qrt::sim::CSimPlatform*)> fnBeforeWait;
};

// Which boards the station programs: each one once while it stays plugged.
// A board is its path and, where the platform has it, its USB serial
// string; unplugged and plugged again it is a new board.
class CStationBoards {
 public:
  // The boards of a fresh listing not programmed since they were last seen,
  // marked as programmed now. A board missing from a listing is forgotten
  // (the only sign of a replug where the platform has no hot-plug events).
  std::vector<USB42XX_MGR::BOARD_INFO> TakeNew(const std::vector<USB42XX_MGR::BOARD_INFO>& vListed);
  // The removal event of the board at szPath: that board is new when it is
  // listed again, even when it came back before the next listing.
  void Removed(const std::string& szPath);

 private:
  std::set<std::string> m_setDone;  // programmed and still plugged
};

// ListCommands.cpp
void RunList(CCliContext& ctx, const CDeviceOptions& o);
// TransferCommands.cpp; pszCommand is "write" or "restore" (a raw write of a backup).
void RunRead(CCliContext& ctx, const CDeviceOptions& o, const std::string& szType,
             const std::string& szOut);
void RunWrite(CCliContext& ctx, const CDeviceOptions& o, const std::string& szFile,
              const std::string& szType, const char* pszCommand);
void RunVerify(CCliContext& ctx, const CDeviceOptions& o, const std::string& szFile,
               const std::string& szType);
// ProgramCommand.cpp
void RunProgram(CCliContext& ctx, const CDeviceOptions& o, const CProgramOptions& p,
                const STATION_HOOKS& hooks = {});

}  // namespace qrt::cli
