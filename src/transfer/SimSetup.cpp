#include "SimSetup.h"

#include <algorithm>

#include "FileReplace.h"
#include "ImageFiles.h"
#include "RomDataMgr.h"
#include "SimFaultOptions.h"
#include "SimReportLog.h"

namespace qrt::transfer {

using namespace qrt::image;

const std::vector<SIM_OPTION_TEXT>& SimOptionTexts() {
  static const std::vector<SIM_OPTION_TEXT> vTexts = {
      {"--simulate", "",
       "Run on in-process simulated QRT4250 boards (VID 3A7C, PID 4250) instead of the "
       "devices of this machine"},
      {"--sim-image", "FILE",
       "Seed the simulated EEPROM from a .bin/.hex file (default: the built-in default image, "
       "rest 0xFF)"},
      {"--sim-eeprom", "TYPE", "Simulated EEPROM: 24C02..24C16 (default 24C02)"},
      {"--sim-layout", "N", "Simulated report layout 0, 1 or 2 (default 0)"},
      {"--sim-boards", "N", "Identical simulated boards sim:1..sim:N, 1-8 (default 1)"},
      {"--sim-save", "FILE",
       "Write the simulated EEPROM to a .bin/.hex file at exit (board k > 1: FILE with .k "
       "before the extension)"},
      {"--sim-log", "FILE", "Write simulated board 1's report log to a text file at exit"},
      {"--sim-fault", "SPEC",
       "Inject faults and timing (repeatable; K@SPEC: board K only), e.g. flip-once:0x40"},
      {"--sim-realtime", "",
       "Sleep for real in the simulator (the command line's default is a virtual clock; the "
       "window always sleeps for real)"},
  };
  return vTexts;
}

std::string SimOptionHelp(std::string_view szName) {
  for (const SIM_OPTION_TEXT& text : SimOptionTexts()) {
    if (text.szName == szName) return std::string(text.szHelp);
  }
  return {};
}

bool ParseSimSpec(const SIM_OPTIONS& options, SIM_SPEC& spec, std::string& szError) {
  const uint32_t dwSize = RomSizeFromEepromType(options.szEeprom);
  if (dwSize == 0) {
    szError = "--sim-eeprom must be 24C02, 24C04, 24C08 or 24C16";
    return false;
  }
  if (options.nLayout < 0 || options.nLayout > 2) {
    szError = "--sim-layout must be 0, 1 or 2";
    return false;
  }
  if (options.nBoards < 1 || options.nBoards > kMaxSimBoards) {
    szError = "--sim-boards must be 1 to 8";
    return false;
  }
  SIM_SPEC parsed;
  sim::SIM_CHIP_CONFIG chip;
  chip.nLayout = static_cast<uint8_t>(options.nLayout);
  chip.dwEepromSize = dwSize;
  const size_t nBoards = static_cast<size_t>(options.nBoards);
  parsed.vChips.assign(nBoards, chip);
  parsed.vFaults.assign(nBoards, sim::SIM_FAULTS{});
  for (const std::string& szSpec : options.vFaults) {
    std::string szWhy;
    if (!sim::ParseBoardFaultSpec(szSpec, parsed.vFaults, parsed.vChips, szWhy)) {
      szError = "--sim-fault: " + szWhy;
      return false;
    }
  }
  std::vector<uint8_t> vSeed(kRomBufferSize, 0xFF);
  size_t nSeed = kHeaderSize;
  if (options.szImage.empty()) {
    std::copy(g_btDefaultImage, g_btDefaultImage + kHeaderSize, vSeed.begin());
  } else {
    const int r = ReadImageFile(options.szImage, vSeed.data(), vSeed.size(), &nSeed);
    if (r != kReadOk) {
      szError = QuoteText(options.szImage) + ": " + ReadImageFileError(r);
      return false;
    }
  }
  vSeed.resize(nSeed);
  parsed.vSeed = std::move(vSeed);
  parsed.szSave = options.szSave;
  parsed.szLog = options.szLog;
  parsed.bRealTime = options.bRealTime;
  spec = std::move(parsed);
  return true;
}

CSimRig::CSimRig(const SIM_SPEC& spec) : m_Spec(spec), m_Platform(spec.bRealTime) {
  for (size_t i = 0; i < m_Spec.vChips.size(); ++i) {
    sim::SIM_DEVICE_CONFIG device;
    device.wVID = kSimVid;
    device.wPID = kSimPid;
    device.Chip = m_Spec.vChips[i];
    const size_t nIndex = m_Platform.AddDevice(device);
    sim::CSimChip& chip = m_Platform.Chip(nIndex);
    // Board 1 logs every report when --sim-log asks for it.
    chip.SetReportLogEnabled(i == 0 && !m_Spec.szLog.empty());
    chip.SetEepromContents(m_Spec.vSeed.data(), m_Spec.vSeed.size());
    chip.SetFaults(m_Spec.vFaults[i]);
  }
}

void CSimRig::WriteFiles(std::vector<std::string>& vErrors, std::vector<std::string>& vWarnings) {
  if (!m_Spec.szSave.empty()) {
    for (size_t i = 0; i < m_Platform.DeviceCount(); ++i) {
      const auto& eeprom = m_Platform.Chip(i).Eeprom();
      std::string szError;
      if (!WriteImageFileByName(SimSaveName(m_Spec.szSave, i + 1), eeprom.data(), eeprom.size(),
                                szError)) {
        vErrors.push_back(szError);
      }
    }
  }
  if (m_Spec.szLog.empty() || m_Platform.DeviceCount() == 0) return;
  std::string szText;
  for (const auto& entry : m_Platform.Chip(0).ReportLog()) {
    szText += sim::FormatReportLogLine(entry);
    szText += '\n';
  }
  // Written as every output file is replaced: links followed only by the
  // rule for shared folders, a FIFO or device refused rather than waited on,
  // and a failure leaves the file that was there.
  std::string szWhy;
  if (ReplaceFileContents(m_Spec.szLog, reinterpret_cast<const uint8_t*>(szText.data()),
                          szText.size(), {}, &szWhy) != 0) {
    vWarnings.push_back(QuoteText(m_Spec.szLog) + ": cannot write the log: " + szWhy);
  }
}

std::unique_ptr<CSimRig> CreateSimPlatform(const SIM_SPEC& spec) {
  return std::make_unique<CSimRig>(spec);
}

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

bool WriteImageFileByName(const std::string& szPath, const uint8_t* pData, size_t n,
                          std::string& szError) {
  const EImageFileType type = GetImageFileTypeByPath(szPath);
  if (type == EImageFileType::kUnknown) {
    szError = QuoteText(szPath) + ": the output name needs .bin or .hex";
    return false;
  }
  std::string szWhy;
  const int r = type == EImageFileType::kBin ? WriteBinFile(szPath, pData, n, {}, &szWhy)
                                             : WriteHexFile(szPath, pData, n, {}, &szWhy);
  if (r == kWriteOk) return true;
  szError = QuoteText(szPath) + ": cannot write the file: " + szWhy;
  return false;
}

}  // namespace qrt::transfer
