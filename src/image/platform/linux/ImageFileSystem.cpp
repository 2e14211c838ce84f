#include "ImageFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "Trace.h"

namespace qrt::image::platform {

namespace {

// Writes all n bytes, retrying short writes. False on an error.
bool WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t k = ::write(fd, p, n);
    if (k < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

}  // namespace

// Writes the bytes beside the target and renames them over it.
int WriteFileAtomically(const std::string& szPath, const uint8_t* pData, size_t n,
                        const ConfirmOverwrite& fnConfirm) {
  struct stat st {};
  const bool bExists = ::stat(szPath.c_str(), &st) == 0;
  if (bExists && fnConfirm && !fnConfirm(szPath)) return kWriteDeclined;

  const size_t nSlash = szPath.find_last_of('/');
  const std::string szDir =
      nSlash == std::string::npos ? std::string() : szPath.substr(0, nSlash + 1);
  const std::string szBase = nSlash == std::string::npos ? szPath : szPath.substr(nSlash + 1);
  std::string szTemp = szDir + "." + szBase + ".XXXXXX";
  std::vector<char> temp(szTemp.begin(), szTemp.end());
  temp.push_back('\0');
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return kWriteFailed;
  szTemp = temp.data();

  // A new file gets the usual mode; a replaced file keeps its own.
  mode_t mode = 0;
  if (bExists) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  bool bOk = ::fchmod(fd, mode) == 0;
  if (bOk && !WriteAll(fd, pData, n)) {
    qrt::diag::Trace("Write File fail.");
    bOk = false;
  }
  if (::close(fd) != 0) bOk = false;
  if (bOk && ::rename(szTemp.c_str(), szPath.c_str()) != 0) bOk = false;
  if (!bOk) {
    ::unlink(szTemp.c_str());
    return kWriteFailed;
  }
  return kWriteOk;
}

// The open itself must not block: a FIFO or device node put under an image's
// name is refused, not waited on or read without end.
FILE* OpenImageFile(const std::string& szPath) {
  const int fd = ::open(szPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st {};
  const int nFlags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || nFlags < 0 ||
      ::fcntl(fd, F_SETFL, nFlags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return nullptr;
  }
  FILE* f = ::fdopen(fd, "rb");
  if (f == nullptr) ::close(fd);
  return f;
}

bool OpenFileLength(FILE* f, uint64_t* pnLength) {
  struct stat st {};
  if (::fstat(::fileno(f), &st) != 0) return false;
  *pnLength = static_cast<uint64_t>(st.st_size);
  return true;
}

}  // namespace qrt::image::platform
