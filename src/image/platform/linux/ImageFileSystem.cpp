#include "ImageFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qrt::image::platform {

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
