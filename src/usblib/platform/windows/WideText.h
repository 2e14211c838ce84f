#pragma once
// UTF-8 <-> UTF-16 for the W functions of the Windows API, and error texts.
#include <string>

namespace USB42XX_MGR {

// False when szText is not valid UTF-8 (wszOut is then empty).
bool Utf8ToWide(const std::string& szText, std::wstring& wszOut);
// Unpaired surrogates become U+FFFD.
std::string WideToUtf8(const std::wstring& wszText);
// The system's text for a GetLastError() code, without the trailing period
// and line break; "error N" when it has none.
std::string Win32ErrorText(unsigned long dwError);

}  // namespace USB42XX_MGR
