#include "Backup.h"

#include <cstdio>
#include <cstdlib>

#include "ProductionFiles.h"
#include "SyncedFile.h"

namespace qrt::production {

std::string DefaultBackupFolder() {
  return platform::DefaultBackupFolder();
}

std::string BackupFileName(std::time_t tUtc, uint16_t wVid, uint16_t wPid,
                           std::string_view szBoardPath) {
  std::tm tm{};
  gmtime_r(&tUtc, &tm);
  char szTime[32];
  std::strftime(szTime, sizeof(szTime), "%Y%m%dT%H%M%SZ", &tm);
  if (szBoardPath.substr(0, 5) == "/dev/") szBoardPath.remove_prefix(5);
  std::string szBoard;
  for (char c : szBoardPath.substr(0, 64)) {
    bool bKeep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '-' || (c == '.' && !szBoard.empty());
    szBoard += bKeep ? c : '-';
  }
  if (szBoard.empty()) szBoard = "board";
  char szIds[16];
  std::snprintf(szIds, sizeof(szIds), "%.4X-%.4X", wVid, wPid);
  return std::string(szTime) + "_" + szIds + "_" + szBoard + ".bin";
}

bool SaveBackup(const std::string& szChosen, const std::string& szFolder, std::time_t tUtc,
                uint16_t wVid, uint16_t wPid, std::string_view szBoardPath,
                const uint8_t* pData, size_t n, std::string& szWritten, std::string& szError) {
  if (!szChosen.empty()) {
    if (!WriteSyncedFile(szChosen, pData, n, szError)) return false;
    szWritten = szChosen;
    return true;
  }
  if (szFolder.empty()) {
    szError = std::string("no backup folder: ") + platform::kNoBackupFolderReason;
    return false;
  }
  if (!MakeFolders(szFolder, szError)) return false;
  return WriteSyncedNewFile(
      szFolder + platform::kPathSeparator + BackupFileName(tUtc, wVid, wPid, szBoardPath), pData,
      n, &szWritten, szError);
}

}  // namespace qrt::production
