// What the named mutex does the same way on every OS; the locking itself is
// in platform/<os>/NamedMutex.cpp.
#include "NamedMutex.h"

#include <cstdio>

namespace USB42XX_MGR {
namespace {

constexpr size_t kMaxLockFileName = 200;

}  // namespace

std::string CNamedMutex::LockFileName(std::string_view szName) {
  constexpr std::string_view kGlobalPrefix = "Global\\";
  if (szName.substr(0, kGlobalPrefix.size()) == kGlobalPrefix) {
    szName.remove_prefix(kGlobalPrefix.size());
  }
  std::string szFile;
  for (char c : szName) {
    auto uc = static_cast<unsigned char>(c);
    if (c == '%' || c == '/' || c == '\\' || uc < 0x20 || uc == 0x7F) {
      char szHex[4];
      std::snprintf(szHex, sizeof(szHex), "%%%.2X", uc);
      szFile += szHex;
    } else {
      szFile += c;
    }
  }
  if (szFile.empty() || szFile == "." || szFile == ".." || szFile.size() > kMaxLockFileName) {
    return {};
  }
  return szFile;
}

}  // namespace USB42XX_MGR
