#include "RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qrt::diag::platform {

int OpenRegularFile(const std::string& szPath, int nFlags, mode_t mode) {
  const int fd = ::open(szPath.c_str(), nFlags | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  struct stat st {};
  const int nStatus = ::fcntl(fd, F_GETFL);
  const bool bRegular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!bRegular || nStatus < 0 || ::fcntl(fd, F_SETFL, nStatus & ~O_NONBLOCK) != 0) {
    const int nError = bRegular ? errno : EINVAL;
    ::close(fd);
    errno = nError;
    return -1;
  }
  return fd;
}

std::FILE* OpenRegularStream(const std::string& szPath, int nFlags, const char* pszMode) {
  const int fd = OpenRegularFile(szPath, nFlags);
  if (fd < 0) return nullptr;
  std::FILE* pFile = ::fdopen(fd, pszMode);
  if (pFile == nullptr) ::close(fd);
  return pFile;
}

}  // namespace qrt::diag::platform
