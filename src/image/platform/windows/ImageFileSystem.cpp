#include "ImageFileSystem.h"

#include "FileReplace.h"
#include "ImageFiles.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <random>

#include "HandleWrite.h"
#include "LogFiles.h"
#include "Utf16Path.h"

namespace qrt::image::platform {

using qrt::diag::platform::Widen;
using qrt::diag::platform::WriteAll;

// Creates a new, unique file beside the target: "<folder>.<name>.<random>".
HANDLE CreateTemporaryBeside(const std::string& szPath, std::wstring* pszTemp) {
  // "C:x.bin" names x.bin in drive C's current folder: the colon ends the folder too.
  const size_t nSlash = szPath.find_last_of("/\\:");
  const std::string szDir =
      nSlash == std::string::npos ? std::string() : szPath.substr(0, nSlash + 1);
  const std::string szBase = nSlash == std::string::npos ? szPath : szPath.substr(nSlash + 1);
  std::random_device device;
  for (int nTry = 0; nTry < 100; ++nTry) {
    const std::wstring szTemp =
        Widen(szDir + "." + szBase + "." + std::to_string(device() % 1000000));
    if (szTemp.empty()) return INVALID_HANDLE_VALUE;
    const HANDLE h = ::CreateFileW(szTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      *pszTemp = szTemp;
      return h;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) return INVALID_HANDLE_VALUE;
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace qrt::image::platform

namespace qrt::image {

namespace {

std::string ErrorWords(DWORD dwError) {
  switch (dwError) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return "Permission denied";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return "No such file or directory";
    case ERROR_DISK_FULL:
      return "No space left on device";
    default:
      return "Windows error " + std::to_string(dwError);
  }
}

}  // namespace

// Writes a temporary file beside the target and moves it over the target.
int ReplaceFileContents(const std::string& szPath, const uint8_t* pData, size_t n,
                        const std::function<bool(const std::string&)>& fnConfirm,
                        std::string* pszError) {
  const auto fail = [pszError](DWORD dwError) {
    if (pszError != nullptr) *pszError = ErrorWords(dwError);
    return kWriteFailed;
  };
  const std::wstring szTarget = qrt::diag::platform::Widen(szPath);
  if (szTarget.empty()) return fail(ERROR_INVALID_NAME);
  const DWORD dwAttributes = ::GetFileAttributesW(szTarget.c_str());
  const bool bExists = dwAttributes != INVALID_FILE_ATTRIBUTES;
  if (bExists && fnConfirm && !fnConfirm(szPath)) return kWriteDeclined;
  if (bExists && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) return fail(ERROR_ACCESS_DENIED);

  std::wstring szTemp;
  const HANDLE h = platform::CreateTemporaryBeside(szPath, &szTemp);
  if (h == INVALID_HANDLE_VALUE) return fail(::GetLastError());
  DWORD dwError = 0;
  if (!platform::WriteAll(h, pData, n) || !::FlushFileBuffers(h)) dwError = ::GetLastError();
  if (!::CloseHandle(h) && dwError == 0) dwError = ::GetLastError();
  // Unlike rename(), MoveFileExW replaces an existing target when asked to.
  if (dwError == 0 && !::MoveFileExW(szTemp.c_str(), szTarget.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    dwError = ::GetLastError();
  }
  if (dwError != 0) {
    ::DeleteFileW(szTemp.c_str());
    return fail(dwError);
  }
  return kWriteOk;
}

}  // namespace qrt::image

namespace qrt::image::platform {

FILE* OpenImageFile(const std::string& szPath) {
  return qrt::diag::platform::OpenRegularForReading(szPath);
}

bool OpenFileLength(FILE* f, uint64_t* pnLength) {
  const __int64 n = ::_filelengthi64(::_fileno(f));
  if (n < 0) return false;
  *pnLength = static_cast<uint64_t>(n);
  return true;
}

}  // namespace qrt::image::platform
