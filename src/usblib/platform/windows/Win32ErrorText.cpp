#include "Win32ErrorText.h"

#include <windows.h>

#include "Utf16Path.h"

namespace USB42XX_MGR {

std::string Win32ErrorText(unsigned long dwError) {
  wchar_t wsz[512] = {};
  const DWORD nChars =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError,
                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), wsz, 512, nullptr);
  std::string szText =
      nChars == 0 ? std::string() : qrt::diag::platform::Narrow(std::wstring(wsz, nChars));
  while (!szText.empty() && (szText.back() == '\n' || szText.back() == '\r' ||
                             szText.back() == '.' || szText.back() == ' '))
    szText.pop_back();
  return szText.empty() ? "error " + std::to_string(dwError) : szText;
}

}  // namespace USB42XX_MGR
