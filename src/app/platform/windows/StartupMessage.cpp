#include "platform/StartupMessage.h"

#include <windows.h>

#include <cstdio>

#include "Utf16Path.h"

namespace qrt::app {

void ShowStartupError(const std::string& szText) {
  // A console or a redirection gives the window program a stderr handle;
  // started from the menu it has none.
  const HANDLE hError = ::GetStdHandle(STD_ERROR_HANDLE);
  if (hError != nullptr && hError != INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "qrt4250-config: %s\n", szText.c_str());
    std::fflush(stderr);
    return;
  }
  const std::wstring szWide = diag::platform::Widen(szText);
  ::MessageBoxW(nullptr, szWide.c_str(), L"qrt4250-config", MB_OK | MB_ICONERROR);
}

}  // namespace qrt::app
