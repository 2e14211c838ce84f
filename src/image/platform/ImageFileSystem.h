#pragma once
// The operating-system side of reading image files: opening a file without
// blocking on special files, and its length. One implementation per OS under
// platform/<os>/, chosen by CMake, beside that OS's ReplaceFileContents
// (FileReplace.h).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace qrt::image::platform {

// Opens szPath (UTF-8 on Windows) for binary reading. Regular files only:
// a FIFO, device or folder gives nullptr without the open waiting on it.
FILE* OpenImageFile(const std::string& szPath);

// The length of the file behind f; false when the OS cannot say.
bool OpenFileLength(FILE* f, uint64_t* pnLength);

}  // namespace qrt::image::platform
