// Device commands: list, read, write, restore, verify, program. They drive
// the device library exactly as the window does (probe search after
// SetCheckDeviceId(0), the shared read and write procedures) and go through
// CImageSession for every image accepted or written. --simulate runs them on
// an in-process simulated chip. This file registers them; the commands live
// in ListCommands.cpp, TransferCommands.cpp and ProgramCommand.cpp, what they
// share in DeviceSession.cpp.
#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <string>

#include "CliApp.h"
#include "DeviceCommands.h"
#include "DeviceSession.h"

namespace qrt::cli {

namespace {

// write and restore: a file to the EEPROM under a backup, read back and
// compared. fnOwnFlags adds the command's own flags after --eeprom.
void AddWriteCommand(CLI::App& app, CCliContext& ctx, const char* pszName, const char* pszHelp,
                     const char* pszFileName, const char* pszFileHelp,
                     const std::function<void(CLI::App&, CDeviceOptions&)>& fnOwnFlags) {
  auto pOptions = std::make_shared<CDeviceOptions>();
  auto pFile = std::make_shared<std::string>();
  auto pType = std::make_shared<std::string>();
  CLI::App* pCmd = app.add_subcommand(pszName, pszHelp);
  pCmd->add_option(pszFileName, *pFile, pszFileHelp)->required();
  pCmd->add_option("--eeprom", *pType, "EEPROM type (default: the file's size)");
  fnOwnFlags(*pCmd, *pOptions);
  AddDeviceOptions(pCmd, *pOptions);
  AddTransferOptions(pCmd, *pOptions);
  AddBackupOptions(pCmd, *pOptions);
  AddWriteAllOption(pCmd, *pOptions);
  pCmd->callback([&ctx, pOptions, pFile, pType, pszName] {
    RunWrite(ctx, *pOptions, *pFile, *pType, pszName);
  });
}

}  // namespace

void RegisterDeviceCommands(CLI::App& app, CCliContext& ctx) {
  // The options live as long as the app's parse; one set per command.
  auto pList = std::make_shared<CDeviceOptions>();
  CLI::App* pListCmd = app.add_subcommand("list", "List the present devices (chip probe)");
  AddDeviceOptions(pListCmd, *pList);
  pListCmd->add_flag("--json", pList->bJson, "Print one JSON document");
  pListCmd->callback([&ctx, pList] { RunList(ctx, *pList); });

  auto pRead = std::make_shared<CDeviceOptions>();
  auto pReadType = std::make_shared<std::string>();
  auto pReadOut = std::make_shared<std::string>();
  CLI::App* pReadCmd = app.add_subcommand("read", "Read the EEPROM into a .bin/.hex file");
  pReadCmd->add_option("--eeprom", *pReadType, "EEPROM type: 24C02, 24C04, 24C08 or 24C16")
      ->required();
  pReadCmd->add_option("-o,--output", *pReadOut, "Output file (.bin or .hex)")->required();
  pReadCmd->add_flag("--raw", pRead->bRaw,
                     "Save the bytes as they are, even without the signature");
  AddDeviceOptions(pReadCmd, *pRead);
  AddTransferOptions(pReadCmd, *pRead);
  pReadCmd->callback(
      [&ctx, pRead, pReadType, pReadOut] { RunRead(ctx, *pRead, *pReadType, *pReadOut); });

  AddWriteCommand(app, ctx, "write", "Write an image file to the EEPROM, read it back and compare",
                  "file", "Image file (.bin or .hex)", [](CLI::App& cmd, CDeviceOptions& o) {
                    cmd.add_flag(
                        "--raw", o.bRaw,
                        "Write the file's bytes as they are (256, 512, 1024 or 2048 bytes)");
                    cmd.add_flag("--no-rollback", o.bNoRollback,
                                 "Leave a failed write as it is instead of writing the backup back");
                  });
  AddWriteCommand(app, ctx, "restore",
                  "Write a backup back to the EEPROM as it is, read it back and compare", "backup",
                  "Backup file (.bin or .hex, raw)", [](CLI::App&, CDeviceOptions&) {});

  auto pProgram = std::make_shared<CDeviceOptions>();
  auto pProgramOpts = std::make_shared<CProgramOptions>();
  CLI::App* pProgramCmd = app.add_subcommand(
      "program", "Production: backup, serial, write and verify, rollback and a log line per board");
  pProgramCmd->add_option("--image", pProgramOpts->szImage,
                          "Base image (.bin or .hex; default: the built-in default image)");
  pProgramCmd->add_option("--template", pProgramOpts->szTemplate,
                          "Template applied to the base image (JSON, as template export writes)");
  pProgramCmd->add_option("--serial-file", pProgramOpts->szSerialFile,
                          "Counter file holding the next serial (12 hex digits)");
  pProgramCmd->add_option("--serial-start", pProgramOpts->szSerialStart,
                          "Create the counter file with this serial when it is missing");
  pProgramCmd->add_option("--log", pProgramOpts->szLog, "Production log (JSON lines, appended)")
      ->required();
  pProgramCmd->add_flag("--all", pProgramOpts->bAll, "Program every present board (at once, up to --jobs)");
  pProgramCmd->add_flag("--wait", pProgramOpts->bWait,
                        "Station: program each board as it is plugged in, until Ctrl+C");
  pProgramCmd->add_option("--eeprom", pProgramOpts->szType, "EEPROM type (default: the image's size)");
  pProgramCmd->add_option("--serial-end", pProgramOpts->szSerialEnd,
                          "The work order's last serial: none is taken past it");
  pProgramCmd->add_option("--serial-block", pProgramOpts->nSerialBlock,
                          "Lease this many serials at once from the counter into a station file")
      ->check(CLI::Range(uint64_t{1}, uint64_t{100000}));
  pProgramCmd->add_option("--serial-lease", pProgramOpts->szSerialLease,
                          "The station file of --serial-block (default: in the state folder)");
  pProgramCmd->add_option("--serial-command", pProgramOpts->szSerialCommand,
                          "Ask this command for each serial (it prints 12 hex digits)");
  pProgramCmd->add_option("--before", pProgramOpts->szBefore,
                          "Command run before each board; a failure skips the board");
  pProgramCmd->add_option("--after", pProgramOpts->szAfter,
                          "Command run after each board; a failure fails the board");
  pProgramCmd->add_option("--hook-timeout", pProgramOpts->nHookTimeOutS,
                          "Time limit of --before, --after and --serial-command in s (default 60)")
      ->check(CLI::Range(1, 3600));
  pProgramCmd->add_option("--jobs", pProgramOpts->nJobs,
                          "Boards programmed at once (default: every present board)")
      ->check(CLI::Range(size_t{1}, size_t{64}));
  pProgramCmd->add_option("--retries", pProgramOpts->nRetries,
                          "Writes again after a failed verify that was rolled back (default 1)")
      ->check(CLI::Range(0, 10));
  pProgramCmd->add_option("--rework", pProgramOpts->szRework,
                          "keep-serial: a board that holds a serial keeps it (default new-serial)")
      ->check(CLI::IsMember({"new-serial", "keep-serial"}));
  pProgramCmd->add_option("--station", pProgramOpts->szStation,
                          "Station name in the log (default: the host name)");
  pProgramCmd->add_option("--operator", pProgramOpts->szOperator, "Operator name in the log");
  pProgramCmd->add_option("--work-order", pProgramOpts->szWorkOrder, "Work order in the log");
  AddDeviceOptions(pProgramCmd, *pProgram);
  AddTransferOptions(pProgramCmd, *pProgram);
  AddWriteAllOption(pProgramCmd, *pProgram);
  pProgramCmd->remove_option(pProgramCmd->get_option("--json"));
  pProgramCmd->add_flag("--json", pProgramOpts->bJson,
                        "Print one JSON document (the boards and the totals) at the end");
  pProgramCmd->callback(
      [&ctx, pProgram, pProgramOpts] { RunProgram(ctx, *pProgram, *pProgramOpts); });

  auto pVerify = std::make_shared<CDeviceOptions>();
  auto pVerifyFile = std::make_shared<std::string>();
  auto pVerifyType = std::make_shared<std::string>();
  auto pVerifyIgnore = std::make_shared<std::string>();
  CLI::App* pVerifyCmd =
      app.add_subcommand("verify", "Compare the EEPROM with an image file's output image");
  pVerifyCmd->add_option("file", *pVerifyFile, "Image file (.bin or .hex)")->required();
  pVerifyCmd->add_option("--eeprom", *pVerifyType, "EEPROM type (default: the file's size)");
  AddDeviceOptions(pVerifyCmd, *pVerify);
  AddTransferOptions(pVerifyCmd, *pVerify);
  AddIgnoreOption(pVerifyCmd, *pVerifyIgnore);
  pVerifyCmd->callback([&ctx, pVerify, pVerifyFile, pVerifyType, pVerifyIgnore] {
    RunVerify(ctx, *pVerify, *pVerifyFile, *pVerifyType, *pVerifyIgnore);
  });
}

}  // namespace qrt::cli
