#include "WideText.h"

#include <windows.h>

namespace USB42XX_MGR {

bool Utf8ToWide(const std::string& szText, std::wstring& wszOut) {
  wszOut.clear();
  if (szText.empty()) return true;
  if (szText.size() > 0x7FFFFFFF) return false;
  const int nIn = static_cast<int>(szText.size());
  const int nWide =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, szText.data(), nIn, nullptr, 0);
  if (nWide <= 0) return false;
  wszOut.resize(static_cast<size_t>(nWide));
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, szText.data(), nIn, wszOut.data(),
                          nWide) != nWide) {
    wszOut.clear();
    return false;
  }
  return true;
}

std::string WideToUtf8(const std::wstring& wszText) {
  if (wszText.empty() || wszText.size() > 0x7FFFFFFF) return {};
  const int nIn = static_cast<int>(wszText.size());
  const int nBytes = WideCharToMultiByte(CP_UTF8, 0, wszText.data(), nIn, nullptr, 0, nullptr, nullptr);
  if (nBytes <= 0) return {};
  std::string szOut(static_cast<size_t>(nBytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wszText.data(), nIn, szOut.data(), nBytes, nullptr, nullptr);
  return szOut;
}

std::string Win32ErrorText(unsigned long dwError) {
  wchar_t wsz[512] = {};
  const DWORD nChars =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError,
                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), wsz, 512, nullptr);
  if (nChars == 0) return "error " + std::to_string(dwError);
  std::string szText = WideToUtf8(std::wstring(wsz, nChars));
  while (!szText.empty() &&
         (szText.back() == '\n' || szText.back() == '\r' || szText.back() == '.' || szText.back() == ' '))
    szText.pop_back();
  return szText;
}

}  // namespace USB42XX_MGR
