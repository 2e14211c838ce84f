#pragma once
// The device commands, registered by RegisterDeviceCommands
// (DeviceCommands.cpp); each reports failures through ctx.Fail.
#include <functional>
#include <string>

#include "CliApp.h"

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
