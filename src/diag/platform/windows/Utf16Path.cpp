#include "Utf16Path.h"

#include <windows.h>

namespace qrt::diag::platform {

std::wstring Widen(const std::string& s) {
  if (s.empty() || s.size() > 32767) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(),
                                      static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring w(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()),
                        w.data(), n);
  return w;
}

std::string Narrow(const std::wstring& w) {
  if (w.empty() || w.size() > 32767) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, w.data(),
                                      static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string s(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, w.data(), static_cast<int>(w.size()),
                        s.data(), n, nullptr, nullptr);
  return s;
}

}  // namespace qrt::diag::platform
