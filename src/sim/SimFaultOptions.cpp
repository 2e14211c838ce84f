#include "SimFaultOptions.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "TextNumbers.h"

namespace qrt::sim {
namespace {

std::vector<std::string> Split(const std::string& szText, char cSeparator) {
  std::vector<std::string> vParts;
  std::string szPart;
  std::istringstream stream(szText);
  while (std::getline(stream, szPart, cSeparator)) vParts.push_back(szPart);
  if (!szText.empty() && szText.back() == cSeparator) vParts.emplace_back();
  return vParts;
}

// Decimal, or hex after 0x ("flip:0x40").
bool ParseNumber(const std::string& szText, uint64_t qwMax, uint64_t& qwValue) {
  return qrt::diag::ParseNumber(szText, qwMax, qwValue);
}

}  // namespace

bool ParseSimFaultSpec(const std::string& szSpec, SIM_FAULTS& faults, SIM_CHIP_CONFIG& config,
                       std::string& szError) {
  SIM_FAULTS newFaults = faults;
  SIM_CHIP_CONFIG newConfig = config;
  if (szSpec.empty()) {
    szError = "empty fault spec";
    return false;
  }
  for (const std::string& szItem : Split(szSpec, ',')) {
    std::vector<std::string> vArgs = Split(szItem, ':');
    const std::string& szName = vArgs.empty() ? szItem : vArgs[0];
    size_t nArgs = vArgs.empty() ? 0 : vArgs.size() - 1;
    uint64_t a = 0, b = 0;
    bool bOk = false;
    if (szName == "refuse-output" || szName == "fail-input" || szName == "unplug" ||
        szName == "busy-reads" || szName == "write-cycle-us" || szName == "latency-us") {
      bOk = nArgs == 1 && ParseNumber(vArgs[1], 0xFFFFFFFFu, a);
      bool bReportNumber =
          szName == "refuse-output" || szName == "fail-input" || szName == "unplug";
      if (bOk && bReportNumber && a == 0) bOk = false;
      if (bOk) {
        uint32_t dw = static_cast<uint32_t>(a);
        if (szName == "refuse-output") newFaults.dwRefuseOutput = dw;
        if (szName == "fail-input") newFaults.dwFailInput = dw;
        if (szName == "unplug") newFaults.dwUnplugAtReport = dw;
        if (szName == "busy-reads") newConfig.dwBusyReads = dw;
        if (szName == "write-cycle-us") newConfig.dwWriteCycleUs = dw;
        if (szName == "latency-us") newConfig.dwLatencyUs = dw;
      }
    } else if (szName == "stay-busy" || szName == "write-protect") {
      bOk = nArgs == 0;
      if (bOk && szName == "stay-busy") newFaults.bStayBusy = true;
      if (bOk && szName == "write-protect") newFaults.bWriteProtect = true;
    } else if (szName == "flip" || szName == "flip-once") {
      bOk = (nArgs == 1 || nArgs == 2) && ParseNumber(vArgs[1], 4095, a);
      b = 1;
      if (bOk && nArgs == 2) bOk = ParseNumber(vArgs[2], 0xFF, b) && b != 0;
      if (bOk) {
        newFaults.nFlipAddress = static_cast<int32_t>(a);
        newFaults.btFlipMask = static_cast<uint8_t>(b);
        newFaults.bFlipOnce = szName == "flip-once";
      }
    } else if (szName == "random") {
      bOk = nArgs == 2 && ParseNumber(vArgs[1], 0xFFFFFFFFu, a);
      if (bOk) {
        char* pEnd = nullptr;
        double d = std::strtod(vArgs[2].c_str(), &pEnd);
        bOk = !vArgs[2].empty() && *pEnd == '\0' && d > 0 && d <= 1;
        if (bOk) {
          newFaults.dwRandomSeed = static_cast<uint32_t>(a);
          newFaults.dRandomProbability = d;
        }
      }
    }
    if (!bOk) {
      szError = "bad fault spec item \"" + szItem + "\"";
      return false;
    }
  }
  faults = newFaults;
  config = newConfig;
  return true;
}

bool ParseBoardFaultSpec(const std::string& szSpec, std::vector<SIM_FAULTS>& vFaults,
                         std::vector<SIM_CHIP_CONFIG>& vConfigs, std::string& szError) {
  const size_t nBoards = std::min(vFaults.size(), vConfigs.size());
  size_t nFirst = 0, nEnd = nBoards;
  std::string szItems = szSpec;
  const size_t nAt = szSpec.find('@');
  if (nAt != std::string::npos) {
    uint64_t qwBoard = 0;
    if (!ParseNumber(szSpec.substr(0, nAt), nBoards, qwBoard) || qwBoard == 0) {
      szError = "no simulated board " + szSpec.substr(0, nAt) + " (1.." +
                std::to_string(nBoards) + ")";
      return false;
    }
    nFirst = static_cast<size_t>(qwBoard - 1);
    nEnd = nFirst + 1;
    szItems = szSpec.substr(nAt + 1);
  }
  std::vector<SIM_FAULTS> vNewFaults = vFaults;
  std::vector<SIM_CHIP_CONFIG> vNewConfigs = vConfigs;
  for (size_t i = nFirst; i < nEnd; ++i) {
    if (!ParseSimFaultSpec(szItems, vNewFaults[i], vNewConfigs[i], szError)) return false;
  }
  vFaults = std::move(vNewFaults);
  vConfigs = std::move(vNewConfigs);
  return true;
}

}  // namespace qrt::sim
