#include "ProductionLog.h"

#include <fcntl.h>
#include <nettle/sha2.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

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
  j["elapsed_s"] = std::round(r.dElapsedS * 1000.0) / 1000.0;
  j["image_sha256"] = r.szImageSha256;
  j["backup"] = r.szBackup.empty() ? nlohmann::ordered_json(nullptr)
                                   : nlohmann::ordered_json(r.szBackup);
  // Paths are outside input: replace invalid UTF-8 rather than throw.
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

CProductionLog::~CProductionLog() {
  if (m_fd >= 0) close(m_fd);
}

bool CProductionLog::Open(const std::string& szPath, std::string& szError) {
  int fd = open(szPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    szError = szPath + ": cannot open the log: " + std::strerror(errno);
    return false;
  }
  if (m_fd >= 0) close(m_fd);
  m_fd = fd;
  m_szPath = szPath;
  return true;
}

bool CProductionLog::Append(const PRODUCTION_RECORD& record, std::string& szError) {
  if (m_fd < 0) {
    szError = "the production log is not open";
    return false;
  }
  // One write call per line: with O_APPEND, lines of two stations never
  // interleave.
  std::string szLine = ProductionLogLine(record) + "\n";
  ssize_t n;
  do {
    n = write(m_fd, szLine.data(), szLine.size());
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(szLine.size())) {
    szError = m_szPath + ": cannot append to the log: " +
              (n < 0 ? std::strerror(errno) : "short write (disk full?)");
    return false;
  }
  if (fsync(m_fd) != 0) {
    szError = m_szPath + ": cannot sync the log: " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string Sha256Hex(const uint8_t* pData, size_t n) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, n, pData);
  uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&ctx, sizeof(digest), digest);
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
