#include "ImageFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "LogFiles.h"

namespace qrt::image::platform {

// A FIFO or device node put under an image's name is refused, not waited on
// or read without end.
FILE* OpenImageFile(const std::string& szPath) {
  return qrt::diag::platform::OpenRegularForReading(szPath);
}

bool OpenFileLength(FILE* f, uint64_t* pnLength) {
  struct stat st {};
  if (::fstat(::fileno(f), &st) != 0) return false;
  *pnLength = static_cast<uint64_t>(st.st_size);
  return true;
}

}  // namespace qrt::image::platform
