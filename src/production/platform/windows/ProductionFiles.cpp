#include "ProductionFiles.h"

#include <windows.h>
// wincrypt.h needs windows.h first.
#include <wincrypt.h>

#include <cstdlib>
#include <random>
#include <system_error>
#include <thread>

#include "HandleWrite.h"
#include "Utf16Path.h"

namespace qrt::production::platform {
namespace {

using qrt::diag::platform::Widen;
using qrt::diag::platform::WriteAll;

std::string ErrorText(const std::string& szWhat, DWORD dwError) {
  return szWhat + ": " + std::system_category().message(static_cast<int>(dwError));
}

HANDLE ToHandle(intptr_t n) {
  return reinterpret_cast<HANDLE>(n);
}

// Opens an existing plain file (no folder, no reparse point) for reading.
HANDLE OpenPlainFile(const std::wstring& szPath, DWORD* pdwError) {
  const HANDLE h = ::CreateFileW(szPath.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *pdwError = ::GetLastError();
    return h;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    ::CloseHandle(h);
    *pdwError = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

}  // namespace

std::string WriteTempBeside(const std::string& szPath, const uint8_t* pData, size_t n,
                            std::string& szError) {
  std::random_device device;
  for (int nTry = 0; nTry < 100; ++nTry) {
    std::string szTemp = szPath + ".tmp-" + std::to_string(device() % 1000000);
    const std::wstring szWide = Widen(szTemp);
    if (szWide.empty()) {
      szError = szPath + ": not a UTF-8 path";
      return {};
    }
    const HANDLE h = ::CreateFileW(szWide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD dwError = ::GetLastError();
      if (dwError == ERROR_FILE_EXISTS) continue;
      szError = ErrorText(szPath, dwError);
      return {};
    }
    DWORD dwError = 0;
    if (!WriteAll(h, pData, n) || !::FlushFileBuffers(h)) dwError = ::GetLastError();
    if (!::CloseHandle(h) && dwError == 0) dwError = ::GetLastError();
    if (dwError != 0) {
      ::DeleteFileW(szWide.c_str());
      szError = ErrorText(szPath, dwError);
      return {};
    }
    return szTemp;
  }
  szError = szPath + ": no free temporary name beside it";
  return {};
}

bool ReplaceWithTemp(const std::string& szTemp, const std::string& szPath, std::string& szError) {
  // Write-through: the call returns once the new name is on the disk, what
  // the folder sync does on Linux.
  if (!::MoveFileExW(Widen(szTemp).c_str(), Widen(szPath).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    szError = ErrorText(szPath, ::GetLastError());
    RemoveFile(szTemp);
    return false;
  }
  return true;
}

EPlaceResult PlaceTempAsNew(const std::string& szTemp, const std::string& szName,
                            std::string& szError) {
  // Without MOVEFILE_REPLACE_EXISTING the move refuses an existing name.
  if (::MoveFileExW(Widen(szTemp).c_str(), Widen(szName).c_str(), MOVEFILE_WRITE_THROUGH)) {
    return EPlaceResult::kPlaced;
  }
  const DWORD dwError = ::GetLastError();
  if (dwError == ERROR_ALREADY_EXISTS || dwError == ERROR_FILE_EXISTS) return EPlaceResult::kExists;
  szError = ErrorText(szName, dwError);
  return EPlaceResult::kFailed;
}

std::string HostName() {
  wchar_t sz[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD dwSize = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(sz, &dwSize)) return {};
  return qrt::diag::platform::Narrow(std::wstring(sz, dwSize));
}

void RemoveFile(const std::string& szPath) {
  ::DeleteFileW(Widen(szPath).c_str());
}

bool MakeFolder(const std::string& szPart, std::string& szError) {
  // A drive ("C:") or a share root cannot be created but is there: only a
  // part that is not a folder afterwards is an error.
  if (::CreateDirectoryW(Widen(szPart).c_str(), nullptr)) return true;
  const DWORD dwError = ::GetLastError();
  if (dwError == ERROR_ALREADY_EXISTS || IsFolder(szPart)) return true;
  if (!szPart.empty() && szPart.back() == ':') return true;
  szError = ErrorText(szPart, dwError);
  return false;
}

bool IsFolder(const std::string& szPath) {
  const DWORD dwAttributes = ::GetFileAttributesW(Widen(szPath).c_str());
  return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

const char kPathSeparator = '\\';

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

// Windows refuses to replace a file another handle has open, so the lock is
// held on "<counter>.lock" beside the counter (never replaced) and the
// counter itself is only open while it is read. LockFileEx locks go with
// the handle: a crashed station leaves none behind.
CLockedCounter::~CLockedCounter() {
  if (m_nHandle != -1) ::CloseHandle(ToHandle(m_nHandle));
}

ESerialResult CLockedCounter::Lock(const std::string& szPath, std::chrono::milliseconds timeOut,
                                   std::string& szError) {
  m_szPath = szPath;
  const std::wstring szWide = Widen(szPath);
  DWORD dwError = 0;
  const HANDLE hCounter = szWide.empty() ? INVALID_HANDLE_VALUE : OpenPlainFile(szWide, &dwError);
  if (hCounter == INVALID_HANDLE_VALUE) {
    if (szWide.empty()) dwError = ERROR_INVALID_NAME;
    szError = dwError == ERROR_INVALID_PARAMETER ? szPath + ": not a regular file"
                                                 : ErrorText(szPath, dwError);
    return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND
               ? ESerialResult::kMissing
               : ESerialResult::kUnreadable;
  }
  ::CloseHandle(hCounter);
  const HANDLE hLock = ::CreateFileW(Widen(szPath + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hLock == INVALID_HANDLE_VALUE) {
    szError = ErrorText(szPath + ".lock", ::GetLastError());
    return ESerialResult::kUnreadable;
  }
  m_nHandle = reinterpret_cast<intptr_t>(hLock);
  const auto deadline = std::chrono::steady_clock::now() + timeOut;
  for (;;) {
    OVERLAPPED whole{};
    if (::LockFileEx(hLock, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                     MAXDWORD, &whole)) {
      return ESerialResult::kOk;
    }
    dwError = ::GetLastError();
    if (dwError != ERROR_LOCK_VIOLATION && dwError != ERROR_IO_PENDING) {
      szError = ErrorText(szPath, dwError);
      szError.insert(szPath.size(), ": cannot lock");
      return ESerialResult::kUnreadable;
    }
    if (!WaitToLockAgain(deadline, timeOut, szPath, szError)) return ESerialResult::kLocked;
  }
}

long CLockedCounter::ReadStart(char* p, size_t n, std::string& szError) {
  DWORD dwError = 0;
  const HANDLE h = OpenPlainFile(Widen(m_szPath), &dwError);
  if (h == INVALID_HANDLE_VALUE) {
    szError = ErrorText(m_szPath, dwError);
    return -1;
  }
  DWORD nRead = 0;
  const DWORD nWant = n > 4096 ? 4096 : static_cast<DWORD>(n);
  const bool bOk = ::ReadFile(h, p, nWant, &nRead, nullptr);
  if (!bOk) szError = ErrorText(m_szPath, ::GetLastError());
  ::CloseHandle(h);
  return bOk ? static_cast<long>(nRead) : -1;
}

intptr_t OpenForAppend(const std::string& szPath, std::string& szError) {
  const std::wstring szWide = Widen(szPath);
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end
  // of the file, as O_APPEND does, whatever another station wrote meanwhile.
  const HANDLE h =
      szWide.empty() ? INVALID_HANDLE_VALUE
                     : ::CreateFileW(szWide.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    szError = szPath + ": cannot open the log: " +
              std::system_category().message(
                  static_cast<int>(szWide.empty() ? ERROR_INVALID_NAME : ::GetLastError()));
    return -1;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    ::CloseHandle(h);
    szError = szPath + ": cannot open the log: not a regular file";
    return -1;
  }
  return reinterpret_cast<intptr_t>(h);
}

bool AppendAndSync(intptr_t nHandle, const std::string& szPath, const std::string& szLine,
                   std::string& szError) {
  const HANDLE h = ToHandle(nHandle);
  DWORD nWritten = 0;
  if (szLine.size() > (1u << 30) ||
      !::WriteFile(h, szLine.data(), static_cast<DWORD>(szLine.size()), &nWritten, nullptr)) {
    szError = ErrorText(szPath + ": cannot append to the log", ::GetLastError());
    return false;
  }
  if (nWritten != szLine.size()) {
    szError = szPath + ": cannot append to the log: short write (disk full?)";
    return false;
  }
  if (!::FlushFileBuffers(h)) {
    szError = ErrorText(szPath + ": cannot sync the log", ::GetLastError());
    return false;
  }
  return true;
}

void CloseAppend(intptr_t nHandle) {
  if (nHandle >= 0) ::CloseHandle(ToHandle(nHandle));
}

std::string DefaultBackupFolder() {
  // The user's local data folder; a drive path or a share only.
  const wchar_t* pszLocal = ::_wgetenv(L"LOCALAPPDATA");
  if (pszLocal == nullptr) return {};
  const std::string szLocal = qrt::diag::platform::Narrow(pszLocal);
  const bool bAbsolute =
      (szLocal.size() >= 3 && szLocal[1] == ':' && IsSeparator(szLocal[2])) ||
      (szLocal.size() >= 2 && IsSeparator(szLocal[0]) && IsSeparator(szLocal[1]));
  return bAbsolute ? szLocal + "\\qrt4250\\backups" : std::string();
}

const char* const kNoBackupFolderReason = "LOCALAPPDATA is not an absolute path";

bool Sha256(const uint8_t* pData, size_t n, uint8_t digest[32]) {
  HCRYPTPROV hProv = 0;
  if (!::CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
    return false;
  }
  HCRYPTHASH hHash = 0;
  bool bOk = ::CryptCreateHash(hProv, CALG_SHA_256, 0, 0, &hHash);
  while (bOk && n > 0) {
    const DWORD nChunk = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
    bOk = ::CryptHashData(hHash, pData, nChunk, 0);
    pData += nChunk;
    n -= nChunk;
  }
  DWORD nDigest = 32;
  bOk = bOk && ::CryptGetHashParam(hHash, HP_HASHVAL, digest, &nDigest, 0) && nDigest == 32;
  if (hHash != 0) ::CryptDestroyHash(hHash);
  ::CryptReleaseContext(hProv, 0);
  return bOk;
}

}  // namespace qrt::production::platform

namespace qrt::production {

// MOVEFILE_WRITE_THROUGH already made the name durable; Windows has no
// folder handle to flush.
bool SyncFolder(const std::string&) {
  return true;
}

}  // namespace qrt::production
