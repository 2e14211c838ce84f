#include "SyncedFile.h"

#include "ProductionFiles.h"

namespace qrt::production {
namespace {

size_t LastSeparator(const std::string& szPath) {
  for (size_t n = szPath.size(); n > 0; --n) {
    if (platform::IsSeparator(szPath[n - 1])) return n - 1;
  }
  return std::string::npos;
}

std::string NumberedName(const std::string& szPath, int nNumber) {
  size_t nSlash = LastSeparator(szPath);
  size_t nDot = szPath.rfind('.');
  if (nDot == std::string::npos || (nSlash != std::string::npos && nDot < nSlash)) {
    nDot = szPath.size();
  }
  return szPath.substr(0, nDot) + "-" + std::to_string(nNumber) + szPath.substr(nDot);
}

}  // namespace

std::string FolderOf(const std::string& szPath) {
  size_t nSlash = LastSeparator(szPath);
  if (nSlash == std::string::npos) return ".";
  if (nSlash == 0) return szPath.substr(0, 1);
  return szPath.substr(0, nSlash);
}

bool WriteSyncedFile(const std::string& szPath, const uint8_t* pData, size_t n,
                     std::string& szError) {
  std::string szTemp = platform::WriteTempBeside(szPath, pData, n, szError);
  if (szTemp.empty()) return false;
  return platform::ReplaceWithTemp(szTemp, szPath, szError);
}

bool WriteSyncedNewFile(const std::string& szPath, const uint8_t* pData, size_t n,
                        std::string* pszWritten, std::string& szError) {
  std::string szTemp = platform::WriteTempBeside(szPath, pData, n, szError);
  if (szTemp.empty()) return false;
  for (int nNumber = 1; nNumber < 1000; ++nNumber) {
    std::string szName = nNumber == 1 ? szPath : NumberedName(szPath, nNumber);
    switch (platform::PlaceTempAsNew(szTemp, szName, szError)) {
      case platform::EPlaceResult::kPlaced:
        if (pszWritten) *pszWritten = szName;
        return true;
      case platform::EPlaceResult::kExists:
        continue;
      case platform::EPlaceResult::kFailed:
        platform::RemoveFile(szTemp);
        return false;
    }
  }
  platform::RemoveFile(szTemp);
  szError = szPath + ": too many files of this name";
  return false;
}

bool MakeFolders(const std::string& szDir, std::string& szError) {
  if (szDir.empty()) {
    szError = "empty folder name";
    return false;
  }
  for (size_t nPos = 1; nPos <= szDir.size(); ++nPos) {
    if (nPos != szDir.size() && !platform::IsSeparator(szDir[nPos])) continue;
    if (!platform::MakeFolder(szDir.substr(0, nPos), szError)) return false;
  }
  if (!platform::IsFolder(szDir)) {
    szError = szDir + ": not a folder";
    return false;
  }
  return true;
}

}  // namespace qrt::production
