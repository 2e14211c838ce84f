#pragma once
// The Windows device-id store: the registry key
// HKEY_LOCAL_MACHINE\SOFTWARE\<group name>, opened for reading only, string
// values "1", "2", ... of at most 2048 bytes. This program never writes it.
#include <string>

#include "DeviceIdStore.h"

namespace USB42XX_MGR {

class CRegistryDeviceIdStore : public IDeviceIdStore {
 public:
  // szRoot is the key under HKEY_LOCAL_MACHINE that holds the groups; tests
  // point it elsewhere.
  explicit CRegistryDeviceIdStore(std::string szRoot = "SOFTWARE");

  // True when the group's key opens for reading. A group name that is not
  // UTF-8, is empty or holds a backslash (it would name another key) does
  // not open.
  bool OpenGroup(const std::string& szGroupName) override;

  // The string value of the group's key (REG_SZ or REG_EXPAND_SZ, not
  // expanded) as UTF-8. False when the key or value is missing, is not a
  // string, or is longer than 2048 bytes.
  bool ReadValue(const std::string& szGroupName, const std::string& szValueName,
                 std::string& szValue) override;

 private:
  std::string m_szRoot;
};

}  // namespace USB42XX_MGR
