#include "DeviceOptions.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "CliApp.h"
#include "ImageFiles.h"
#include "SettingsRules.h"
#include "TerminalText.h"

namespace qrt::cli {

using namespace USB42XX_MGR;
using qrt::image::QuoteText;

namespace {

bool ParseHex16(const std::string& szText, uint16_t& wValue) {
  uint32_t dw = 0;
  if (!qrt::editor::ParseHex(szText, 0xFFFF, dw)) return false;
  wValue = static_cast<uint16_t>(dw);
  return true;
}

// The simulator's option with its shared help text.
template <typename T>
CLI::Option* AddSimOption(CLI::App* pCommand, const char* pszName, T& value) {
  return pCommand->add_option(pszName, value, qrt::transfer::SimOptionHelp(pszName));
}

}  // namespace

void AddDeviceOptions(CLI::App* pCommand, CDeviceOptions& o) {
  pCommand->add_option("--device", o.szDevice, "VID:PID in hex (default: the first listed)");
  pCommand->add_option("--path", o.szPath,
                       "The board at PATH: hidraw node or USB bus-port (1-2.3), sim:N");
  // The window's ranges: a time-out of 0 fails every transfer, and beyond
  // these a 2048-byte transfer would run for days.
  const CLI::Range timeOutRange(kMinTransferTimeOutMs, kMaxTransferTimeOutMs);
  const CLI::Range delayRange(0u, kMaxTransferDelayMs);
  pCommand->add_option("--read-timeout", o.dwReadTimeOut, "Per-byte read time-out in ms")
      ->check(timeOutRange)
      ->capture_default_str();
  pCommand->add_option("--read-delay", o.dwReadDelay, "Delay after each byte read in ms")
      ->check(delayRange)
      ->capture_default_str();
  pCommand->add_option("--write-timeout", o.dwWriteTimeOut, "Per-byte write time-out in ms")
      ->check(timeOutRange)
      ->capture_default_str();
  pCommand->add_option("--write-delay", o.dwWriteDelay, "Delay after each byte written in ms")
      ->check(delayRange)
      ->capture_default_str();
  pCommand->add_option("--i2c-speed", o.szI2CSpeed, "Value of the I2C speed register (hex)")
      ->capture_default_str();
  pCommand
      ->add_option("--lock-timeout", o.dwLockTimeOut,
                   "Seconds to wait for a board's lock another program holds")
      ->capture_default_str();
  pCommand->add_flag("--simulate", o.bSimulate, qrt::transfer::SimOptionHelp("--simulate"));
  AddSimOption(pCommand, "--sim-image", o.Sim.szImage);
  AddSimOption(pCommand, "--sim-eeprom", o.Sim.szEeprom);
  AddSimOption(pCommand, "--sim-layout", o.Sim.nLayout);
  AddSimOption(pCommand, "--sim-boards", o.Sim.nBoards);
  AddSimOption(pCommand, "--sim-save", o.Sim.szSave);
  AddSimOption(pCommand, "--sim-log", o.Sim.szLog);
  AddSimOption(pCommand, "--sim-fault", o.Sim.vFaults);
  pCommand->add_flag("--sim-realtime", o.Sim.bRealTime,
                     qrt::transfer::SimOptionHelp("--sim-realtime"));
}

// The transfer profile and the output form of read, write and verify.
void AddTransferOptions(CLI::App* pCommand, CDeviceOptions& o) {
  pCommand
      ->add_option("--profile", o.szProfile,
                   "default: byte mode with the delays above; fast: word mode, no delay "
                   "after a read, only the write cycle after a write")
      ->check(CLI::IsMember({"default", "fast"}))
      ->capture_default_str();
  pCommand
      ->add_option("--write-cycle", o.dwWriteCycleMs,
                   "Fast profile: wait after each unit written in ms (the EEPROM's write cycle)")
      ->check(CLI::Range(0u, 1000u))
      ->capture_default_str();
  pCommand->add_flag("--json", o.bJson, "Print one JSON object (outcome, code, bytes, times)");
}

// The backup taken before a write (write, restore).
void AddBackupOptions(CLI::App* pCommand, CDeviceOptions& o) {
  auto* pBackup = pCommand->add_option(
      "--backup", o.szBackup,
      "Save the previous EEPROM contents (raw) to this file instead of the backup folder");
  pCommand->add_flag("--no-backup", o.bNoBackup, "Write without saving the previous contents")
      ->excludes(pBackup);
}

bool BoardChoiceOf(CCliContext& ctx, const CDeviceOptions& o,
                   qrt::transfer::BOARD_CHOICE& choice) {
  choice.szPath = o.szPath;
  choice.bPair = !o.szDevice.empty();
  if (!choice.bPair) return true;
  const size_t nColon = o.szDevice.find(':');
  if (nColon == std::string::npos || !ParseHex16(o.szDevice.substr(0, nColon), choice.wVid) ||
      !ParseHex16(o.szDevice.substr(nColon + 1), choice.wPid)) {
    ctx.Fail("--device must be VID:PID in hex, not " + QuoteText(o.szDevice));
    return false;
  }
  return true;
}

bool TransferSettingsOf(CCliContext& ctx, const CDeviceOptions& o,
                        EEPROM_TRANSFER_SETTINGS& settings) {
  uint32_t dwSpeed = 0;
  if (!qrt::editor::ParseHex(o.szI2CSpeed, 0xFF, dwSpeed)) {
    ctx.Fail("--i2c-speed must be a hex byte, not " + QuoteText(o.szI2CSpeed));
    return false;
  }
  settings = EEPROM_TRANSFER_SETTINGS{};
  settings.m_bRWTimeEnabled = true;
  settings.m_dwReadTimeOut = o.dwReadTimeOut;
  settings.m_dwReadSleepTime = o.dwReadDelay;
  settings.m_dwWriteTimeOut = o.dwWriteTimeOut;
  settings.m_dwWriteSleepTime = o.dwWriteDelay;
  settings.m_bI2CEnabled = true;
  settings.m_dwI2CSpeed = dwSpeed;
  if (o.szProfile == "fast") settings.m_Profile.eKind = ETransferProfile::Fast;
  settings.m_Profile.dwWriteCycleMs = o.dwWriteCycleMs;
  return true;
}

BOARD_LOCK_WAIT LockWaitOf(CCliContext& ctx, const CDeviceOptions& o) {
  BOARD_LOCK_WAIT wait;
  wait.dwTimeOutMs =
      o.dwLockTimeOut >= UINT32_MAX / 1000 ? UINT32_MAX - 1 : o.dwLockTimeOut * 1000;
  auto pTold = std::make_shared<bool>(false);
  const uint32_t dwSeconds = o.dwLockTimeOut;
  wait.fnWaiting = [&ctx, pTold, dwSeconds](uint32_t, const std::string& szHolder) {
    if (*pTold || szHolder.empty()) return;
    *pTold = true;
    ctx.err << "qrt4250-cli: waiting for the device lock, held by "
            << qrt::diag::EscapeControls(szHolder) << " (up to " << dwSeconds << " s)\n";
  };
  return wait;
}

}  // namespace qrt::cli
