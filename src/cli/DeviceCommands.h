#pragma once
// The device commands, registered by RegisterDeviceCommands
// (DeviceCommands.cpp); each reports failures through ctx.Fail.
#include <string>

#include "CliApp.h"

namespace qrt::cli {

// The production run: every board gets a backup, a fresh serial, the base
// image with that serial, a verified write (rolled back on failure) and one
// synced log line.
struct CProgramOptions {
  std::string szImage;
  std::string szType;
  std::string szSerialFile;
  std::string szSerialStart;
  std::string szLog;
  bool bAll = false;
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
void RunProgram(CCliContext& ctx, const CDeviceOptions& o, const CProgramOptions& p);

}  // namespace qrt::cli
