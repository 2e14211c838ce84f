#pragma once
// Shared pieces of the device-library tests: an in-memory device-id store, a
// temporary lock directory, and quick set-ups of the simulated platform.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "DeviceIdStore.h"
#include "SimPlatform.h"
#include "TestDirectory.h"

namespace qrt::test {

class CMemoryDeviceIdStore : public USB42XX_MGR::IDeviceIdStore {
 public:
  // Values "1", "2", ... of a group, in order.
  void SetGroup(const std::string& szGroup, const std::vector<std::string>& vValues) {
    auto& group = m_Groups[szGroup];
    group.clear();
    for (size_t i = 0; i < vValues.size(); ++i) group[std::to_string(i + 1)] = vValues[i];
  }
  void SetValue(const std::string& szGroup, const std::string& szName, const std::string& szValue) {
    m_Groups[szGroup][szName] = szValue;
  }
  bool OpenGroup(const std::string& szGroupName) override {
    return m_Groups.count(szGroupName) != 0;
  }
  bool ReadValue(const std::string& szGroupName, const std::string& szValueName,
                 std::string& szValue) override {
    auto group = m_Groups.find(szGroupName);
    if (group == m_Groups.end()) return false;
    auto value = group->second.find(szValueName);
    if (value == group->second.end()) return false;
    szValue = value->second;
    return true;
  }

 private:
  std::map<std::string, std::map<std::string, std::string>> m_Groups;
};

class CTempDir {
 public:
  CTempDir() : m_szPath(MakeTestDirectory("qrt-usb-test-").string()) {}
  ~CTempDir() {
    std::error_code ec;
    if (!m_szPath.empty()) std::filesystem::remove_all(m_szPath, ec);
  }
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;
  const std::string& Path() const { return m_szPath; }

 private:
  std::string m_szPath;
};

inline sim::SIM_DEVICE_CONFIG SimDevice(uint16_t wVID, uint16_t wPID, uint8_t nLayout,
                                        uint32_t dwEepromSize = 256) {
  sim::SIM_DEVICE_CONFIG config;
  config.wVID = wVID;
  config.wPID = wPID;
  config.Chip.nLayout = nLayout;
  config.Chip.dwEepromSize = dwEepromSize;
  return config;
}

}  // namespace qrt::test
