#pragma once
// The machine-wide store of device-id groups: named groups of numbered string
// values ("1", "2", ...), readable by an unprivileged user. On Windows this is
// HKLM\SOFTWARE\<group name>; on Linux an INI file (one section per group).
#include <memory>
#include <string>

namespace USB42XX_MGR {

class IDeviceIdStore {
 public:
  virtual ~IDeviceIdStore() = default;

  // True when the group exists and can be read (the registry key opens).
  virtual bool OpenGroup(const std::string& szGroupName) = 0;

  // Reads the value named szValueName ("1", "2", ...) of a group. Returns
  // false when the group or the value is missing or unreadable, or the value
  // is longer than 2048 bytes.
  virtual bool ReadValue(const std::string& szGroupName, const std::string& szValueName,
                         std::string& szValue) = 0;
};

// The store of this machine: HKLM\SOFTWARE on Windows (CRegistryDeviceIdStore),
// /etc/qrt4250/deviceid-groups.ini on Linux (CIniDeviceIdStore). Never null.
std::unique_ptr<IDeviceIdStore> CreateSystemDeviceIdStore();

}  // namespace USB42XX_MGR
