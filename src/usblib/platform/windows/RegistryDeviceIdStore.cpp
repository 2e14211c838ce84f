#include "RegistryDeviceIdStore.h"

#include <windows.h>

#include <memory>

#include "Utf16Path.h"

namespace USB42XX_MGR {
namespace {

using qrt::diag::platform::Narrow;
using qrt::diag::platform::Widen;

// A value holds at most 2048 bytes (1024 UTF-16 characters).
constexpr DWORD kMaxValueBytes = 2048;

struct SKey {
  HKEY hKey = nullptr;
  ~SKey() {
    if (hKey) RegCloseKey(hKey);
  }
};

bool OpenKey(const std::string& szRoot, const std::string& szGroupName, SKey& key) {
  if (szGroupName.empty() || szGroupName.find('\\') != std::string::npos) return false;
  const std::wstring wszPath = Widen(szRoot + "\\" + szGroupName);
  if (wszPath.empty()) return false;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, wszPath.c_str(), 0, KEY_READ, &key.hKey) ==
         ERROR_SUCCESS;
}

}  // namespace

CRegistryDeviceIdStore::CRegistryDeviceIdStore(std::string szRoot) : m_szRoot(std::move(szRoot)) {}

bool CRegistryDeviceIdStore::OpenGroup(const std::string& szGroupName) {
  SKey key;
  return OpenKey(m_szRoot, szGroupName, key);
}

bool CRegistryDeviceIdStore::ReadValue(const std::string& szGroupName,
                                       const std::string& szValueName, std::string& szValue) {
  szValue.clear();
  SKey key;
  const std::wstring wszName = Widen(szValueName);
  if (!OpenKey(m_szRoot, szGroupName, key) || (wszName.empty() && !szValueName.empty()))
    return false;
  // One byte pair more than allowed, so that a longer value is seen and refused
  // instead of cut.
  wchar_t wszBuffer[kMaxValueBytes / sizeof(wchar_t) + 2] = {};
  DWORD dwType = 0;
  DWORD cbData = kMaxValueBytes + sizeof(wchar_t);
  const LONG nResult = RegQueryValueExW(key.hKey, wszName.c_str(), nullptr, &dwType,
                                        reinterpret_cast<BYTE*>(wszBuffer), &cbData);
  if (nResult != ERROR_SUCCESS || (dwType != REG_SZ && dwType != REG_EXPAND_SZ)) return false;
  if (cbData > kMaxValueBytes + sizeof(wchar_t)) return false;
  size_t nChars = cbData / sizeof(wchar_t);
  // The stored terminator (when there is one) is not part of the text.
  while (nChars > 0 && wszBuffer[nChars - 1] == L'\0') --nChars;
  if (nChars * sizeof(wchar_t) > kMaxValueBytes) return false;
  // A lone surrogate makes the value unreadable, like an over-long one.
  szValue = Narrow(std::wstring(wszBuffer, nChars));
  return nChars == 0 || !szValue.empty();
}

std::unique_ptr<IDeviceIdStore> CreateSystemDeviceIdStore() {
  return std::make_unique<CRegistryDeviceIdStore>();
}

}  // namespace USB42XX_MGR
