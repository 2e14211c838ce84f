#include "ProductionLog.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "JsonText.h"
#include "LogFiles.h"
#include "ProductionFiles.h"

#include "SerialCounter.h"

namespace qrt::production {

std::string ProductionLogLine(const PRODUCTION_RECORD& r) {
  using json = nlohmann::ordered_json;
  const auto orNull = [](const std::string& sz) { return sz.empty() ? json(nullptr) : json(sz); };
  const auto serial = [](const std::optional<uint64_t>& q) {
    return q ? json(FormatSerial(*q)) : json(nullptr);
  };
  const auto id = [](uint16_t w) {
    char sz[8];
    std::snprintf(sz, sizeof(sz), "%.4X", w);
    return std::string(sz);
  };
  const auto seconds = [](double d) { return std::round(d * 1000.0) / 1000.0; };
  json j;
  j["time"] = r.szTime;
  j["station"] = r.szStation;
  j["operator"] = orNull(r.szOperator);
  j["work_order"] = orNull(r.szWorkOrder);
  j["tool_version"] = r.szToolVersion;
  j["path"] = r.szPath;
  j["usb_serial"] = orNull(r.szUsbSerial);
  j["eeprom"] = orNull(r.szEeprom);
  j["profile"] = orNull(r.szProfile);
  j["golden"] = orNull(r.szGolden);
  j["golden_sha256"] = orNull(r.szGoldenSha256);
  j["vid"] = id(r.wVid);
  j["pid"] = id(r.wPid);
  j["serial"] = serial(r.qwSerial);
  j["previous_serial"] = serial(r.qwPreviousSerial);
  j["rework"] = r.bRework;
  j["attempts"] = r.nAttempts;
  j["result"] = r.szResult;
  j["code"] = r.nCode;
  j["mismatch_at"] = r.nMismatchAt ? json(*r.nMismatchAt) : json(nullptr);
  j["elapsed_s"] = seconds(r.dElapsedS);
  j["device_s"] = r.dDeviceS ? json(seconds(*r.dDeviceS)) : json(nullptr);
  j["image_sha256"] = orNull(r.szImageSha256);
  j["backup"] = orNull(r.szBackup);
  j["reason"] = orNull(r.szReason);
  j["note"] = orNull(r.szNote);
  // Paths and names are outside input: bytes that are not UTF-8 become \xHH.
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

bool CProductionLog::AppendReturned(const std::string& szStation, uint64_t qwFirst,
                                    uint64_t qwLast, std::string& szError) {
  nlohmann::ordered_json j;
  j["time"] = UtcTimeText();
  j["event"] = "returned-unused";
  j["station"] = szStation;
  j["first"] = FormatSerial(qwFirst);
  j["last"] = FormatSerial(qwLast);
  j["count"] = qwLast - qwFirst + 1;
  return AppendLine(qrt::diag::JsonText(j), szError);
}

namespace {

// A log line is about a kilobyte; one far longer is not the log's own.
constexpr size_t kMaxLogLine = 64 * 1024;

// The line's use of qwSerial. Only lines that name it (in either case) or
// a returned range are parsed: a long log is mostly other boards' lines.
bool LineUsesSerial(const std::string& szLine, uint64_t qwSerial, const std::string& szUpper,
                    const std::string& szLower) {
  const bool bNamed =
      szLine.find(szUpper) != std::string::npos || szLine.find(szLower) != std::string::npos;
  if (!bNamed && szLine.find("returned-unused") == std::string::npos) return false;
  const nlohmann::json j = nlohmann::json::parse(szLine, nullptr, false);
  if (!j.is_object()) return false;  // damaged: skipped
  const auto serialAt = [&j](const char* pszKey, uint64_t& q) {
    const auto it = j.find(pszKey);
    return it != j.end() && it->is_string() && ParseSerial(it->get<std::string>(), q);
  };
  uint64_t qwFirst = 0;
  uint64_t qwLast = 0;
  const auto event = j.find("event");
  if (event == j.end()) return serialAt("serial", qwFirst) && qwFirst == qwSerial;
  return *event == "returned-unused" && serialAt("first", qwFirst) && serialAt("last", qwLast) &&
         qwFirst <= qwSerial && qwSerial <= qwLast;
}

}  // namespace

ELogSerial FindSerialInLog(const std::string& szPath, uint64_t qwSerial, std::string& szError) {
  // Regular files only, opened by their UTF-8 name on every OS: a FIFO or
  // device under the log's name is refused, not waited on.
  std::FILE* pFile = qrt::diag::platform::OpenRegularForReading(szPath);
  if (pFile == nullptr) {
    std::error_code ec;
    const std::filesystem::path path(
        std::u8string(reinterpret_cast<const char8_t*>(szPath.data()), szPath.size()));
    const std::filesystem::file_type type = std::filesystem::symlink_status(path, ec).type();
    if (type == std::filesystem::file_type::not_found) return ELogSerial::kUnused;
    szError = szPath + ": not a production log (no regular file that can be read)";
    return ELogSerial::kUnreadable;
  }
  const std::string szUpper = FormatSerial(qwSerial);
  std::string szLower = szUpper;
  for (char& c : szLower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string szLine;
  bool bTooLong = false;
  bool bUsed = false;
  char buffer[16 * 1024];
  size_t nRead = 0;
  while (!bUsed && (nRead = std::fread(buffer, 1, sizeof buffer, pFile)) > 0) {
    const char* p = buffer;
    const char* const pEnd = buffer + nRead;
    while (p < pEnd && !bUsed) {
      const char* pNewLine =
          static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(pEnd - p)));
      const char* const pStop = pNewLine != nullptr ? pNewLine : pEnd;
      const size_t nPiece = static_cast<size_t>(pStop - p);
      const size_t nTake = std::min(nPiece, kMaxLogLine - szLine.size());
      szLine.append(p, nTake);
      if (nTake < nPiece) bTooLong = true;
      p = pStop;
      if (pNewLine == nullptr) break;
      ++p;
      bUsed = !bTooLong && LineUsesSerial(szLine, qwSerial, szUpper, szLower);
      szLine.clear();
      bTooLong = false;
    }
  }
  const bool bFailed = std::ferror(pFile) != 0;
  std::fclose(pFile);
  if (bFailed) {
    szError = szPath + ": cannot be read";
    return ELogSerial::kUnreadable;
  }
  // The last line may lack its line end (a line being appended).
  if (!bUsed && !bTooLong) bUsed = LineUsesSerial(szLine, qwSerial, szUpper, szLower);
  return bUsed ? ELogSerial::kUsed : ELogSerial::kUnused;
}

bool CProductionLog::AppendLine(const std::string& szLine, std::string& szError) {
  std::lock_guard<std::mutex> guard(m_Mutex);
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

std::string HostName() {
  const std::string szName = platform::HostName();
  return szName.empty() ? "unknown" : szName;
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
