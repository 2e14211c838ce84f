#pragma once
// A device platform for the monitor tests: no boards, scripted events and
// USB device lists.
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "UsbDeviceNames.h"
#include "platform/EventObject.h"
#include "platform/HidPlatform.h"

namespace qrt::test {

using namespace USB42XX_MGR;

// A platform whose events and USB device list the test scripts. With events
// on, an event object signals pending events as the real monitor's does.
class CScriptedPlatform : public IHidPlatform {
 public:
  explicit CScriptedPlatform(bool bEvents) : m_bEvents(bEvents) {}
  // An event about the board a device name names (its ids as ParseVidPid
  // reads them; 0 when the name has none).
  void Post(EDeviceEvent eKind, const std::string& szName) {
    DEVICE_EVENT event;
    event.eKind = eKind;
    event.Board.szPath = szName;
    if (ParseVidPid(szName, event.Board.wVID, event.Board.wPID) != 0) event.Board.wVID = 0;
    m_qEvents.push_back(event);
    m_Event.Signal();
  }
  // The USB device lists answered by successive enumerations (the last repeats).
  std::deque<std::vector<std::string>> m_qUsbLists;
  int m_nDispatches = 0;

  bool EnumerateHidCollections(std::vector<HID_COLLECTION_INFO>& v) override {
    v.clear();
    return true;
  }
  std::unique_ptr<IHidDevice> OpenCollection(const HID_COLLECTION_INFO&) override {
    return nullptr;
  }
  bool EnumerateUsbDeviceNames(std::vector<std::string>& v) override {
    if (m_qUsbLists.empty()) return false;
    v = m_qUsbLists.front();
    if (m_qUsbLists.size() > 1) m_qUsbLists.pop_front();
    return true;
  }
  void SetEventSink(std::function<void(const DEVICE_EVENT&)> fn) override {
    m_fnSink = std::move(fn);
  }
  NATIVE_EVENT GetEventHandle() const override {
    return m_bEvents ? m_Event.Native() : kNoNativeEvent;
  }
  void DispatchEvents() override {
    ++m_nDispatches;
    if (!m_Event.Wait(0)) return;
    m_Event.Reset();
    while (!m_qEvents.empty()) {
      DEVICE_EVENT e = m_qEvents.front();
      m_qEvents.pop_front();
      if (m_fnSink) m_fnSink(e);
    }
  }
  uint32_t GetTickCount() override { return 0; }
  void Sleep(uint32_t) override {}

 private:
  bool m_bEvents;
  CEventObject m_Event;
  std::deque<DEVICE_EVENT> m_qEvents;
  std::function<void(const DEVICE_EVENT&)> m_fnSink;
};

}  // namespace qrt::test
