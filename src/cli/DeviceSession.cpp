// The device session and the transfer run every device command uses.
#include "DeviceSession.h"

#include "platform/StandardStreams.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <iostream>

#include "Backup.h"
#include "FileReplace.h"
#include "ImageFiles.h"
#include "SettingsRules.h"
#include "SimReportLog.h"
#include "TerminalText.h"

namespace qrt::cli {

using namespace qrt::image;
using namespace USB42XX_MGR;
using json = nlohmann::ordered_json;

namespace {

// The simulated device's ids.
constexpr uint16_t kSimVid = 0x3A7C;
constexpr uint16_t kSimPid = 0x4250;
constexpr int kMaxSimBoards = 8;

// --sim-save's file for board k: FILE itself for board 1, else FILE with
// ".k" before the extension (chip.bin, chip.2.bin, ...).
std::string SimSaveName(const std::string& szFile, size_t nBoard) {
  if (nBoard == 1) return szFile;
  const size_t nSlash = szFile.find_last_of('/');
  const size_t nDot = szFile.find_last_of('.');
  const std::string szTag = "." + std::to_string(nBoard);
  if (nDot == std::string::npos || (nSlash != std::string::npos && nDot < nSlash)) {
    return szFile + szTag;
  }
  return szFile.substr(0, nDot) + szTag + szFile.substr(nDot);
}

bool ParseHex16(const std::string& szText, uint16_t& wValue) {
  uint32_t dw = 0;
  if (!qrt::editor::ParseHex(szText, 0xFFFF, dw)) return false;
  wValue = static_cast<uint16_t>(dw);
  return true;
}

// Why a write or its read-back failed, one line.
std::string WriteFailureText(CTransferRun& run, int r, const uint8_t* pImage) {
  int nCode = run.Procedure().GetLastCode();
  if (r == 1) return "write failed: code " + std::to_string(nCode);
  if (nCode != 0) return "verify failed: read-back code " + std::to_string(nCode);
  char sz[96];
  int nAt = run.Procedure().GetFirstMismatch();
  std::snprintf(sz, sizeof(sz), "verify failed: data differ at 0x%04X (wrote 0x%02X, read 0x%02X)",
                nAt, pImage[nAt], run.Load()[static_cast<size_t>(nAt)]);
  return sz;
}

}  // namespace

std::string Pair(uint16_t wVid, uint16_t wPid) {
  char sz[32];
  std::snprintf(sz, sizeof(sz), "%.4X:%.4X", wVid, wPid);
  return sz;
}

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
                   "Seconds to wait for the device lock another program holds")
      ->capture_default_str();
  pCommand->add_flag("--simulate", o.bSimulate, "Use an in-process simulated QRT4250");
  pCommand->add_option("--sim-image", o.szSimImage,
                       "Seed the simulated EEPROM from a .bin/.hex file "
                       "(default: the built-in default image, rest 0xFF)");
  pCommand->add_option("--sim-eeprom", o.szSimEeprom, "Simulated EEPROM: 24C02..24C16")
      ->capture_default_str();
  pCommand->add_option("--sim-layout", o.nSimLayout, "Simulated report layout 0, 1 or 2")
      ->capture_default_str();
  pCommand->add_option("--sim-boards", o.nSimBoards, "Identical simulated boards, 1-8")
      ->capture_default_str();
  pCommand->add_option("--sim-save", o.szSimSave,
                       "Write the simulated EEPROM to a .bin/.hex file at exit "
                       "(board k > 1: FILE with .k before the extension)");
  pCommand->add_option("--sim-log", o.szSimLog,
                       "Write simulated board 1's report log to a text file at exit");
  pCommand->add_option("--sim-fault", o.vSimFaults,
                       "Inject faults (repeatable; K@SPEC: board K only); the grammar is under "
                       "SIMULATED FAULTS in qrt4250-cli(1)");
  pCommand->add_flag("--sim-realtime", o.bSimRealTime,
                     "Sleep for real in the simulator (default: virtual clock)");
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

long ReadImageBytes(CCliContext& ctx, const std::string& szPath, uint8_t* pBuffer, size_t nSize) {
  size_t n = 0;
  const int r = ReadImageFile(szPath, pBuffer, nSize, &n);
  if (r != kReadOk) {
    ctx.Fail(QuoteText(szPath) + ": " + ReadImageFileError(r));
    return -1;
  }
  return static_cast<long>(n);
}

bool WriteImageBytes(CCliContext& ctx, const std::string& szPath, const uint8_t* pData, size_t n) {
  EImageFileType type = GetImageFileTypeByPath(szPath);
  if (type == EImageFileType::kUnknown) {
    ctx.Fail(QuoteText(szPath) + ": the output name needs .bin or .hex");
    return false;
  }
  std::string szWhy;
  int r = type == EImageFileType::kBin ? WriteBinFile(szPath, pData, n, {}, &szWhy)
                                       : WriteHexFile(szPath, pData, n, {}, &szWhy);
  if (r != kWriteOk) {
    ctx.Fail(QuoteText(szPath) + ": cannot write the file: " + szWhy);
    return false;
  }
  return true;
}

json BoardJson(const BOARD_INFO& board) {
  auto hex4 = [](unsigned n) {
    char sz[8];
    std::snprintf(sz, sizeof sz, "%.4X", n & 0xFFFF);
    return std::string(sz);
  };
  auto orNull = [](const std::string& s) { return s.empty() ? json(nullptr) : json(s); };
  json j{{"path", orNull(board.szPath)},          {"vid", hex4(board.wVID)},
         {"pid", hex4(board.wPID)},               {"chipId", hex4(board.wChipId)},
         {"layout", board.btLayout},              {"usb", orNull(board.szUsbTopology)},
         {"serial", orNull(board.szSerial)}};
  // Only a board whose chip did not answer has it (chip id and layout are
  // then 0).
  if (!board.szProbeFailure.empty()) j["probeFailure"] = board.szProbeFailure;
  return j;
}

CCliObserver::CCliObserver(CCliContext& ctx)
    : m_Ctx(ctx), m_bBar(&ctx.err == &std::cerr && platform::StandardErrorIsTerminal()) {}

CDeviceSession::~CDeviceSession() {
  // Hand pending hot-plug events (an unplug during the transfer) to the
  // facade before it goes; the CLI has no event loop of its own.
  if (m_pMgr) m_pMgr->DispatchDeviceEvents();
  m_pMgr.reset();
  if (m_pSim && !m_Options.szSimSave.empty()) {
    for (size_t i = 0; i < m_pSim->DeviceCount(); ++i) {
      const auto& eeprom = m_pSim->Chip(i).Eeprom();
      WriteImageBytes(m_Ctx, SimSaveName(m_Options.szSimSave, i + 1), eeprom.data(),
                      eeprom.size());
    }
  }
  if (m_pSim && !m_Options.szSimLog.empty()) WriteSimLog();
}

IHidPlatform& CDeviceSession::Platform() {
  if (!m_pSim) return *m_pSystem;
  return *m_pSim;
}

bool CDeviceSession::Open() {
  if (!m_Options.bSimulate) {
    // Real boards of this machine. The hot-plug events stay unread here, but
    // the transport then sets up its notifications as the window's does.
    m_pSystem = CreateSystemPlatform();
    if (!TakeDeviceLock()) return false;
    m_pMgr = std::make_unique<CUsb42xxMgr>(*m_pSystem, m_Store, std::string(), LockTimeOutMs());
    m_pMgr->SetCheckDeviceId(0);
    return true;
  }
  if (!OpenSimulator() || !TakeDeviceLock()) return false;
  m_pMgr = std::make_unique<CUsb42xxMgr>(*m_pSim, m_Store, std::string(), LockTimeOutMs());
  // Report numbers count from here.
  for (size_t i = 0; m_pSim && i < m_pSim->DeviceCount(); ++i) m_pSim->Chip(i).SetFaults(m_vFaults[i]);
  m_pMgr->SetCheckDeviceId(0);
  return true;
}

bool CDeviceSession::SelectDevice(uint16_t& wVid, uint16_t& wPid) {
  DEVICE_LIST list;
  std::vector<BOARD_INFO> vBoards;
  if (m_pMgr->Search_Present_Boards(list, &vBoards) != 0) {
    m_Ctx.Fail("the device search failed");
    return false;
  }
  bool bPair = !m_Options.szDevice.empty();
  if (bPair) {
    size_t nColon = m_Options.szDevice.find(':');
    if (nColon == std::string::npos || !ParseHex16(m_Options.szDevice.substr(0, nColon), wVid) ||
        !ParseHex16(m_Options.szDevice.substr(nColon + 1), wPid)) {
      m_Ctx.Fail("--device must be VID:PID in hex, not " + QuoteText(m_Options.szDevice));
      return false;
    }
  }
  const BOARD_INFO* pChosen = nullptr;
  if (!m_Options.szPath.empty()) {
    for (const BOARD_INFO& board : vBoards) {
      if (BoardMatchesPath(board, m_Options.szPath)) pChosen = &board;
      if (pChosen != nullptr) break;
    }
    if (pChosen == nullptr) {
      m_Ctx.Fail("no board at " + m_Options.szPath);
      return false;
    }
    if (bPair && (pChosen->wVID != wVid || pChosen->wPID != wPid)) {
      m_Ctx.Fail("the board at " + m_Options.szPath + " is " +
                 Pair(pChosen->wVID, pChosen->wPID) + ", not " + Pair(wVid, wPid));
      return false;
    }
  } else {
    if (!bPair) {
      if (list.Number == 0) {
        m_Ctx.Fail("no device present");
        return false;
      }
      wVid = list.VID[0];
      wPid = list.PID[0];
    }
    int nMatches = 0;
    for (const BOARD_INFO& board : vBoards) {
      if (board.wVID != wVid || board.wPID != wPid) continue;
      if (pChosen == nullptr) pChosen = &board;
      ++nMatches;
    }
    if (nMatches == 0) {
      m_Ctx.Fail("device " + m_Options.szDevice + " is not present");
      return false;
    }
    if (nMatches > 1) {
      m_Ctx.Fail(std::to_string(nMatches) + " boards match " + Pair(wVid, wPid) +
                 "; choose one with --path");
      return false;
    }
  }
  wVid = pChosen->wVID;
  wPid = pChosen->wPID;
  return UseBoard(*pChosen);
}

bool CDeviceSession::UseBoard(const BOARD_INFO& board, std::string* pszWhy) {
  m_Board = board;
  m_szBoardPath = board.szPath;
  std::string szWhy;
  int r = 0;
  if (!board.szProbeFailure.empty()) {
    szWhy = "chip probe failed: " + board.szProbeFailure;
  } else if (!m_szBoardPath.empty()) {
    // An empty path (a board the enumeration could not name) stays unpinned.
    r = m_pMgr->SelectBoard(m_szBoardPath);
    if (r == 1) szWhy = "the board is gone";
    if (r == 2) szWhy = "the chip no longer answers the probe";
  }
  if (szWhy.empty()) return true;
  m_Ctx.Fail("the board at " + m_szBoardPath + (r == 1 ? " is gone" : ": " + szWhy));
  if (pszWhy != nullptr) *pszWhy = szWhy;
  return false;
}

std::unique_ptr<CEepromProcedure> CDeviceSession::MakeProcedure(IEepromObserver& observer,
                                                               uint16_t wVid, uint16_t wPid,
                                                               uint32_t dwRomSize) {
  uint32_t dwSpeed = 0;
  if (!qrt::editor::ParseHex(m_Options.szI2CSpeed, 0xFF, dwSpeed)) {
    m_Ctx.Fail("--i2c-speed must be a hex byte, not " + QuoteText(m_Options.szI2CSpeed));
    return nullptr;
  }
  uint16_t wChipId = 0;
  uint8_t btFlag = 0;
  uint32_t dwLength = 0;
  m_pMgr->GetChipInformation(wVid, wPid, wChipId, btFlag, dwLength);
  auto pProcedure = std::make_unique<CEepromProcedure>(*m_pMgr, observer);
  auto& s = pProcedure->Settings();
  s.m_SelectedVid = wVid;
  s.m_SelectedPid = wPid;
  s.m_dwRomSize = dwRomSize;
  s.m_bRWTimeEnabled = true;
  s.m_dwReadTimeOut = m_Options.dwReadTimeOut;
  s.m_dwReadSleepTime = m_Options.dwReadDelay;
  s.m_dwWriteTimeOut = m_Options.dwWriteTimeOut;
  s.m_dwWriteSleepTime = m_Options.dwWriteDelay;
  s.m_bI2CEnabled = true;
  s.m_dwI2CSpeed = dwSpeed;
  s.m_bReportId = btFlag;  // the chip's own report-ID need
  if (m_Options.szProfile == "fast") s.m_Profile.eKind = ETransferProfile::Fast;
  s.m_Profile.dwWriteCycleMs = m_Options.dwWriteCycleMs;
  return pProcedure;
}

std::optional<double> CDeviceSession::SimulatedSeconds() const {
  if (!m_pSim) return std::nullopt;
  return static_cast<double>(m_pSim->Clock().NowUs()) / 1e6;
}

uint32_t CDeviceSession::LockTimeOutMs() const {
  return m_Options.dwLockTimeOut >= UINT32_MAX / 1000 ? UINT32_MAX - 1
                                                      : m_Options.dwLockTimeOut * 1000;
}

bool CDeviceSession::TakeDeviceLock() {
  bool bTold = false;
  auto fnWaiting = [&](uint32_t, const std::string& szHolder) {
    if (bTold || szHolder.empty()) return;
    bTold = true;
    m_Ctx.err << "qrt4250-cli: waiting for the device lock, held by "
              << qrt::diag::EscapeControls(szHolder) << " (up to "
              << m_Options.dwLockTimeOut << " s)\n";
  };
  std::string szError, szNotice;
  m_pDeviceLock =
      AcquireDeviceLock(Platform(), std::string(), LockTimeOutMs(), fnWaiting, szError, &szNotice);
  if (!szNotice.empty()) m_Ctx.Warn(szNotice);
  if (!m_pDeviceLock) {
    szError[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(szError[0])));
    m_Ctx.Fail(szError);
    return false;
  }
  return true;
}

// Written as every output file is replaced: links followed only by the rule
// for shared folders, a FIFO or device refused rather than waited on, and a
// failure leaves the file that was there.
void CDeviceSession::WriteSimLog() {
  std::string szText;
  for (const auto& entry : m_pSim->Chip(0).ReportLog()) {
    szText += sim::FormatReportLogLine(entry);
    szText += '\n';
  }
  std::string szWhy;
  if (ReplaceFileContents(m_Options.szSimLog, reinterpret_cast<const uint8_t*>(szText.data()),
                          szText.size(), {}, &szWhy) != 0) {
    m_Ctx.Warn(QuoteText(m_Options.szSimLog) + ": cannot write the log: " + szWhy);
  }
}

bool CDeviceSession::OpenSimulator() {
  uint32_t dwSize = RomSizeFromEepromType(m_Options.szSimEeprom);
  if (dwSize == 0) {
    m_Ctx.Fail("--sim-eeprom must be 24C02, 24C04, 24C08 or 24C16");
    return false;
  }
  if (m_Options.nSimLayout < 0 || m_Options.nSimLayout > 2) {
    m_Ctx.Fail("--sim-layout must be 0, 1 or 2");
    return false;
  }
  if (m_Options.nSimBoards < 1 || m_Options.nSimBoards > kMaxSimBoards) {
    m_Ctx.Fail("--sim-boards must be 1 to 8");
    return false;
  }
  const size_t nBoards = static_cast<size_t>(m_Options.nSimBoards);
  sim::SIM_DEVICE_CONFIG config;
  config.wVID = kSimVid;
  config.wPID = kSimPid;
  config.Chip.nLayout = static_cast<uint8_t>(m_Options.nSimLayout);
  config.Chip.dwEepromSize = dwSize;
  m_vFaults.assign(nBoards, sim::SIM_FAULTS{});
  std::vector<sim::SIM_CHIP_CONFIG> vChips(nBoards, config.Chip);
  for (const auto& szSpec : m_Options.vSimFaults) {
    std::string szError;
    if (!sim::ParseBoardFaultSpec(szSpec, m_vFaults, vChips, szError)) {
      m_Ctx.Fail("--sim-fault: " + szError);
      return false;
    }
  }
  std::vector<uint8_t> seed(kRomBufferSize, 0xFF);
  size_t nSeed = kHeaderSize;
  if (m_Options.szSimImage.empty()) {
    std::copy(g_btDefaultImage, g_btDefaultImage + kHeaderSize, seed.begin());
  } else {
    long n = ReadImageBytes(m_Ctx, m_Options.szSimImage, seed.data(), seed.size());
    if (n < 0) return false;
    nSeed = static_cast<size_t>(n);
  }
  m_pSim = std::make_unique<sim::CSimPlatform>(m_Options.bSimRealTime);
  for (size_t i = 0; i < nBoards; ++i) {
    config.Chip = vChips[i];
    size_t nIndex = m_pSim->AddDevice(config);
    // Board 1 logs every report of the command, the facade's first device
    // search included, when --sim-log asks for it.
    m_pSim->Chip(nIndex).SetReportLogEnabled(i == 0 && !m_Options.szSimLog.empty());
    m_pSim->Chip(nIndex).SetEepromContents(seed.data(), nSeed);
  }
  return true;
}

bool GuardedWrite(CCliContext& ctx, const CDeviceOptions& o, CTransferRun& run,
                  const uint8_t* pImage, size_t nSize, TRANSFER_REPORT& report, bool bRollback,
                  const std::function<bool()>& fnBeforeWrite) {
  report.bWrite = true;
  std::vector<uint8_t> vBackup;
  if (!o.bNoBackup) {
    int r = run.ReadForBackup();
    if (r != 0) {
      ctx.Fail("cannot read the previous contents for the backup: code " + std::to_string(r) +
               "; nothing written");
      return false;
    }
    vBackup.assign(run.Load().begin(), run.Load().begin() + static_cast<long>(nSize));
    std::string szError;
    if (!qrt::production::SaveBackup(o.szBackup, qrt::production::DefaultBackupFolder(),
                                     std::time(nullptr), run.Vid(), run.Pid(), run.BoardPath(),
                                     vBackup.data(), vBackup.size(), report.szBackup, szError)) {
      ctx.Fail("cannot save the backup: " + szError + "; nothing written");
      return false;
    }
  }
  if (fnBeforeWrite && !fnBeforeWrite()) return false;
  int r = run.Write(pImage, nSize);
  if (r == 0) return true;
  if (r == 2 && run.Procedure().GetLastCode() == 0) {
    report.nMismatchAt = static_cast<size_t>(run.Procedure().GetFirstMismatch());
    // The other two failures carry this in the procedure's message.
    ctx.err << EepromStateText(run.Procedure().GetWriteState()) << '\n';
  }
  ctx.Fail(WriteFailureText(run, r, pImage));
  const EEPROM_WRITE_STATE failedState = run.Procedure().GetWriteState();
  if (vBackup.empty()) return false;
  if (!bRollback || o.bNoRollback) {
    report.szRollback = "not attempted";
    ctx.err << "qrt4250-cli: not rolled back; the previous contents are in "
            << qrt::diag::EscapeControls(report.szBackup)
            << '\n';
    return false;
  }
  int rBack = run.WriteAgain(vBackup.data(), vBackup.size());
  if (rBack == 0) {
    report.szRollback = "rolled back to the previous contents, verified";
  } else {
    // What the EEPROM holds now, in the words of a failed write's line: after
    // a rollback that wrote nothing, what the failed write left.
    const EEPROM_WRITE_STATE backState = run.Procedure().GetWriteState();
    std::string szHolds;
    if (backState.eKind == EEPROM_WRITE_STATE::EKind::kPartial && backState.nNew == 0 &&
        backState.nUnknown == 0) {
      szHolds = "nothing was written back; as the failed write left it, " +
                EepromStateText(failedState);
    } else {
      szHolds = "writing back the previous contents, " + EepromStateText(backState);
      if (rBack == 2 && run.Procedure().GetLastCode() == 0) {
        // Read back in full: say how far it is from the previous contents.
        size_t nDiffer = 0;
        for (size_t i = 0; i < vBackup.size(); ++i) nDiffer += run.Load()[i] != vBackup[i];
        szHolds += "; " + std::to_string(nDiffer) + " byte(s) differ from the previous contents";
      }
    }
    report.szRollback =
        "rollback failed (" + WriteFailureText(run, rBack, vBackup.data()) + "): " + szHolds;
  }
  ctx.err << "qrt4250-cli: " << report.szRollback << "; backup "
          << qrt::diag::EscapeControls(report.szBackup) << '\n';
  return false;
}

std::shared_ptr<CDeviceOptions> AddDeviceOptionsTo(CLI::App* pCommand) {
  auto pOptions = std::make_shared<CDeviceOptions>();
  AddDeviceOptions(pCommand, *pOptions);
  return pOptions;
}

bool ReadBoardImage(CCliContext& ctx, const CDeviceOptions& o, uint32_t dwSize,
                    std::vector<uint8_t>& vOut, std::string& szBoard) {
  TRANSFER_REPORT report;  // diff reports no times
  CTransferRun run(ctx, o, report);
  if (!run.Start(dwSize)) return false;
  const int r = run.Read();
  if (r != 0) {
    ctx.Fail("read failed: code " + std::to_string(r));
    return false;
  }
  vOut = run.Load();
  szBoard = run.Device();
  return true;
}

}  // namespace qrt::cli
