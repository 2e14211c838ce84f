#include "LogFiles.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <vector>

#include "HandleWrite.h"
#include "Utf16Path.h"

namespace qrt::diag::platform {
namespace {

// A handle to a plain disk file that is not a reparse point (a link or
// junction planted under the name is opened as itself, then refused).
bool IsPlainFile(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  return ::GetFileType(h) == FILE_TYPE_DISK && ::GetFileInformationByHandle(h, &info) &&
         (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

HANDLE ToHandle(intptr_t n) {
  return reinterpret_cast<HANDLE>(n);
}

// A stdio stream owning h; null (h closed) when the C runtime takes none.
std::FILE* StreamOfHandle(HANDLE h, int nFlags, const char* pszMode) {
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), nFlags);
  if (fd < 0) {
    ::CloseHandle(h);
    return nullptr;
  }
  std::FILE* pFile = ::_fdopen(fd, pszMode);
  if (pFile == nullptr) ::_close(fd);  // closes the handle too
  return pFile;
}

}  // namespace

// CreateFileW opens no folder without FILE_FLAG_BACKUP_SEMANTICS, and a
// named pipe or device ("NUL", "COM1", "\\.\pipe\x") is refused by its type
// before anything is read from it.
std::FILE* OpenRegularForReading(const std::string& szPath) {
  const std::wstring szWide = Widen(szPath);
  if (szWide.empty()) return nullptr;
  const HANDLE h = ::CreateFileW(szWide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    return nullptr;
  }
  return StreamOfHandle(h, _O_RDONLY | _O_BINARY, "rb");
}

std::FILE* OpenLogForAppend(const std::string& szPath) {
  const std::wstring szWide = Widen(szPath);
  if (szWide.empty()) return nullptr;
  // FILE_APPEND_DATA alone: every write lands at the end, as O_APPEND does.
  const HANDLE h = ::CreateFileW(szWide.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (!IsPlainFile(h)) {
    ::CloseHandle(h);
    return nullptr;
  }
  return StreamOfHandle(h, _O_APPEND | _O_BINARY, "ab");
}

CNewFile::~CNewFile() {
  if (m_nHandle != -1) ::CloseHandle(ToHandle(m_nHandle));
}

ECreateResult CNewFile::Create(const std::string& szPath) {
  const std::wstring szWide = Widen(szPath);
  if (szWide.empty()) return ECreateResult::kFailed;
  // CREATE_NEW with FILE_FLAG_OPEN_REPARSE_POINT: an existing name, a link
  // included, is refused rather than followed.
  const HANDLE h = ::CreateFileW(szWide.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD dwError = ::GetLastError();
    return dwError == ERROR_FILE_EXISTS || dwError == ERROR_ALREADY_EXISTS ? ECreateResult::kExists
                                                                           : ECreateResult::kFailed;
  }
  m_nHandle = reinterpret_cast<intptr_t>(h);
  m_szPath = szPath;
  return ECreateResult::kCreated;
}

bool CNewFile::WriteAndClose(const uint8_t* pData, size_t nSize) {
  if (m_nHandle == -1) return false;
  const HANDLE h = ToHandle(m_nHandle);
  m_nHandle = -1;
  bool bOk = WriteAll(h, pData, nSize);
  if (!::CloseHandle(h)) bOk = false;
  return bOk;
}

void CNewFile::Discard() {
  if (m_nHandle == -1) return;
  ::CloseHandle(ToHandle(m_nHandle));
  m_nHandle = -1;
  ::DeleteFileW(Widen(m_szPath).c_str());
}

bool LocalTime(std::time_t t, std::tm* pTm) {
  return ::localtime_s(pTm, &t) == 0;
}

std::string WorkingDirectory() {
  const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return {};
  std::vector<wchar_t> buffer(n);
  const DWORD k = ::GetCurrentDirectoryW(n, buffer.data());
  if (k == 0 || k >= n) return {};
  return Narrow(std::wstring(buffer.data(), k));
}

}  // namespace qrt::diag::platform
