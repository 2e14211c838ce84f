#pragma once
// Paths are UTF-8 throughout the program; the Windows file calls take UTF-16.
#include <string>

namespace qrt::diag::platform {

// UTF-16 of s; empty for empty text or text that is not UTF-8 (the caller's
// open then fails rather than naming some other file).
std::wstring Widen(const std::string& s);

// UTF-8 of w; empty when w is not valid UTF-16.
std::string Narrow(const std::wstring& w);

}  // namespace qrt::diag::platform
