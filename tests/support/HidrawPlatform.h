#pragma once
// The simulated boards under the names a Linux machine gives them
// (/dev/hidraw1, /dev/hidraw10, ...), with or without hot-plug events: code
// that tells boards apart by path meets the paths it meets on a station.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "SimPlatform.h"
#include "platform/HidPlatform.h"

namespace qrt::test {

class CHidrawPlatform : public USB42XX_MGR::IHidPlatform {
 public:
  // Device i of sim is vPaths[i]. Without events the platform offers no
  // event handle: its users must poll, as on a machine without udev.
  CHidrawPlatform(sim::CSimPlatform& sim, const std::vector<std::string>& vPaths, bool bEvents)
      : m_Sim(sim), m_bEvents(bEvents) {
    for (size_t i = 0; i < vPaths.size(); ++i) {
      m_mapToHidraw[sim.BoardOf(i).szPath] = vPaths[i];
      m_mapToSim[vPaths[i]] = sim.BoardOf(i).szPath;
    }
  }

  const USB42XX_MGR::DEVICE_MUTEX_NAMES& MutexNames() const override { return m_Sim.MutexNames(); }
  bool MutexesInLockFolder() const override { return m_Sim.MutexesInLockFolder(); }
  bool EnumerateHidCollections(std::vector<USB42XX_MGR::HID_COLLECTION_INFO>& vOut) override {
    if (!m_Sim.EnumerateHidCollections(vOut)) return false;
    for (auto& info : vOut) info.szPath = Map(m_mapToHidraw, info.szPath);
    return true;
  }
  std::unique_ptr<USB42XX_MGR::IHidDevice> OpenCollection(
      const USB42XX_MGR::HID_COLLECTION_INFO& info) override {
    USB42XX_MGR::HID_COLLECTION_INFO simInfo = info;
    simInfo.szPath = Map(m_mapToSim, info.szPath);
    return m_Sim.OpenCollection(simInfo);
  }
  bool EnumerateUsbDeviceNames(std::vector<std::string>& vOut) override {
    return m_Sim.EnumerateUsbDeviceNames(vOut);
  }
  void SetEventSink(std::function<void(const USB42XX_MGR::DEVICE_EVENT&)> fnSink) override {
    if (!m_bEvents || !fnSink) {
      m_Sim.SetEventSink({});
      return;
    }
    m_Sim.SetEventSink([this, fnSink](const USB42XX_MGR::DEVICE_EVENT& event) {
      USB42XX_MGR::DEVICE_EVENT renamed = event;
      renamed.Board.szPath = Map(m_mapToHidraw, event.Board.szPath);
      fnSink(renamed);
    });
  }
  USB42XX_MGR::NATIVE_EVENT GetEventHandle() const override {
    return m_bEvents ? m_Sim.GetEventHandle() : USB42XX_MGR::kNoNativeEvent;
  }
  void DispatchEvents() override { m_Sim.DispatchEvents(); }
  uint32_t GetTickCount() override { return m_Sim.GetTickCount(); }
  void Sleep(uint32_t dwMilliseconds) override { m_Sim.Sleep(dwMilliseconds); }
  USB42XX_MGR::ITimeSource& TimeSourceOf(const std::string& szPath) override {
    return m_Sim.TimeSourceOf(Map(m_mapToSim, szPath));
  }
  std::unique_ptr<USB42XX_MGR::IBoardLock> OpenBoardLock(const std::string& szPath,
                                                         std::string& szError) override {
    return m_Sim.OpenBoardLock(Map(m_mapToSim, szPath), szError);
  }

 private:
  static std::string Map(const std::map<std::string, std::string>& map, const std::string& sz) {
    const auto it = map.find(sz);
    return it == map.end() ? sz : it->second;
  }

  sim::CSimPlatform& m_Sim;
  bool m_bEvents;
  std::map<std::string, std::string> m_mapToHidraw, m_mapToSim;
};

}  // namespace qrt::test
