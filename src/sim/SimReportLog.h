#pragma once
// Text form of the simulated chip's report log, one line per report:
//
//   out 00 60 F2 7F 10          output report, as the chip received it
//   in 00 00 80 00 00           input report, as the chip answered it
//   out-refused 00 60 ...       refused output report (fault, malformed)
//   in-failed                   failed input report
//
// No times: a log written by the in-process simulator (virtual clock) and one
// written by the virtual board (real time) compare byte for byte when the
// host sent the same reports.
#include <cstdio>
#include <string>
#include <vector>

#include "SimChip.h"

namespace qrt::sim {

std::string FormatReportLogLine(const SIM_REPORT_LOG_ENTRY& entry);

// Writes the lines of vLog[nFirst..] to pFile. Returns false on a write error.
bool WriteReportLog(const std::vector<SIM_REPORT_LOG_ENTRY>& vLog, size_t nFirst, FILE* pFile);

}  // namespace qrt::sim
