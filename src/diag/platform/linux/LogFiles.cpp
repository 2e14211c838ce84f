#include "LogFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "RegularFile.h"

namespace qrt::diag::platform {

std::FILE* OpenLogForAppend(const std::string& szPath) {
  return OpenRegularStream(szPath, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW, "ab");
}

std::FILE* OpenRegularForReading(const std::string& szPath) {
  return OpenRegularStream(szPath, O_RDONLY, "rb");
}

CNewFile::~CNewFile() {
  if (m_nHandle >= 0) ::close(static_cast<int>(m_nHandle));
}

ECreateResult CNewFile::Create(const std::string& szPath) {
  // O_EXCL with O_NOFOLLOW: an existing name, a link included, is EEXIST.
  const int fd = ::open(szPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? ECreateResult::kExists : ECreateResult::kFailed;
  m_nHandle = fd;
  m_szPath = szPath;
  return ECreateResult::kCreated;
}

bool CNewFile::WriteAndClose(const uint8_t* pData, size_t nSize) {
  if (m_nHandle < 0) return false;
  const int fd = static_cast<int>(m_nHandle);
  m_nHandle = -1;
  bool bOk = true;
  while (bOk && nSize > 0) {
    const ssize_t k = ::write(fd, pData, nSize);
    if (k < 0 && errno == EINTR) continue;
    bOk = k > 0;
    if (bOk) {
      pData += k;
      nSize -= static_cast<size_t>(k);
    }
  }
  if (::close(fd) != 0) bOk = false;
  return bOk;
}

void CNewFile::Discard() {
  if (m_nHandle < 0) return;
  ::close(static_cast<int>(m_nHandle));
  m_nHandle = -1;
  ::unlink(m_szPath.c_str());
}

bool LocalTime(std::time_t t, std::tm* pTm) {
  return localtime_r(&t, pTm) != nullptr;
}

std::string WorkingDirectory() {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() >= (1u << 20)) return {};
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

}  // namespace qrt::diag::platform
