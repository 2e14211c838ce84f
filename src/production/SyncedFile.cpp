#include "SyncedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qrt::production {
namespace {

std::string ErrnoText(const std::string& szWhat, int nErr) {
  return szWhat + ": " + std::strerror(nErr);
}

// Writes all bytes to a fresh temporary file beside szPath and syncs it.
// Returns the temporary name, empty on failure (szError set, nothing left).
std::string WriteTemp(const std::string& szPath, const uint8_t* pData, size_t n,
                      std::string& szError) {
  std::string szTemp = szPath + ".tmp-XXXXXX";
  int fd = mkstemp(szTemp.data());
  if (fd < 0) {
    szError = ErrnoText(szPath, errno);
    return {};
  }
  fchmod(fd, 0644);
  size_t nDone = 0;
  int nErr = 0;
  while (nDone < n) {
    ssize_t w = write(fd, pData + nDone, n - nDone);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      nErr = w < 0 ? errno : ENOSPC;
      break;
    }
    nDone += static_cast<size_t>(w);
  }
  if (nErr == 0 && fsync(fd) != 0) nErr = errno;
  if (close(fd) != 0 && nErr == 0) nErr = errno;
  if (nErr != 0) {
    unlink(szTemp.c_str());
    szError = ErrnoText(szPath, nErr);
    return {};
  }
  return szTemp;
}

std::string NumberedName(const std::string& szPath, int nNumber) {
  size_t nSlash = szPath.rfind('/');
  size_t nDot = szPath.rfind('.');
  if (nDot == std::string::npos || (nSlash != std::string::npos && nDot < nSlash)) {
    nDot = szPath.size();
  }
  return szPath.substr(0, nDot) + "-" + std::to_string(nNumber) + szPath.substr(nDot);
}

}  // namespace

std::string FolderOf(const std::string& szPath) {
  size_t nSlash = szPath.rfind('/');
  if (nSlash == std::string::npos) return ".";
  if (nSlash == 0) return "/";
  return szPath.substr(0, nSlash);
}

bool SyncFolder(const std::string& szDir) {
  int fd = open(szDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool bOk = fsync(fd) == 0;
  close(fd);
  return bOk;
}

bool WriteSyncedFile(const std::string& szPath, const uint8_t* pData, size_t n,
                     std::string& szError) {
  std::string szTemp = WriteTemp(szPath, pData, n, szError);
  if (szTemp.empty()) return false;
  if (rename(szTemp.c_str(), szPath.c_str()) != 0) {
    szError = ErrnoText(szPath, errno);
    unlink(szTemp.c_str());
    return false;
  }
  if (!SyncFolder(FolderOf(szPath))) {
    szError = ErrnoText(FolderOf(szPath), errno);
    return false;
  }
  return true;
}

bool WriteSyncedNewFile(const std::string& szPath, const uint8_t* pData, size_t n,
                        std::string* pszWritten, std::string& szError) {
  std::string szTemp = WriteTemp(szPath, pData, n, szError);
  if (szTemp.empty()) return false;
  // link() refuses an existing name, so two writers never share one file.
  for (int nNumber = 1; nNumber < 1000; ++nNumber) {
    std::string szName = nNumber == 1 ? szPath : NumberedName(szPath, nNumber);
    if (link(szTemp.c_str(), szName.c_str()) == 0) {
      unlink(szTemp.c_str());
      if (!SyncFolder(FolderOf(szPath))) {
        szError = ErrnoText(FolderOf(szPath), errno);
        return false;
      }
      if (pszWritten) *pszWritten = szName;
      return true;
    }
    if (errno != EEXIST) {
      szError = ErrnoText(szName, errno);
      unlink(szTemp.c_str());
      return false;
    }
  }
  unlink(szTemp.c_str());
  szError = szPath + ": too many files of this name";
  return false;
}

bool MakeFolders(const std::string& szDir, std::string& szError) {
  if (szDir.empty()) {
    szError = "empty folder name";
    return false;
  }
  for (size_t nPos = 1; nPos <= szDir.size(); ++nPos) {
    if (nPos != szDir.size() && szDir[nPos] != '/') continue;
    std::string szPart = szDir.substr(0, nPos);
    if (mkdir(szPart.c_str(), 0700) != 0 && errno != EEXIST) {
      szError = ErrnoText(szPart, errno);
      return false;
    }
  }
  struct stat st{};
  if (stat(szDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    szError = szDir + ": not a folder";
    return false;
  }
  return true;
}

}  // namespace qrt::production
