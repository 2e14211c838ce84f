#pragma once
// Shared pieces of the device-library tests: an in-memory device-id store,
// quick set-ups of the simulated platform and its boards opened, and an
// observer that says nothing.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BoardHandle.h"
#include "DeviceIdStore.h"
#include "EepromProcedure.h"
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

// For transfers whose messages and progress a test does not look at.
class CQuietObserver : public USB42XX_MGR::IEepromObserver {
 public:
  void OnPlainMessage(const std::string&) override {}
  void OnProgress(USB42XX_MGR::EEepromProgress, int) override {}
};

// Device nIndex of the platform opened as a transfer opens it (its lock
// taken, its chip probed); null when it does not open.
inline std::unique_ptr<USB42XX_MGR::CBoardHandle> OpenSimBoard(sim::CSimPlatform& platform,
                                                               size_t nIndex = 0) {
  USB42XX_MGR::BOARD_OPEN_RESULT result;
  return USB42XX_MGR::OpenBoard(platform, platform.BoardOf(nIndex), {}, result);
}

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
