#pragma once
// The operating-system side of the image files: opening a file for reading
// without blocking on special files, its length, and replacing a file
// through a temporary one. One implementation per OS under platform/<os>/,
// chosen by CMake.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "ImageFiles.h"

namespace qrt::image::platform {

// Opens szPath (UTF-8 on Windows) for binary reading. Regular files only:
// a FIFO, device or folder gives nullptr without the open waiting on it.
FILE* OpenImageFile(const std::string& szPath);

// The length of the file behind f; false when the OS cannot say.
bool OpenFileLength(FILE* f, uint64_t* pnLength);

// Writes the n bytes to a temporary file beside szPath and moves it over
// szPath, so a failure never destroys an existing file. fnConfirm (may be
// empty) is asked first when szPath exists. Returns kWriteOk, kWriteFailed
// (the temporary file removed again) or kWriteDeclined.
int WriteFileAtomically(const std::string& szPath, const uint8_t* pData, size_t n,
                        const ConfirmOverwrite& fnConfirm);

}  // namespace qrt::image::platform
