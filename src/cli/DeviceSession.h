#pragma once
// What the device commands share: their options, the device session (the
// platform, the facade, the chosen board), the transfer run with its progress
// output, and the protected write of write, restore and program.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "CliApp.h"
#include "DeviceIdStore.h"
#include "EepromProcedure.h"
#include "ImageSession.h"
#include "NamedMutex.h"
#include "SimFaultOptions.h"
#include "SimPlatform.h"
#include "TransferReport.h"
#include "Usb42xxMgr.h"
#include "platform/SystemPlatform.h"

namespace CLI {
class App;
}

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

// "3A7C:4250".
std::string Pair(uint16_t wVid, uint16_t wPid);

// The options of every device command, of read/write/verify/restore/program
// (profile, write cycle, --json) and of the commands that take a backup.
void AddDeviceOptions(CLI::App* pCommand, CDeviceOptions& o);
void AddTransferOptions(CLI::App* pCommand, CDeviceOptions& o);
void AddBackupOptions(CLI::App* pCommand, CDeviceOptions& o);

// Reads a .bin/.hex file into buffer; returns the byte count or -1 (message
// written through Fail).
long ReadImageBytes(CCliContext& ctx, const std::string& szPath, uint8_t* pBuffer, size_t nSize);
// Writes n bytes as .bin or .hex by the path's name. False (message written)
// when the name has neither or the file cannot be written.
bool WriteImageBytes(CCliContext& ctx, const std::string& szPath, const uint8_t* pData, size_t n);

// A board as list --json and the --json reports show it.
nlohmann::ordered_json BoardJson(const USB42XX_MGR::BOARD_INFO& board);

// Progress on stderr (a bar only when it is a terminal) and the procedure's
// plain messages, one line each.
class CCliObserver : public USB42XX_MGR::IEepromObserver {
 public:
  explicit CCliObserver(CCliContext& ctx);
  ~CCliObserver() override { EndBar(); }

  void OnSelectDeviceFailed() override {
    EndBar();
    m_Ctx.err << "qrt4250-cli: warning: the device could not be selected\n";
  }
  void OnPlainMessage(const std::string& szText) override {
    if (m_bHideReadOk && szText == "Load data from EEPROM OK!") return;
    EndBar();
    m_Ctx.err << szText << '\n';
  }
  // A read inside another command (the backup of a write) is no result of
  // its own: its success message box text is not printed.
  void HideReadOk(bool bHide) { m_bHideReadOk = bHide; }
  void OnProgress(USB42XX_MGR::EEepromProgress eKind, int nPercent) override {
    if (!m_bBar || eKind == USB42XX_MGR::EEepromProgress::Probe) return;
    const char* pszLabel = eKind == USB42XX_MGR::EEepromProgress::Read    ? "read  "
                           : eKind == USB42XX_MGR::EEepromProgress::Write ? "write "
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
  bool m_bHideReadOk = false;
  int m_nLastPercent = -1;
  const char* m_pszLastLabel = nullptr;
};

// The CLI always searches by the chip probe (device-id check off), so the
// device-id groups are never consulted: an empty store will do.
class CNoDeviceIdStore : public USB42XX_MGR::IDeviceIdStore {
 public:
  bool OpenGroup(const std::string&) override { return false; }
  bool ReadValue(const std::string&, const std::string&, std::string&) override { return false; }
};

// The platform, the facade and the selected device of one command.
class CDeviceSession {
 public:
  CDeviceSession(CCliContext& ctx, const CDeviceOptions& o) : m_Ctx(ctx), m_Options(o) {}
  // Hands pending hot-plug events to the facade and writes the --sim-save
  // files and the --sim-log.
  ~CDeviceSession();
  CDeviceSession(const CDeviceSession&) = delete;
  CDeviceSession& operator=(const CDeviceSession&) = delete;

  // Builds the platform and the facade. False (message written) on failure.
  bool Open();

  // The board to work on: --path when given, else the one board of
  // --device's pair or of the first listed pair. Two boards of one pair are
  // refused without --path: picking one would program the wrong unit. False
  // (message written) when there is none or the choice is ambiguous.
  bool SelectDevice(uint16_t& wVid, uint16_t& wPid);

  // Pins one listed board (program --all walks them in turn). False
  // (message written, the reason in pszWhy when given) when it is gone or
  // its chip does not answer the probe.
  bool UseBoard(const USB42XX_MGR::BOARD_INFO& board, std::string* pszWhy = nullptr);

  const std::string& BoardPath() const { return m_szBoardPath; }
  const USB42XX_MGR::BOARD_INFO& Board() const { return m_Board; }

  // A procedure for the device with the command's timing and speed; null
  // (message written) when --i2c-speed is not a hex byte.
  std::unique_ptr<USB42XX_MGR::CEepromProcedure> MakeProcedure(
      USB42XX_MGR::IEepromObserver& observer, uint16_t wVid, uint16_t wPid, uint32_t dwRomSize);

  USB42XX_MGR::CUsb42xxMgr& Mgr() { return *m_pMgr; }
  // The platform under the facade (after Open).
  USB42XX_MGR::IHidPlatform& Platform();
  // The simulated platform; null on real boards.
  sim::CSimPlatform* Simulator() { return m_pSim.get(); }

  // Time of the simulated device since it was made, in seconds; none on a
  // real board.
  std::optional<double> SimulatedSeconds() const;

 private:
  uint32_t LockTimeOutMs() const;
  // The device lock for the whole command, taken before the facade so that
  // a lock held elsewhere is waited for once, with a word to the user, and
  // ends the command (nothing sent, nothing written) after --lock-timeout.
  bool TakeDeviceLock();
  void WriteSimLog();
  bool OpenSimulator();

  CCliContext& m_Ctx;
  const CDeviceOptions& m_Options;
  CNoDeviceIdStore m_Store;
  std::unique_ptr<sim::CSimPlatform> m_pSim;
  std::unique_ptr<USB42XX_MGR::IHidPlatform> m_pSystem;  // the machine's boards
  std::vector<sim::SIM_FAULTS> m_vFaults;
  std::unique_ptr<USB42XX_MGR::CNamedMutex> m_pDeviceLock;  // outlives the facade
  std::unique_ptr<USB42XX_MGR::CUsb42xxMgr> m_pMgr;
  std::string m_szBoardPath;
  USB42XX_MGR::BOARD_INFO m_Board;
};

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

  // The read of the previous contents before a write.
  int ReadForBackup() {
    m_Observer.HideReadOk(true);
    const int r = Read();
    m_Observer.HideReadOk(false);
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

  USB42XX_MGR::CEepromProcedure& Procedure() { return *m_pProcedure; }
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
  std::unique_ptr<USB42XX_MGR::CEepromProcedure> m_pProcedure;
  std::vector<uint8_t> m_vLoad = std::vector<uint8_t>(qrt::image::kRomBufferSize, 0xFF);
  uint16_t m_wVid = 0;
  uint16_t m_wPid = 0;
};

// One board's protected write: read and save the previous contents (unless
// --no-backup), write and verify, and on failure write the backup back and
// verify it (unless --no-rollback). Nothing is written when the backup
// cannot be read or saved. Returns true on a verified write; failures are
// reported through ctx.Fail, the backup and rollback in the report.
// fnBeforeWrite runs once the backup is saved, before the first byte goes
// out (program takes the serial there and finishes pImage); false from it
// writes nothing.
bool GuardedWrite(CCliContext& ctx, const CDeviceOptions& o, CTransferRun& run,
                  const uint8_t* pImage, size_t nSize, TRANSFER_REPORT& report, bool bRollback,
                  const std::function<bool()>& fnBeforeWrite = {});

}  // namespace qrt::cli
