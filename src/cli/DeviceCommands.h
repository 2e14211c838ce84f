#pragma once
// The device commands, registered by RegisterDeviceCommands
// (DeviceCommands.cpp); each reports failures through ctx.Fail.
#include <string>

#include "CliApp.h"
#include "Production.h"
#include "Station.h"

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

// How program --wait waits; the station's memory of its boards.
using STATION_HOOKS = qrt::transfer::STATION_HOOKS;
using CStationBoards = qrt::transfer::CStationBoards;

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
