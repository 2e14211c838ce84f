// The device session and the transfer run every device command uses.
#include "DeviceSession.h"

#include <cctype>
#include <cstdio>
#include <iostream>

#include "ImageFiles.h"
#include "TerminalText.h"
#include "WriteOutcome.h"
#include "platform/StandardStreams.h"

namespace qrt::cli {

using namespace qrt::image;
using namespace USB42XX_MGR;
using qrt::transfer::ELanguage;
using json = nlohmann::ordered_json;

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
  std::string szError;
  if (qrt::transfer::WriteImageFileByName(szPath, pData, n, szError)) return true;
  ctx.Fail(szError);
  return false;
}

json BoardJson(const BOARD_INFO& board) {
  auto hex4 = [](unsigned n) {
    char sz[8];
    std::snprintf(sz, sizeof sz, "%.4X", n & 0xFFFF);
    return std::string(sz);
  };
  auto orNull = [](const std::string& s) { return s.empty() ? json(nullptr) : json(s); };
  const BOARD_ID& id = board.Id;
  json j{{"path", orNull(id.szPath)},      {"vid", hex4(id.wVID)},
         {"pid", hex4(id.wPID)},           {"chipId", hex4(board.wChipId)},
         {"layout", board.btLayout},       {"usb", orNull(id.szUsbTopology)},
         {"serial", orNull(id.szUsbSerial)}};
  // Only a board whose chip did not answer, or that another program held
  // (chip id and layout are then 0), has them.
  if (!board.szProbeFailure.empty()) j["probeFailure"] = board.szProbeFailure;
  if (!board.szHeldBy.empty()) j["heldBy"] = board.szHeldBy;
  return j;
}

CCliObserver::CCliObserver(CCliContext& ctx)
    : m_Ctx(ctx), m_bBar(&ctx.err == &std::cerr && platform::StandardErrorIsTerminal()) {}

void CCliObserver::OnPlainMessage(const std::string& szText) {
  EndBar();
  m_Ctx.err << szText << '\n';
}

void CCliObserver::OnProgress(EEepromProgress eKind, int nPercent) {
  if (!m_bBar || eKind == EEepromProgress::Probe) return;
  const char* pszLabel = eKind == EEepromProgress::Read    ? "read  "
                         : eKind == EEepromProgress::Write ? "write "
                                                           : "verify";
  if (nPercent == m_nLastPercent && pszLabel == m_pszLastLabel) return;
  m_nLastPercent = nPercent;
  m_pszLastLabel = pszLabel;
  const int nFilled = nPercent * 40 / 100;
  std::string szBar(static_cast<size_t>(nFilled), '#');
  szBar.resize(40, '.');
  m_Ctx.err << '\r' << pszLabel << " [" << szBar << "] " << nPercent << "%" << std::flush;
  m_bOpen = true;
}

void CCliObserver::EndBar() {
  if (m_bOpen) m_Ctx.err << '\n';
  m_bOpen = false;
  m_nLastPercent = -1;
}

CDeviceSession::~CDeviceSession() {
  if (!m_pDevices) return;
  std::vector<std::string> vErrors, vWarnings;
  m_pDevices->Finish(vErrors, vWarnings);
  for (const std::string& szError : vErrors) m_Ctx.Fail(szError);
  for (const std::string& szWarning : vWarnings) m_Ctx.Warn(szWarning);
}

bool CDeviceSession::Open() {
  std::string szError;
  m_pDevices = qrt::transfer::CDevicePlatform::Create(m_Options.bSimulate, m_Options.Sim, szError);
  if (!m_pDevices) m_Ctx.Fail(szError);
  return m_pDevices != nullptr;
}

std::unique_ptr<CBoardHandle> OpenChosenBoard(CCliContext& ctx, const CDeviceOptions& o,
                                              IHidPlatform& platform, const BOARD_ID& board) {
  BOARD_OPEN_RESULT result;
  std::unique_ptr<CBoardHandle> pBoard = OpenBoard(platform, board, LockWaitOf(ctx, o), result);
  if (pBoard) return pBoard;
  if (result.eResult == EBoardOpen::kGone) {
    ctx.Fail("the board at " + board.Label() + " is gone");
  } else if (result.eResult == EBoardOpen::kProbeFailed) {
    ctx.Fail("the board at " + board.Label() + ": " + result.szWhy);
  } else {
    std::string szWhy = result.szWhy;
    szWhy[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(szWhy[0])));
    ctx.Fail(szWhy);
  }
  return nullptr;
}

bool CTransferRun::Start(uint32_t dwRomSize) {
  m_Start = std::chrono::steady_clock::now();
  const CDeviceOptions& o = m_Session.Options();
  qrt::transfer::BOARD_CHOICE choice;
  BOARD_INFO chosen;
  std::string szError;
  if (!m_Session.Open() || !BoardChoiceOf(m_Ctx, o, choice)) return false;
  if (!qrt::transfer::ChooseBoard(m_Session.Platform(), choice, chosen, szError)) {
    m_Ctx.Fail(szError);
    return false;
  }
  m_Report.jBoard = BoardJson(chosen);
  if (!TransferSettingsOf(m_Ctx, o, m_Settings)) return false;
  m_pBoard = OpenChosenBoard(m_Ctx, o, m_Session.Platform(), chosen.Id);
  if (!m_pBoard) return false;
  m_Settings.m_bReportId = m_pBoard->ReportIdFlag();  // the chip's own report-ID need
  m_Settings.m_dwRomSize = dwRomSize;
  return true;
}

int CTransferRun::Read() {
  CEepromProcedure procedure(*m_pBoard, m_Observer);
  procedure.Settings() = m_Settings;
  m_vLoad.assign(CEepromProcedure::kBufferSize, 0xFF);
  const int r = procedure.ReadDataFromEEPROM(m_vLoad.data(), m_vLoad.size());
  m_Observer.EndBar();
  Finished(r, procedure.GetTransferLength());
  return r;
}

bool CTransferRun::ProtectedWrite(const uint8_t* pImage, size_t nSize, bool bRollback) {
  const CDeviceOptions& o = m_Session.Options();
  m_Report.bWrite = true;
  qrt::transfer::PROTECTED_WRITE_OPTIONS options;
  options.bBackup = !o.bNoBackup;
  options.szBackupFile = o.szBackup;
  options.bRollback = bRollback && !o.bNoRollback;
  options.fnWriteFailed = [this](const qrt::transfer::WRITE_OUTCOME& outcome) {
    m_Observer.EndBar();
    PrintWriteFailure(m_Ctx, outcome);
  };
  const qrt::transfer::WRITE_OUTCOME outcome =
      qrt::transfer::ProtectedWrite(*m_pBoard, m_Settings, m_Observer, pImage, nSize, options);
  m_Observer.EndBar();
  if (!outcome.vReadBack.empty()) m_vLoad = outcome.vReadBack;
  if (outcome.nBytes != 0) Finished(outcome.Code(), outcome.nBytes);
  m_Report.szBackup = outcome.szBackupFile;
  m_Report.szRollback = qrt::transfer::RollbackText(outcome, ELanguage::kEnglish);
  if (outcome.Write.Compared()) m_Report.nMismatchAt = outcome.Write.nMismatchAt;
  PrintWriteEnd(m_Ctx, outcome);
  return outcome.Passed();
}

std::string CTransferRun::Device() const {
  const BOARD_ID& id = m_pBoard->Id();
  return PairText(id.wVID, id.wPID) + (id.szPath.empty() ? "" : " at " + id.szPath);
}

void CTransferRun::Finished(int nCode, size_t nBytes) {
  m_Report.bTransferred = true;
  m_Report.nCode = nCode;
  m_Report.nBytes = nBytes;
  m_Report.dElapsedS =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_Start).count();
  m_Report.dSimulatedS = m_Session.SimulatedSeconds();
}

void PrintWriteFailure(CCliContext& ctx, const qrt::transfer::WRITE_OUTCOME& outcome) {
  // The other two failures carry the state in the procedure's message.
  if (outcome.Write.Compared()) {
    ctx.err << qrt::transfer::StateText(outcome.Write.State, ELanguage::kEnglish) << '\n';
  }
  ctx.Fail(qrt::transfer::FailureText(outcome.Write, ELanguage::kEnglish));
}

void PrintWriteEnd(CCliContext& ctx, const qrt::transfer::WRITE_OUTCOME& outcome) {
  using qrt::transfer::ERollback;
  using qrt::transfer::EWriteStep;
  if (outcome.eStopped == EWriteStep::kBackupRead || outcome.eStopped == EWriteStep::kBackupSave) {
    ctx.Fail(qrt::transfer::StopText(outcome, ELanguage::kEnglish));
  }
  if (outcome.eRollback == ERollback::kNotAttempted) {
    ctx.err << "qrt4250-cli: "
            << qrt::diag::EscapeControls(
                   qrt::transfer::NotRolledBackText(outcome, ELanguage::kEnglish))
            << '\n';
  } else if (outcome.eRollback != ERollback::kNone) {
    ctx.err << "qrt4250-cli: " << qrt::transfer::RollbackText(outcome, ELanguage::kEnglish)
            << "; backup " << qrt::diag::EscapeControls(outcome.szBackupFile) << '\n';
  }
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
