#include "TransferReport.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <ostream>

#include "CliApp.h"

namespace qrt::cli {
namespace {

// Milliseconds are all a transfer's time needs; more digits only look exact.
double Round3(double d) {
  return std::round(d * 1000.0) / 1000.0;
}

}  // namespace

nlohmann::ordered_json TransferReportJson(const TRANSFER_REPORT& report, bool bPass) {
  nlohmann::ordered_json j;
  j["command"] = report.szCommand;
  j["board"] = report.jBoard;
  j["file"] = report.szFile;
  j["outcome"] = bPass ? "pass" : "fail";
  j["code"] = report.nCode;
  j["bytes"] = report.nBytes;
  j["profile"] = report.szProfile;
  j["elapsed_s"] = Round3(report.dElapsedS);
  if (report.dSimulatedS) j["simulated_s"] = Round3(*report.dSimulatedS);
  if (report.bWrite) {
    j["written"] = report.nWritten;
    j["backup"] = report.szBackup.empty() ? nlohmann::ordered_json(nullptr)
                                          : nlohmann::ordered_json(report.szBackup);
    j["rollback"] = report.szRollback.empty() ? nlohmann::ordered_json(nullptr)
                                              : nlohmann::ordered_json(report.szRollback);
  }
  if (report.nMismatchAt) j["mismatchAt"] = *report.nMismatchAt;
  if (!bPass) j["error"] = report.szError;
  return j;
}

std::string TransferTimeLine(const TRANSFER_REPORT& report) {
  char sz[160];
  if (report.dSimulatedS) {
    std::snprintf(sz, sizeof(sz), "elapsed %.2f s, simulated device time %.2f s (profile %s)",
                  report.dElapsedS, *report.dSimulatedS, report.szProfile.c_str());
  } else {
    std::snprintf(sz, sizeof(sz), "elapsed %.2f s (profile %s)", report.dElapsedS,
                  report.szProfile.c_str());
  }
  return sz;
}

CTransferReporter::CTransferReporter(CCliContext& ctx, std::string szCommand, std::string szProfile,
                                     bool bJson)
    : m_Ctx(ctx), m_bJson(bJson) {
  m_Report.szCommand = std::move(szCommand);
  m_Report.szProfile = std::move(szProfile);
}

CTransferReporter::~CTransferReporter() {
  if (m_bJson) {
    // Left by an exception, the command failed, whatever its status says yet.
    const bool bUnwinding = std::uncaught_exceptions() > 0;
    m_Report.szError = bUnwinding && m_Ctx.szLastError.empty() ? "unexpected failure"
                                                                : m_Ctx.szLastError;
    m_Ctx.PrintJson(TransferReportJson(m_Report, m_Ctx.nExitCode == 0 && !bUnwinding));
  } else if (m_Report.bTransferred) {
    m_Ctx.out << TransferTimeLine(m_Report) << '\n';
  }
}

}  // namespace qrt::cli
