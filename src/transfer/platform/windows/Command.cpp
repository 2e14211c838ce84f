#include "Command.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "Utf16Path.h"

namespace qrt::transfer {

namespace {

using qrt::diag::platform::Widen;


std::string LastErrorText(const std::string& szWhat) {
  return szWhat + ": Windows error " + std::to_string(::GetLastError());
}

// One word as the C runtime's argument parser reads it back: quoted when it
// holds a blank or a quote (or is empty), backslashes doubled before a quote.
void AppendQuoted(std::wstring& szLine, const std::wstring& szWord) {
  if (!szLine.empty()) szLine += L' ';
  if (!szWord.empty() && szWord.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    szLine += szWord;
    return;
  }
  szLine += L'"';
  size_t nSlashes = 0;
  for (wchar_t c : szWord) {
    if (c == L'\\') {
      ++nSlashes;
      continue;
    }
    szLine.append(c == L'"' ? 2 * nSlashes + 1 : nSlashes, L'\\');
    nSlashes = 0;
    szLine += c;
  }
  szLine.append(2 * nSlashes, L'\\');
  szLine += L'"';
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](wchar_t x, wchar_t y) { return std::towupper(x) == std::towupper(y); });
}

// The process's own environment with these variables added or replaced
// (names compare without case, as Windows does), as CreateProcessW wants it.
std::wstring EnvironmentBlock(const std::map<std::string, std::string>& env) {
  std::vector<std::wstring> vNames;
  for (const auto& entry : env) vNames.push_back(Widen(entry.first));
  std::wstring szBlock;
  if (wchar_t* pOwn = ::GetEnvironmentStringsW()) {
    for (const wchar_t* p = pOwn; *p != L'\0'; p += std::wcslen(p) + 1) {
      const std::wstring szVar = p;
      // "=C:=C:\..." entries keep the drives' folders: their name starts at 1.
      const std::wstring szName = szVar.substr(0, szVar.find(L'=', 1));
      if (std::none_of(vNames.begin(), vNames.end(),
                       [&](const std::wstring& n) { return SameName(n, szName); })) {
        szBlock += szVar;
        szBlock += L'\0';
      }
    }
    ::FreeEnvironmentStringsW(pOwn);
  }
  for (const auto& [szName, szValue] : env) {
    szBlock += Widen(szName) + L"=" + Widen(szValue);
    szBlock += L'\0';
  }
  szBlock += L'\0';
  return szBlock;
}

class CHandle {
 public:
  explicit CHandle(HANDLE h = nullptr) : m_h(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~CHandle() {
    if (m_h != nullptr) ::CloseHandle(m_h);
  }
  CHandle(const CHandle&) = delete;
  CHandle& operator=(const CHandle&) = delete;
  HANDLE Get() const { return m_h; }
  HANDLE* Put() { return &m_h; }
  void Close() {
    if (m_h != nullptr) ::CloseHandle(m_h);
    m_h = nullptr;
  }

 private:
  HANDLE m_h;
};

void ReadAvailable(HANDLE hPipe, std::string& szOutput) {
  for (;;) {
    DWORD dwAvailable = 0;
    if (!::PeekNamedPipe(hPipe, nullptr, 0, nullptr, &dwAvailable, nullptr) || dwAvailable == 0) {
      return;
    }
    char buf[4096];
    DWORD dwRead = 0;
    if (!::ReadFile(hPipe, buf, std::min<DWORD>(dwAvailable, sizeof(buf)), &dwRead, nullptr) ||
        dwRead == 0) {
      return;
    }
    const size_t nRoom = kMaxCommandOutput - std::min(kMaxCommandOutput, szOutput.size());
    szOutput.append(buf, std::min<size_t>(dwRead, nRoom));
  }
}

}  // namespace

COMMAND_RESULT platform::RunCommandWords(const std::vector<std::string>& vWords,
                                         const std::map<std::string, std::string>& env,
                                         int nTimeOutMs) {
  COMMAND_RESULT result;
  std::wstring szLine;
  for (const std::string& szWord : vWords) {
    const std::wstring szWide = Widen(szWord);
    if (szWide.empty() && !szWord.empty()) {
      result.szOutput = "the command is not UTF-8 text";
      return result;
    }
    AppendQuoted(szLine, szWide);
  }
  std::wstring szEnv = EnvironmentBlock(env);

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  CHandle hRead, hWrite;
  if (!::CreatePipe(hRead.Put(), hWrite.Put(), &inherit, 0) ||
      !::SetHandleInformation(hRead.Get(), HANDLE_FLAG_INHERIT, 0)) {
    result.szOutput = LastErrorText("pipe");
    return result;
  }
  CHandle hNul(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr));
  // A job, so the time limit ends what the command started too.
  CHandle hJob(::CreateJobObjectW(nullptr, nullptr));
  if (hJob.Get() != nullptr) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ::SetInformationJobObject(hJob.Get(), JobObjectExtendedLimitInformation, &limits,
                              sizeof(limits));
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = hNul.Get();
  startup.hStdOutput = hWrite.Get();
  startup.hStdError = hWrite.Get();
  PROCESS_INFORMATION process{};
  // No application name: the first word is looked up as the system looks up
  // commands (the program's folder, the system folders, PATH).
  if (!::CreateProcessW(nullptr, szLine.data(), nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW | CREATE_SUSPENDED,
                        szEnv.data(), nullptr, &startup, &process)) {
    result.szOutput = LastErrorText(vWords[0]);
    return result;
  }
  CHandle hProcess(process.hProcess);
  CHandle hThread(process.hThread);
  if (hJob.Get() != nullptr) ::AssignProcessToJobObject(hJob.Get(), hProcess.Get());
  ::ResumeThread(hThread.Get());
  // Only the child writes from here on, so the pipe ends when it does.
  hWrite.Close();
  result.bStarted = true;

  const ULONGLONG qwDeadline = ::GetTickCount64() + static_cast<ULONGLONG>(std::max(nTimeOutMs, 0));
  for (;;) {
    ReadAvailable(hRead.Get(), result.szOutput);
    const ULONGLONG qwNow = ::GetTickCount64();
    if (qwNow >= qwDeadline) {
      result.bTimedOut = true;
      break;
    }
    const DWORD dwStep = static_cast<DWORD>(std::min<ULONGLONG>(qwDeadline - qwNow, 10));
    if (::WaitForSingleObject(hProcess.Get(), dwStep) == WAIT_OBJECT_0) break;
  }
  if (result.bTimedOut) {
    if (hJob.Get() != nullptr) ::TerminateJobObject(hJob.Get(), 1);
    ::TerminateProcess(hProcess.Get(), 1);
    ::WaitForSingleObject(hProcess.Get(), INFINITE);
    return result;
  }
  ReadAvailable(hRead.Get(), result.szOutput);
  DWORD dwExit = 0;
  if (::GetExitCodeProcess(hProcess.Get(), &dwExit)) result.nExit = static_cast<int>(dwExit);
  return result;
}

}  // namespace qrt::transfer
