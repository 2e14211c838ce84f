#pragma once
// What the device commands share: the session (the boards of the run, and
// what it leaves at its end), the progress output, the transfer run on the
// chosen board, and the lines of a protected write.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "BoardHandle.h"
#include "CliApp.h"
#include "DeviceOptions.h"
#include "DevicePlatform.h"
#include "EepromProcedure.h"
#include "ProtectedWrite.h"
#include "TransferReport.h"

namespace qrt::cli {

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
  void OnPlainMessage(const std::string& szText) override;
  void OnProgress(USB42XX_MGR::EEepromProgress eKind, int nPercent) override;
  void EndBar();

 private:
  CCliContext& m_Ctx;
  bool m_bBar;
  bool m_bOpen = false;
  int m_nLastPercent = -1;
  const char* m_pszLastLabel = nullptr;
};

// The boards of one command: simulated or the machine's. At its end the
// pending hot-plug events are handed on and the simulator's files written.
class CDeviceSession {
 public:
  CDeviceSession(CCliContext& ctx, const CDeviceOptions& o) : m_Ctx(ctx), m_Options(o) {}
  ~CDeviceSession();
  CDeviceSession(const CDeviceSession&) = delete;
  CDeviceSession& operator=(const CDeviceSession&) = delete;

  // Builds the platform. False (message written) when the simulator's
  // options are refused.
  bool Open();
  USB42XX_MGR::IHidPlatform& Platform() { return m_pDevices->Platform(); }
  qrt::sim::CSimPlatform* Simulator() { return m_pDevices->Simulator(); }
  std::optional<double> SimulatedSeconds() { return m_pDevices->SimulatedSeconds(); }
  const CDeviceOptions& Options() const { return m_Options; }

 private:
  CCliContext& m_Ctx;
  const CDeviceOptions& m_Options;
  std::unique_ptr<qrt::transfer::CDevicePlatform> m_pDevices;
};

// One transfer command on the chosen board: the session, the board opened
// under its lock, the procedure with the command's timing, the report's
// times, and a load buffer that is 0xFF beyond what was read.
class CTransferRun {
 public:
  CTransferRun(CCliContext& ctx, const CDeviceOptions& o, TRANSFER_REPORT& report)
      : m_Session(ctx, o), m_Ctx(ctx), m_Observer(ctx), m_Report(report) {}

  // Opens the platform, chooses and opens the board. False (message
  // written) when the device or the options do not allow it.
  bool Start(uint32_t dwRomSize);
  int Read();
  // The protected write (write, restore); its lines printed, the report
  // filled. True on a verified write.
  bool ProtectedWrite(const uint8_t* pImage, size_t nSize, bool bRollback);

  const std::vector<uint8_t>& Load() const { return m_vLoad; }
  // "3A7C:4250 at sim:1".
  std::string Device() const;

 private:
  void Finished(int nCode, size_t nBytes);

  CDeviceSession m_Session;
  CCliContext& m_Ctx;
  CCliObserver m_Observer;
  TRANSFER_REPORT& m_Report;
  std::chrono::steady_clock::time_point m_Start;
  std::unique_ptr<USB42XX_MGR::CBoardHandle> m_pBoard;
  USB42XX_MGR::EEPROM_TRANSFER_SETTINGS m_Settings;
  std::vector<uint8_t> m_vLoad;
};

// Opens a chosen board under its lock as the options say. Null (message
// written: "the board at sim:2 is gone", the lock's reason) when it cannot.
std::unique_ptr<USB42XX_MGR::CBoardHandle> OpenChosenBoard(CCliContext& ctx,
                                                           const CDeviceOptions& o,
                                                           USB42XX_MGR::IHidPlatform& platform,
                                                           const USB42XX_MGR::BOARD_ID& board);

// The lines of a protected write's failure after the write, before any
// rollback (the state of a failed comparison, the error line).
void PrintWriteFailure(CCliContext& ctx, const qrt::transfer::WRITE_OUTCOME& outcome);
// The lines after it: why nothing was written, the rollback with the
// backup's name.
void PrintWriteEnd(CCliContext& ctx, const qrt::transfer::WRITE_OUTCOME& outcome);

}  // namespace qrt::cli
