#include "ProductionLog.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "JsonText.h"
#include "ProductionFiles.h"

#include "SerialCounter.h"

namespace qrt::production {

std::string ProductionLogLine(const PRODUCTION_RECORD& r) {
  char szId[8];
  nlohmann::ordered_json j;
  j["time"] = r.szTime;
  j["path"] = r.szPath;
  std::snprintf(szId, sizeof(szId), "%.4X", r.wVid);
  j["vid"] = szId;
  std::snprintf(szId, sizeof(szId), "%.4X", r.wPid);
  j["pid"] = szId;
  j["serial"] = r.qwSerial ? nlohmann::ordered_json(FormatSerial(*r.qwSerial)) : nullptr;
  j["result"] = r.szResult;
  j["code"] = r.nCode;
  if (r.nMismatchAt) j["mismatch_at"] = *r.nMismatchAt;
  j["elapsed_s"] = std::round(r.dElapsedS * 1000.0) / 1000.0;
  j["image_sha256"] = r.szImageSha256;
  j["backup"] = r.szBackup.empty() ? nlohmann::ordered_json(nullptr)
                                   : nlohmann::ordered_json(r.szBackup);
  if (!r.szNote.empty()) j["note"] = r.szNote;
  // Paths are outside input: bytes that are not UTF-8 become \xHH.
  return qrt::diag::JsonText(j);
}

std::string ProductionStartLine(const std::string& szTime, const std::string& szImageSha256) {
  nlohmann::ordered_json j;
  j["time"] = szTime;
  j["event"] = "start";
  j["image_sha256"] = szImageSha256;
  return qrt::diag::JsonText(j);
}

CProductionLog::~CProductionLog() {
  platform::CloseAppend(m_nHandle);
}

bool CProductionLog::Open(const std::string& szPath, std::string& szError) {
  const intptr_t nHandle = platform::OpenForAppend(szPath, szError);
  if (nHandle < 0) return false;
  platform::CloseAppend(m_nHandle);
  m_nHandle = nHandle;
  m_szPath = szPath;
  return true;
}

bool CProductionLog::Append(const PRODUCTION_RECORD& record, std::string& szError) {
  return AppendLine(ProductionLogLine(record), szError);
}

bool CProductionLog::AppendStart(const std::string& szImageSha256, std::string& szError) {
  return AppendLine(ProductionStartLine(UtcTimeText(), szImageSha256), szError);
}

bool CProductionLog::AppendLine(const std::string& szLine, std::string& szError) {
  if (m_nHandle < 0) {
    szError = "the production log is not open";
    return false;
  }
  return platform::AppendAndSync(m_nHandle, m_szPath, szLine + "\n", szError);
}

std::string Sha256Hex(const uint8_t* pData, size_t n) {
  uint8_t digest[32];
  if (!platform::Sha256(pData, n, digest)) return {};
  std::string sz;
  char szByte[4];
  for (uint8_t b : digest) {
    std::snprintf(szByte, sizeof(szByte), "%02x", b);
    sz += szByte;
  }
  return sz;
}

std::string UtcTimeText() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char sz[32];
  std::strftime(sz, sizeof(sz), "%Y-%m-%dT%H:%M:%SZ", &tm);
  return sz;
}

}  // namespace qrt::production
