#pragma once
// The system's words for a Windows error code, for the device lock's messages.
#include <string>

namespace USB42XX_MGR {

// The system's text for a GetLastError() code, without the trailing period
// and line break; "error N" when it has none.
std::string Win32ErrorText(unsigned long dwError);

}  // namespace USB42XX_MGR
