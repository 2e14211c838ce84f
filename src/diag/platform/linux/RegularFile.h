#pragma once
// Opening a file that must be a regular one (Linux): the open itself must not
// block, so a FIFO or device node put under the name is refused, not waited on.
#include <sys/types.h>

#include <cstdio>
#include <string>

namespace qrt::diag::platform {

// open(2) with nFlags | O_NONBLOCK | O_CLOEXEC; anything but a regular file
// is closed and refused (errno EINVAL), then O_NONBLOCK is cleared.
// Returns the descriptor, or -1 with errno set.
int OpenRegularFile(const std::string& szPath, int nFlags, mode_t mode = 0666);

// As OpenRegularFile, wrapped in a stdio stream of pszMode. Null on failure.
std::FILE* OpenRegularStream(const std::string& szPath, int nFlags, const char* pszMode);

}  // namespace qrt::diag::platform
