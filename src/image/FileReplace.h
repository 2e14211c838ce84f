#pragma once
// Writing an output file over whatever stands under its name, the one place
// that knows how the operating system replaces a file (POSIX here).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace qrt::image {

// Writes n bytes as the file szPath. A link is written through: its final
// target gets the bytes and the link stays; but a link in a sticky,
// world-writable folder (/tmp) is followed only when it belongs to this user
// or to the folder's owner, as the kernel's protected_symlinks rule has it. A new file gets 0666 less the
// umask. An existing file must be a regular file this user can open for
// writing (as open(2) decides, so root may write a 0444 file); it keeps its
// owner, group and mode. The bytes go to a temporary file beside the target
// (its name fits NAME_MAX whatever the target's length), are synced, and
// are renamed over the target, and the folder is synced, so a failure or a
// crash leaves either the old or the new file. When that cannot keep the
// owner (a file of another user that this user may write) or the folder
// takes no new file, the file is rewritten in place instead.
// fnConfirm (may be empty) is asked before an existing file is replaced.
// Returns 0 written, 1 failed (pszError, when given, says why in a few
// words, e.g. "Permission denied"), 2 fnConfirm declined.
int ReplaceFileContents(const std::string& szPath, const uint8_t* pData, size_t n,
                        const std::function<bool(const std::string&)>& fnConfirm,
                        std::string* pszError);

}  // namespace qrt::image
