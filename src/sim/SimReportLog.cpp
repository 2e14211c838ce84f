#include "SimReportLog.h"

namespace qrt::sim {

std::string FormatReportLogLine(const SIM_REPORT_LOG_ENTRY& entry) {
  std::string szLine = entry.bOutput ? "out" : "in";
  if (!entry.bDelivered) szLine += entry.bOutput ? "-refused" : "-failed";
  for (uint8_t bt : entry.vBytes) {
    char szByte[4];
    std::snprintf(szByte, sizeof szByte, " %02X", bt);
    szLine += szByte;
  }
  return szLine;
}

bool WriteReportLog(const std::vector<SIM_REPORT_LOG_ENTRY>& vLog, size_t nFirst, FILE* pFile) {
  if (pFile == nullptr) return false;
  for (size_t i = nFirst; i < vLog.size(); ++i) {
    const std::string szLine = FormatReportLogLine(vLog[i]);
    if (std::fprintf(pFile, "%s\n", szLine.c_str()) < 0) return false;
  }
  return std::fflush(pFile) == 0;
}

}  // namespace qrt::sim
