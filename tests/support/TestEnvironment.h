#pragma once
// The environment and the built programs, for tests that run on Linux and on
// Windows alike (setenv and the wait status macros are POSIX only).
#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace qrt::test {

#ifdef _WIN32
// Backups go below %LOCALAPPDATA%\qrt4250\backups on Windows ...
inline constexpr const char* kUserStateVariable = "LOCALAPPDATA";
inline constexpr const char* kNullDevice = "NUL";
#else
// ... and below $XDG_STATE_HOME/qrt4250/backups on Linux.
inline constexpr const char* kUserStateVariable = "XDG_STATE_HOME";
inline constexpr const char* kNullDevice = "/dev/null";
#endif

// Sets szName to szValue for this process, in the C runtime's copy that
// getenv and _wgetenv read as well. False when it could not be set.
inline bool SetEnvironment(const std::string& szName, const std::string& szValue) {
#ifdef _WIN32
  return ::_putenv_s(szName.c_str(), szValue.c_str()) == 0;
#else
  return ::setenv(szName.c_str(), szValue.c_str(), 1) == 0;
#endif
}

// An argument in double quotes, which both sh and cmd.exe take as one word
// (the test's paths hold no quotes or '$').
inline std::string Quoted(const std::string& szArgument) {
  return "\"" + szArgument + "\"";
}

// Runs a command line through the system's shell with its output discarded.
// Returns the program's exit status, or -1 when it did not exit normally.
inline int RunQuietly(const std::string& szCommand) {
  const std::string szLine = szCommand + " >" + kNullDevice + " 2>&1";
#ifdef _WIN32
  // cmd /c drops the first and the last quote of a line that starts with
  // one: a pair around the whole line keeps the quoted program path intact.
  return std::system(("\"" + szLine + "\"").c_str());
#else
  const int nStatus = std::system(szLine.c_str());
  return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
#endif
}

}  // namespace qrt::test
