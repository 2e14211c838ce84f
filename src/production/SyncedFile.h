#pragma once
// Files that must survive a crash or power loss the moment the call returns:
// written to a temporary file in the same folder, fsynced, renamed into
// place, and the folder fsynced so the new name is durable too.
#include <cstddef>
#include <cstdint>
#include <string>

namespace qrt::production {

// Writes n bytes to szPath, replacing an existing file only as a whole (a
// failure leaves it as it was); the new file keeps the old one's permissions. True when the data and the name are on disk;
// false with szError set otherwise.
bool WriteSyncedFile(const std::string& szPath, const uint8_t* pData, size_t n,
                     std::string& szError);

// As WriteSyncedFile, but never replaces: when szPath exists, "-2", "-3", ...
// is inserted before the extension. *pszWritten receives the name used.
bool WriteSyncedNewFile(const std::string& szPath, const uint8_t* pData, size_t n,
                        std::string* pszWritten, std::string& szError);

// Creates szDir and its missing parents with mode 0700. True when it is a
// folder afterwards; false with szError set.
bool MakeFolders(const std::string& szDir, std::string& szError);

// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string& szPath);

// Fsyncs a folder so that a rename or create in it is durable (Windows: the
// moves are write-through already; always true).
bool SyncFolder(const std::string& szDir);

}  // namespace qrt::production
