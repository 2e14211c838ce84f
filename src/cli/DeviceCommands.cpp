// Device commands: list, read, write, verify. They drive the device library
// exactly as the window does (probe search after SetCheckDeviceId(0), the
// shared read and write procedures) and go through CImageSession for every
// image accepted or written. --simulate runs them on an in-process simulated
// chip.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <cctype>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "CliApp.h"
#include "DeviceIdStore.h"
#include "EepromProcedure.h"
#include "ImageFiles.h"
#include "ImageSession.h"
#include "Backup.h"
#include "NamedMutex.h"
#include "ProductionLog.h"
#include "SerialCounter.h"
#include "SettingsRules.h"
#include "SimFaultOptions.h"
#include "SimPlatform.h"
#include "SimReportLog.h"
#include "TransferReport.h"
#include "Usb42xxMgr.h"
#include "platform/SystemPlatform.h"

namespace qrt::cli {

struct CDeviceOptions {
  std::string szDevice;
  std::string szPath;
  uint32_t dwReadTimeOut = 128;
  uint32_t dwReadDelay = 5;
  uint32_t dwWriteTimeOut = 128;
  uint32_t dwWriteDelay = 5;
  std::string szI2CSpeed = "20";
  bool bSimulate = false;
  std::string szSimImage;
  std::string szSimEeprom = "24C02";
  int nSimLayout = 0;
  std::string szSimSave;
  int nSimBoards = 1;
  std::string szSimLog;
  std::vector<std::string> vSimFaults;
  bool bSimRealTime = false;
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

namespace {

using namespace qrt::image;
using namespace USB42XX_MGR;
using json = nlohmann::ordered_json;

// The simulated device's ids.
constexpr uint16_t kSimVid = 0x3A7C;
constexpr uint16_t kSimPid = 0x4250;
constexpr int kMaxSimBoards = 8;

std::string Pair(uint16_t wVid, uint16_t wPid) {
  char sz[32];
  std::snprintf(sz, sizeof(sz), "%.4X:%.4X", wVid, wPid);
  return sz;
}

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


// The CLI always searches by the chip probe (device-id check off), so the
// device-id groups are never consulted: an empty store will do.
class CNoDeviceIdStore : public IDeviceIdStore {
 public:
  bool OpenGroup(const std::string&) override { return false; }
  bool ReadValue(const std::string&, const std::string&, std::string&) override { return false; }
};

void AddDeviceOptions(CLI::App* pCommand, CDeviceOptions& o) {
  pCommand->add_option("--device", o.szDevice, "VID:PID in hex (default: the first listed)");
  pCommand->add_option("--path", o.szPath,
                       "The board at PATH: hidraw node or USB bus-port (1-2.3), sim:N");
  pCommand->add_option("--read-timeout", o.dwReadTimeOut, "Per-byte read time-out in ms")
      ->capture_default_str();
  pCommand->add_option("--read-delay", o.dwReadDelay, "Delay after each byte read in ms")
      ->capture_default_str();
  pCommand->add_option("--write-timeout", o.dwWriteTimeOut, "Per-byte write time-out in ms")
      ->capture_default_str();
  pCommand->add_option("--write-delay", o.dwWriteDelay, "Delay after each byte written in ms")
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
                       "Inject faults (repeatable; K@SPEC: board K only), see the README");
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

bool ParseHex16(const std::string& szText, uint16_t& wValue) {
  uint32_t dw = 0;
  if (!qrt::editor::ParseHex(szText, 0xFFFF, dw)) return false;
  wValue = static_cast<uint16_t>(dw);
  return true;
}

// Reads a .bin/.hex file into buffer; returns the byte count or -1 (message
// written through Fail).
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

// Progress on stderr (a bar only when it is a terminal) and the procedure's
// plain messages, one line each.
class CCliObserver : public IEepromObserver {
 public:
  explicit CCliObserver(CCliContext& ctx)
      : m_Ctx(ctx), m_bBar(&ctx.err == &std::cerr && isatty(STDERR_FILENO) == 1) {}
  ~CCliObserver() override { EndBar(); }

  void OnSelectDeviceFailed() override {
    EndBar();
    m_Ctx.err << "qrt4250-cli: warning: the device could not be selected\n";
  }
  void OnPlainMessage(const std::string& szText) override {
    EndBar();
    m_Ctx.err << szText << '\n';
  }
  void OnProgress(EEepromProgress eKind, int nPercent) override {
    if (!m_bBar || eKind == EEepromProgress::Probe) return;
    const char* pszLabel = eKind == EEepromProgress::Read    ? "read  "
                           : eKind == EEepromProgress::Write ? "write "
                                                             : "verify";
    if (nPercent == m_nLastPercent && pszLabel == m_pszLastLabel) return;
    m_nLastPercent = nPercent;
    m_pszLastLabel = pszLabel;
    int nFilled = nPercent * 40 / 100;
    std::string szBar(static_cast<size_t>(nFilled), '#');
    szBar.resize(40, '.');
    m_Ctx.err << '\r' << pszLabel << " [" << szBar << "] " << nPercent << "%" << std::flush;
    m_bOpen = true;
  }
  void EndBar() {
    if (m_bOpen) m_Ctx.err << '\n';
    m_bOpen = false;
    m_nLastPercent = -1;
  }

 private:
  CCliContext& m_Ctx;
  bool m_bBar;
  bool m_bOpen = false;
  int m_nLastPercent = -1;
  const char* m_pszLastLabel = nullptr;
};

// The platform, the facade and the selected device of one command.
class CDeviceSession {
 public:
  CDeviceSession(CCliContext& ctx, const CDeviceOptions& o) : m_Ctx(ctx), m_Options(o) {}

  ~CDeviceSession() {
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

  // Builds the platform and the facade. False (message written) on failure.
  bool Open() {
    if (!m_Options.bSimulate) {
      // Real boards of this machine. The hot-plug events stay unread here,
      // but the transport then sets up its notifications as the window's does.
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

  // The board to work on: --path when given, else the one board of
  // --device's pair or of the first listed pair. Two boards of one pair are
  // refused without --path: picking one would program the wrong unit. False
  // (message written) when there is none or the choice is ambiguous.
  bool SelectDevice(uint16_t& wVid, uint16_t& wPid) {
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
    m_Board = *pChosen;
    m_szBoardPath = pChosen->szPath;
    // An empty path (a board the enumeration could not name) stays unpinned.
    if (!m_szBoardPath.empty() && m_pMgr->SelectBoard(m_szBoardPath) != 0) {
      m_Ctx.Fail("the board at " + m_szBoardPath + " is gone");
      return false;
    }
    return true;
  }

  // Pins one listed board (program --all walks them in turn). False
  // (message written) when it is gone.
  bool UseBoard(const BOARD_INFO& board) {
    m_Board = board;
    m_szBoardPath = board.szPath;
    if (!m_szBoardPath.empty() && m_pMgr->SelectBoard(m_szBoardPath) != 0) {
      m_Ctx.Fail("the board at " + m_szBoardPath + " is gone");
      return false;
    }
    return true;
  }

  const std::string& BoardPath() const { return m_szBoardPath; }
  const BOARD_INFO& Board() const { return m_Board; }

  // A procedure for the device with the command's timing and speed.
  std::unique_ptr<CEepromProcedure> MakeProcedure(IEepromObserver& observer, uint16_t wVid,
                                                  uint16_t wPid, uint32_t dwRomSize) {
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

  CUsb42xxMgr& Mgr() {
    return *m_pMgr;
  }

  // Time of the simulated device since it was made, in seconds; none on a
  // real board.
  std::optional<double> SimulatedSeconds() const {
    if (!m_pSim) return std::nullopt;
    return static_cast<double>(m_pSim->Clock().NowUs()) / 1e6;
  }

 private:
  uint32_t LockTimeOutMs() const {
    return m_Options.dwLockTimeOut >= UINT32_MAX / 1000 ? UINT32_MAX - 1
                                                        : m_Options.dwLockTimeOut * 1000;
  }

  // The device lock for the whole command, taken before the facade so that
  // a lock held elsewhere is waited for once, with a word to the user, and
  // ends the command (nothing sent, nothing written) after --lock-timeout.
  bool TakeDeviceLock() {
    bool bTold = false;
    auto fnWaiting = [&](uint32_t, const std::string& szHolder) {
      if (bTold || szHolder.empty()) return;
      bTold = true;
      m_Ctx.err << "qrt4250-cli: waiting for the device lock, held by " << szHolder << " (up to "
                << m_Options.dwLockTimeOut << " s)\n";
    };
    std::string szError;
    m_pDeviceLock = AcquireDeviceLock(std::string(), LockTimeOutMs(), fnWaiting, szError);
    if (!m_pDeviceLock) {
      szError[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(szError[0])));
      m_Ctx.Fail(szError);
      return false;
    }
    return true;
  }

  void WriteSimLog() {
    FILE* pFile = std::fopen(m_Options.szSimLog.c_str(), "we");
    bool bOk = sim::WriteReportLog(m_pSim->Chip(0).ReportLog(), 0, pFile);
    if (pFile != nullptr && std::fclose(pFile) != 0) bOk = false;
    if (!bOk)
      m_Ctx.err << "qrt4250-cli: warning: " << m_Options.szSimLog << ": cannot write the log\n";
  }

  bool OpenSimulator() {
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

  CCliContext& m_Ctx;
  const CDeviceOptions& m_Options;
  CNoDeviceIdStore m_Store;
  std::unique_ptr<sim::CSimPlatform> m_pSim;
  std::unique_ptr<IHidPlatform> m_pSystem;
  std::vector<sim::SIM_FAULTS> m_vFaults;
  std::unique_ptr<CNamedMutex> m_pDeviceLock;  // outlives the facade
  std::unique_ptr<CUsb42xxMgr> m_pMgr;
  std::string m_szBoardPath;
  BOARD_INFO m_Board;
};

const char* LayoutText(uint32_t dwOutputLength) {
  switch (dwOutputLength) {
    case 4:
      return "layout 1 (4-byte reports, report ID)";
    case 8:
      return "layout 2 (8-byte reports, report ID)";
    default:
      return "layout 0 (5-byte reports)";
  }
}

// One line per board: the pair, the chip, the layout and where it sits.
std::string BoardLine(const BOARD_INFO& board) {
  char sz[160];
  if (board.szPath.empty()) {
    std::snprintf(sz, sizeof(sz), "VID = 0x%.4X, PID = 0x%.4X, chip id not readable", board.wVID,
                  board.wPID);
    return sz;
  }
  std::snprintf(sz, sizeof(sz), "VID = 0x%.4X, PID = 0x%.4X, chip id = 0x%.4X, %s", board.wVID,
                board.wPID, board.wChipId,
                LayoutText(CUsbHidMgr::OutputReportLengthOfLayout(board.btLayout)));
  std::string szLine = sz;
  szLine += ", path " + board.szPath;
  if (!board.szUsbTopology.empty()) szLine += ", usb " + board.szUsbTopology;
  if (!board.szSerial.empty()) szLine += ", serial " + board.szSerial;
  return szLine;
}

json BoardJson(const BOARD_INFO& board) {
  auto hex4 = [](unsigned n) {
    char sz[8];
    std::snprintf(sz, sizeof sz, "%.4X", n & 0xFFFF);
    return std::string(sz);
  };
  auto orNull = [](const std::string& s) { return s.empty() ? json(nullptr) : json(s); };
  return json{{"path", orNull(board.szPath)},          {"vid", hex4(board.wVID)},
              {"pid", hex4(board.wPID)},               {"chipId", hex4(board.wChipId)},
              {"layout", board.btLayout},              {"usb", orNull(board.szUsbTopology)},
              {"serial", orNull(board.szSerial)}};
}

void RunList(CCliContext& ctx, const CDeviceOptions& o) {
  ctx.bJson = o.bJson;
  CDeviceSession session(ctx, o);
  if (!session.Open()) return;
  DEVICE_LIST list;
  std::vector<BOARD_INFO> vBoards;
  if (session.Mgr().Search_Present_Boards(list, &vBoards) != 0) {
    ctx.Fail("the device search failed");
    return;
  }
  if (vBoards.empty()) ctx.err << "no device present\n";
  if (o.bJson) {
    json boards = json::array();
    for (const BOARD_INFO& board : vBoards) boards.push_back(BoardJson(board));
    ctx.out << json{{"boards", boards}}.dump(2) << '\n';
    return;
  }
  for (const BOARD_INFO& board : vBoards) ctx.out << BoardLine(board) << '\n';
}

// The steps every transfer command shares: platform and facade, the device,
// the progress observer, the procedure with the command's timing, and a load
// buffer that is 0xFF beyond what was read.
class CTransferRun {
 public:
  CTransferRun(CCliContext& ctx, const CDeviceOptions& o, TRANSFER_REPORT& report)
      : m_pOwnSession(std::make_unique<CDeviceSession>(ctx, o)),
        m_Session(*m_pOwnSession),
        m_Observer(ctx),
        m_Report(report) {}

  // A run on a session that outlives it (program: one session, many boards).
  CTransferRun(CCliContext& ctx, CDeviceSession& session, TRANSFER_REPORT& report)
      : m_Session(session), m_Observer(ctx), m_Report(report) {}

  // False (message written) when the device or the options do not allow it.
  bool Start(uint32_t dwRomSize) {
    m_Start = std::chrono::steady_clock::now();
    if (!m_Session.Open() || !m_Session.SelectDevice(m_wVid, m_wPid)) return false;
    m_Report.jBoard = BoardJson(m_Session.Board());
    m_pProcedure = m_Session.MakeProcedure(m_Observer, m_wVid, m_wPid, dwRomSize);
    return m_pProcedure != nullptr;
  }

  // Start on an open session's board, already selected or pinned.
  bool StartOn(uint32_t dwRomSize) {
    m_Start = std::chrono::steady_clock::now();
    m_wVid = m_Session.Board().wVID;
    m_wPid = m_Session.Board().wPID;
    m_Report.jBoard = BoardJson(m_Session.Board());
    m_pProcedure = m_Session.MakeProcedure(m_Observer, m_wVid, m_wPid, dwRomSize);
    return m_pProcedure != nullptr;
  }

  int Read() {
    int r = m_pProcedure->ReadDataFromEEPROM(m_vLoad.data(), m_vLoad.size());
    m_Observer.EndBar();
    Finished(r);
    return r;
  }

  int Write(const uint8_t* pImage, size_t nSize) {
    int r = m_pProcedure->WriteDataToEEPROM(pImage, nSize, m_vLoad.data(), m_vLoad.size());
    m_Observer.EndBar();
    Finished(m_pProcedure->GetLastCode());
    return r;
  }

  // A write that does not change the report's code (the rollback), only its
  // times.
  int WriteAgain(const uint8_t* pImage, size_t nSize) {
    int r = m_pProcedure->WriteDataToEEPROM(pImage, nSize, m_vLoad.data(), m_vLoad.size());
    m_Observer.EndBar();
    int nCode = m_Report.nCode;
    Finished(nCode);
    return r;
  }

  CEepromProcedure& Procedure() { return *m_pProcedure; }
  const std::vector<uint8_t>& Load() const { return m_vLoad; }
  std::string Device() const {
    const std::string& szPath = m_Session.BoardPath();
    return Pair(m_wVid, m_wPid) + (szPath.empty() ? "" : " at " + szPath);
  }
  uint16_t Vid() const { return m_wVid; }
  uint16_t Pid() const { return m_wPid; }
  // The board's path for backup names; the pair when the enumeration could
  // not name the board.
  std::string BoardPath() const {
    const std::string& szPath = m_Session.BoardPath();
    return szPath.empty() ? Pair(m_wVid, m_wPid) : szPath;
  }

 private:
  void Finished(int nCode) {
    m_Report.bTransferred = true;
    m_Report.nCode = nCode;
    m_Report.nBytes = m_pProcedure->GetTransferLength();
    m_Report.dElapsedS =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_Start).count();
    m_Report.dSimulatedS = m_Session.SimulatedSeconds();
  }

  std::unique_ptr<CDeviceSession> m_pOwnSession;
  CDeviceSession& m_Session;
  CCliObserver m_Observer;
  TRANSFER_REPORT& m_Report;
  std::chrono::steady_clock::time_point m_Start;
  std::unique_ptr<CEepromProcedure> m_pProcedure;
  std::vector<uint8_t> m_vLoad = std::vector<uint8_t>(kRomBufferSize, 0xFF);
  uint16_t m_wVid = 0;
  uint16_t m_wPid = 0;
};

void RunRead(CCliContext& ctx, const CDeviceOptions& o, const std::string& szType,
             const std::string& szOut) {
  CTransferReporter reporter(ctx, "read", o.szProfile, o.bJson);
  reporter.Report().szFile = szOut;
  uint32_t dwSize = RomSizeFromEepromType(szType);
  if (dwSize == 0) {
    ctx.Fail("--eeprom must be 24C02, 24C04, 24C08 or 24C16, not " + szType);
    return;
  }
  if (GetImageFileTypeByPath(szOut) == EImageFileType::kUnknown) {
    ctx.Fail(QuoteText(szOut) + ": the output name needs .bin or .hex");
    return;
  }
  CTransferRun run(ctx, o, reporter.Report());
  if (!run.Start(dwSize)) return;
  int r = run.Read();
  const std::vector<uint8_t>& load = run.Load();
  if (r != 0) {
    ctx.Fail("read failed: code " + std::to_string(r));
    return;
  }
  // Accepted first, as the window's ApplyLoadedImage does; nothing is
  // written otherwise. --raw saves whatever the EEPROM holds (blank, corrupt).
  CImageSession image;
  EApplyResult eApply = o.bRaw ? EApplyResult::kAccepted : image.ApplyLoadedImage(load.data(), dwSize);
  if (eApply != EApplyResult::kAccepted) {
    ctx.Fail(std::string("the EEPROM image was refused: ") + ApplyResultText(eApply));
    return;
  }
  if (image.BanksBeyondEnd()) ctx.Warn(std::string("the EEPROM image: ") + kBanksBeyondEndText);
  if (!WriteImageBytes(ctx, szOut, load.data(), dwSize) || o.bJson) return;
  ctx.out << "read " << dwSize << " bytes (" << EepromTypeText(dwSize) << ") from " << run.Device()
          << " into " << QuoteText(szOut) << '\n';
}

// Loads FILE like a file load and builds the output image like the window's
// write. Returns the image size, 0 on failure (message written).
size_t BuildImageFromFile(CCliContext& ctx, const std::string& szFile, const std::string& szType,
                          uint8_t* pOut) {
  std::vector<uint8_t> buffer(kRomBufferSize, 0xFF);
  long n = ReadImageBytes(ctx, szFile, buffer.data(), buffer.size());
  if (n < 0) return 0;
  CImageSession image;
  EApplyResult eApply = image.ApplyLoadedImage(buffer.data(), static_cast<size_t>(n));
  if (eApply != EApplyResult::kAccepted) {
    ctx.Fail(QuoteText(szFile) + ": " + ApplyResultText(eApply));
    return 0;
  }
  if (image.BanksBeyondEnd()) ctx.Warn(QuoteText(szFile) + ": " + kBanksBeyondEndText);
  image.SetRomSize(static_cast<uint32_t>(n));
  if (!szType.empty()) {
    uint32_t dwSize = RomSizeFromEepromType(szType);
    if (dwSize == 0) {
      ctx.Fail("--eeprom must be 24C02, 24C04, 24C08 or 24C16, not " + szType);
      return 0;
    }
    image.SetRomSize(dwSize);
  }
  size_t nSize = 0;
  EBuildResult eBuild = image.BuildOutputImage(pOut, &nSize);
  if (eBuild != EBuildResult::kOk) {
    ctx.Fail(std::string("cannot build the image: ") + BuildResultText(eBuild));
    return 0;
  }
  return nSize;
}

// Reads a raw image file for write --raw and restore: its bytes as they are.
// The size must be one of the four EEPROM sizes and match --eeprom when
// given. Returns the size, 0 on failure (message written).
size_t LoadRawImage(CCliContext& ctx, const std::string& szFile, const std::string& szType,
                    uint8_t* pOut) {
  std::vector<uint8_t> buffer(kRomBufferSize, 0xFF);
  long n = ReadImageBytes(ctx, szFile, buffer.data(), buffer.size());
  if (n < 0) return 0;
  size_t nSize = static_cast<size_t>(n);
  if (nSize != 256 && nSize != 512 && nSize != 1024 && nSize != 2048) {
    ctx.Fail(szFile + ": " + std::to_string(nSize) +
             " bytes; a raw image must be 256, 512, 1024 or 2048 bytes");
    return 0;
  }
  if (!szType.empty()) {
    uint32_t dwSize = RomSizeFromEepromType(szType);
    if (dwSize == 0) {
      ctx.Fail("--eeprom must be 24C02, 24C04, 24C08 or 24C16, not " + szType);
      return 0;
    }
    if (dwSize != nSize) {
      ctx.Fail(szFile + ": " + std::to_string(nSize) + " bytes, but --eeprom " + szType +
               " holds " + std::to_string(dwSize));
      return 0;
    }
  }
  std::copy(buffer.begin(), buffer.begin() + static_cast<long>(nSize), pOut);
  return nSize;
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

// One board's protected write: read and save the previous contents (unless
// --no-backup), write and verify, and on failure write the backup back and
// verify it (unless --no-rollback). Nothing is written when the backup
// cannot be read or saved. Returns true on a verified write; failures are
// reported through ctx.Fail, the backup and rollback in the report.
bool GuardedWrite(CCliContext& ctx, const CDeviceOptions& o, CTransferRun& run,
                  const uint8_t* pImage, size_t nSize, TRANSFER_REPORT& report, bool bRollback) {
  report.bWrite = true;
  std::vector<uint8_t> vBackup;
  if (!o.bNoBackup) {
    int r = run.Read();
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
  int r = run.Write(pImage, nSize);
  if (r == 0) return true;
  if (r == 2 && run.Procedure().GetLastCode() == 0) {
    report.nMismatchAt = static_cast<size_t>(run.Procedure().GetFirstMismatch());
    // The other two failures carry this in the procedure's message.
    ctx.err << EepromStateText(run.Procedure().GetWriteState()) << '\n';
  }
  ctx.Fail(WriteFailureText(run, r, pImage));
  if (vBackup.empty()) return false;
  if (!bRollback || o.bNoRollback) {
    report.szRollback = "not attempted";
    ctx.err << "qrt4250-cli: not rolled back; the previous contents are in " << report.szBackup
            << '\n';
    return false;
  }
  int rBack = run.WriteAgain(vBackup.data(), vBackup.size());
  if (rBack == 0) {
    report.szRollback = "rolled back to the previous contents, verified";
  } else if (rBack == 2 && run.Procedure().GetLastCode() == 0) {
    // Read back in full: say how far it is from the previous contents.
    size_t nDiffer = 0;
    for (size_t i = 0; i < vBackup.size(); ++i) nDiffer += run.Load()[i] != vBackup[i];
    report.szRollback = "rollback failed (" + WriteFailureText(run, rBack, vBackup.data()) +
                        "): the EEPROM holds the previous contents except " +
                        std::to_string(nDiffer) + " byte(s)";
  } else {
    report.szRollback = "rollback failed (" + WriteFailureText(run, rBack, vBackup.data()) +
                        "): what the EEPROM holds is unknown";
  }
  ctx.err << "qrt4250-cli: " << report.szRollback << "; backup " << report.szBackup << '\n';
  return false;
}

void RunWrite(CCliContext& ctx, const CDeviceOptions& o, const std::string& szFile,
              const std::string& szType, const char* pszCommand) {
  CTransferReporter reporter(ctx, pszCommand, o.szProfile, o.bJson);
  reporter.Report().szFile = szFile;
  bool bRestore = std::string(pszCommand) == "restore";
  uint8_t image[kMaxImageSize];
  size_t nSize = o.bRaw || bRestore ? LoadRawImage(ctx, szFile, szType, image)
                                    : BuildImageFromFile(ctx, szFile, szType, image);
  if (nSize == 0) return;
  CTransferRun run(ctx, o, reporter.Report());
  if (!run.Start(static_cast<uint32_t>(nSize))) return;
  // A restore puts back contents that are wanted; rolling back to what it
  // replaced would undo that.
  if (!GuardedWrite(ctx, o, run, image, nSize, reporter.Report(), !bRestore) || o.bJson) return;
  ctx.out << (bRestore ? "restored " : "wrote ") << nSize << " bytes ("
          << EepromTypeText(static_cast<uint32_t>(nSize)) << ") to " << run.Device()
          << ", verified";
  if (!reporter.Report().szBackup.empty()) ctx.out << "; backup " << reporter.Report().szBackup;
  ctx.out << '\n';
}

void RunVerify(CCliContext& ctx, const CDeviceOptions& o, const std::string& szFile,
               const std::string& szType) {
  CTransferReporter reporter(ctx, "verify", o.szProfile, o.bJson);
  reporter.Report().szFile = szFile;
  uint8_t image[kMaxImageSize];
  size_t nSize = BuildImageFromFile(ctx, szFile, szType, image);
  if (nSize == 0) return;
  CTransferRun run(ctx, o, reporter.Report());
  if (!run.Start(static_cast<uint32_t>(nSize))) return;
  int r = run.Read();
  const std::vector<uint8_t>& load = run.Load();
  if (r != 0) {
    ctx.Fail("verify failed: read code " + std::to_string(r));
    return;
  }
  for (size_t i = 0; i < nSize; ++i) {
    if (load[i] != image[i]) {
      char sz[96];
      std::snprintf(sz, sizeof(sz),
                    "verify failed: data differ at 0x%04zX (file 0x%02X, EEPROM 0x%02X)", i,
                    image[i], load[i]);
      reporter.Report().nMismatchAt = i;
      ctx.Fail(sz);
      return;
    }
  }
  if (o.bJson) return;
  ctx.out << "verified " << nSize << " bytes (" << EepromTypeText(static_cast<uint32_t>(nSize))
          << ") on " << run.Device() << '\n';
}

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

struct CProgramTotals {
  int nPassed = 0;
  int nFailed = 0;
  int nSerials = 0;
  double dTotalS = 0;
};

// Programs one board and logs it. False when the run must stop (the serial
// counter or the log failed); a failed board is counted, not a reason to stop.
bool ProgramOneBoard(CCliContext& ctx, const CDeviceOptions& o, CDeviceSession& session,
                     CImageSession& base,
                     qrt::production::CSerialCounter* pCounter,
                     qrt::production::CProductionLog& log, CProgramTotals& totals) {
  using namespace qrt::production;
  auto start = std::chrono::steady_clock::now();
  TRANSFER_REPORT report;
  PRODUCTION_RECORD record;
  const uint16_t wVid = session.Board().wVID;
  const uint16_t wPid = session.Board().wPID;
  const std::string szPath = session.BoardPath().empty() ? Pair(wVid, wPid) : session.BoardPath();
  record.szTime = UtcTimeText();
  record.szPath = szPath;
  record.wVid = wVid;
  record.wPid = wPid;
  bool bStop = false;
  uint8_t image[kMaxImageSize];
  size_t nSize = 0;
  bool bPass = false;
  // The serial is taken (and the counter synced) before the board is
  // touched; from here on it is used, whatever happens to this board.
  if (pCounter) {
    uint64_t qwSerial = 0;
    std::string szError;
    if (pCounter->Allocate(qwSerial, szError) != ESerialResult::kOk) {
      ctx.Fail("serial counter: " + szError);
      return false;
    }
    record.qwSerial = qwSerial;
    ++totals.nSerials;
    qrt::editor::ParseSerialNumber(FormatSerial(qwSerial), base.m_RecInternalOpt.btSerialNumber);
    base.m_RecInternalOpt.btSerialNumberCtrl = 1;
  }
  EBuildResult eBuild = base.BuildOutputImage(image, &nSize);
  if (eBuild != EBuildResult::kOk) {
    ctx.Fail(std::string("cannot build the image: ") + BuildResultText(eBuild));
    bStop = true;
  } else {
    record.szImageSha256 = Sha256Hex(image, nSize);
    CTransferRun run(ctx, session, report);
    if (run.StartOn(static_cast<uint32_t>(nSize))) {
      bPass = GuardedWrite(ctx, o, run, image, nSize, report, true);
    }
  }
  record.nCode = report.nCode;
  record.szBackup = report.szBackup;
  record.szResult = bPass ? "pass"
                    : report.szRollback.rfind("rolled back", 0) == 0 ? "rolled-back"
                                                                      : "fail";
  record.dElapsedS =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  totals.dTotalS += record.dElapsedS;
  (bPass ? totals.nPassed : totals.nFailed) += 1;
  std::string szError;
  if (!log.Append(record, szError)) {
    ctx.Fail(szError);
    bStop = true;
  }
  char sz[200];
  std::snprintf(sz, sizeof(sz), "%s %s: %s%s%s, %.2f s (total %.2f s)", szPath.c_str(),
                Pair(wVid, wPid).c_str(), record.szResult.c_str(),
                record.qwSerial ? (bPass ? ", serial " : ", burned serial ") : "",
                record.qwSerial ? FormatSerial(*record.qwSerial).c_str() : "", record.dElapsedS,
                totals.dTotalS);
  ctx.out << sz << std::endl;
  return !bStop;
}

void RunProgram(CCliContext& ctx, const CDeviceOptions& o, const CProgramOptions& p) {
  using namespace qrt::production;
  // Everything that can be checked without a board is checked first, so a
  // bad option costs no serial and touches no board.
  std::vector<uint8_t> buffer(kRomBufferSize, 0xFF);
  long n = ReadImageBytes(ctx, p.szImage, buffer.data(), buffer.size());
  if (n < 0) return;
  CImageSession base;
  EApplyResult eApply = base.ApplyLoadedImage(buffer.data(), static_cast<size_t>(n));
  if (eApply != EApplyResult::kAccepted) {
    ctx.Fail(p.szImage + ": " + ApplyResultText(eApply));
    return;
  }
  base.SetRomSize(static_cast<uint32_t>(n));
  if (!p.szType.empty()) {
    uint32_t dwSize = RomSizeFromEepromType(p.szType);
    if (dwSize == 0) {
      ctx.Fail("--eeprom must be 24C02, 24C04, 24C08 or 24C16, not " + p.szType);
      return;
    }
    base.SetRomSize(dwSize);
  }
  std::unique_ptr<CSerialCounter> pCounter;
  if (!p.szSerialFile.empty()) {
    pCounter = std::make_unique<CSerialCounter>(p.szSerialFile);
    std::string szError;
    if (!p.szSerialStart.empty()) {
      uint64_t qwStart = 0;
      std::string szStart = p.szSerialStart;
      if (szStart.size() < 12) szStart.insert(0, 12 - szStart.size(), '0');
      if (!ParseSerial(szStart, qwStart)) {
        ctx.Fail("--serial-start must be 1 to 12 hex digits, not " + p.szSerialStart);
        return;
      }
      if (pCounter->CreateIfMissing(qwStart, szError) != ESerialResult::kOk) {
        ctx.Fail("serial counter: " + szError);
        return;
      }
    }
    uint64_t qwNext = 0;
    ESerialResult e = pCounter->Peek(qwNext, szError);
    if (e != ESerialResult::kOk) {
      ctx.Fail("serial counter: " + szError +
               (e == ESerialResult::kMissing ? " (--serial-start HEX creates it)" : ""));
      return;
    }
  } else if (!p.szSerialStart.empty()) {
    ctx.Fail("--serial-start needs --serial-file");
    return;
  }
  CProductionLog log;
  std::string szError;
  if (!log.Open(p.szLog, szError)) {
    ctx.Fail(szError);
    return;
  }
  CDeviceSession session(ctx, o);
  if (!session.Open()) return;
  // Without --all the board is chosen as for every other command (--path,
  // --device, else the one board of the first pair); --all takes every
  // present board by its path.
  std::vector<BOARD_INFO> vBoards;
  if (p.bAll) {
    DEVICE_LIST list;
    if (session.Mgr().Search_Present_Boards(list, &vBoards) != 0) {
      ctx.Fail("the device search failed");
      return;
    }
    if (vBoards.empty()) {
      ctx.Fail("no board present");
      return;
    }
  } else {
    uint16_t wVid = 0;
    uint16_t wPid = 0;
    if (!session.SelectDevice(wVid, wPid)) return;
    vBoards.push_back(session.Board());
  }
  CProgramTotals totals;
  for (const BOARD_INFO& board : vBoards) {
    if (p.bAll && !session.UseBoard(board)) {
      ++totals.nFailed;
      continue;
    }
    if (!ProgramOneBoard(ctx, o, session, base, pCounter.get(), log, totals)) break;
  }
  char sz[160];
  std::snprintf(sz, sizeof(sz), "%d passed, %d failed, %d serial(s) used, %.2f s", totals.nPassed,
                totals.nFailed, totals.nSerials, totals.dTotalS);
  ctx.out << sz << '\n';
  if (totals.nFailed > 0 && ctx.nExitCode == 0) ctx.nExitCode = 1;
}

}  // namespace

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

  auto pWrite = std::make_shared<CDeviceOptions>();
  auto pWriteFile = std::make_shared<std::string>();
  auto pWriteType = std::make_shared<std::string>();
  CLI::App* pWriteCmd =
      app.add_subcommand("write", "Write an image file to the EEPROM, read it back and compare");
  pWriteCmd->add_option("file", *pWriteFile, "Image file (.bin or .hex)")->required();
  pWriteCmd->add_option("--eeprom", *pWriteType, "EEPROM type (default: the file's size)");
  pWriteCmd->add_flag("--raw", pWrite->bRaw,
                      "Write the file's bytes as they are (256, 512, 1024 or 2048 bytes)");
  pWriteCmd->add_flag("--no-rollback", pWrite->bNoRollback,
                      "Leave a failed write as it is instead of writing the backup back");
  AddDeviceOptions(pWriteCmd, *pWrite);
  AddTransferOptions(pWriteCmd, *pWrite);
  AddBackupOptions(pWriteCmd, *pWrite);
  pWriteCmd->callback([&ctx, pWrite, pWriteFile, pWriteType] {
    RunWrite(ctx, *pWrite, *pWriteFile, *pWriteType, "write");
  });

  auto pRestore = std::make_shared<CDeviceOptions>();
  auto pRestoreFile = std::make_shared<std::string>();
  auto pRestoreType = std::make_shared<std::string>();
  CLI::App* pRestoreCmd = app.add_subcommand(
      "restore", "Write a backup back to the EEPROM as it is, read it back and compare");
  pRestoreCmd->add_option("backup", *pRestoreFile, "Backup file (.bin or .hex, raw)")->required();
  pRestoreCmd->add_option("--eeprom", *pRestoreType, "EEPROM type (default: the file's size)");
  AddDeviceOptions(pRestoreCmd, *pRestore);
  AddTransferOptions(pRestoreCmd, *pRestore);
  AddBackupOptions(pRestoreCmd, *pRestore);
  pRestoreCmd->callback([&ctx, pRestore, pRestoreFile, pRestoreType] {
    RunWrite(ctx, *pRestore, *pRestoreFile, *pRestoreType, "restore");
  });

  auto pProgram = std::make_shared<CDeviceOptions>();
  auto pProgramOpts = std::make_shared<CProgramOptions>();
  CLI::App* pProgramCmd = app.add_subcommand(
      "program", "Production: backup, serial, write and verify, rollback and a log line per board");
  pProgramCmd->add_option("--image", pProgramOpts->szImage, "Base image (.bin or .hex)")
      ->required();
  pProgramCmd->add_option("--serial-file", pProgramOpts->szSerialFile,
                          "Counter file holding the next serial (12 hex digits)");
  pProgramCmd->add_option("--serial-start", pProgramOpts->szSerialStart,
                          "Create the counter file with this serial when it is missing");
  pProgramCmd->add_option("--log", pProgramOpts->szLog, "Production log (JSON lines, appended)")
      ->required();
  pProgramCmd->add_flag("--all", pProgramOpts->bAll, "Program every present board in turn");
  pProgramCmd->add_option("--eeprom", pProgramOpts->szType, "EEPROM type (default: the image's size)");
  AddDeviceOptions(pProgramCmd, *pProgram);
  AddTransferOptions(pProgramCmd, *pProgram);
  pProgramCmd->remove_option(pProgramCmd->get_option("--json"));  // the log is the record
  pProgramCmd->callback(
      [&ctx, pProgram, pProgramOpts] { RunProgram(ctx, *pProgram, *pProgramOpts); });

  auto pVerify = std::make_shared<CDeviceOptions>();
  auto pVerifyFile = std::make_shared<std::string>();
  auto pVerifyType = std::make_shared<std::string>();
  CLI::App* pVerifyCmd =
      app.add_subcommand("verify", "Compare the EEPROM with an image file's output image");
  pVerifyCmd->add_option("file", *pVerifyFile, "Image file (.bin or .hex)")->required();
  pVerifyCmd->add_option("--eeprom", *pVerifyType, "EEPROM type (default: the file's size)");
  AddDeviceOptions(pVerifyCmd, *pVerify);
  AddTransferOptions(pVerifyCmd, *pVerify);
  pVerifyCmd->callback([&ctx, pVerify, pVerifyFile, pVerifyType] {
    RunVerify(ctx, *pVerify, *pVerifyFile, *pVerifyType);
  });
}

}  // namespace qrt::cli
