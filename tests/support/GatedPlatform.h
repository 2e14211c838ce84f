#pragma once
// A device platform that hands everything to another one and can hold a
// board in the middle of a transfer: the board's thread waits before a
// given output report until it is let go. Simulated transfers take no real
// time, so this is how a window is caught mid-run (tiles part-way).
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/HidPlatform.h"

namespace qrt::test {

class CGatedPlatform : public USB42XX_MGR::IHidPlatform {
 public:
  explicit CGatedPlatform(USB42XX_MGR::IHidPlatform& inner) : m_Inner(inner) {}
  ~CGatedPlatform() override { LetGo(); }

  // The board at szPath waits before its nReport-th output report (counted
  // over every opening of it, from 1) until LetGo.
  void HoldAt(const std::string& szPath, size_t nReport) {
    std::lock_guard<std::mutex> guard(m_Mutex);
    m_HoldAt[szPath] = nReport;
  }
  // How many boards wait now.
  size_t Holding() {
    std::lock_guard<std::mutex> guard(m_Mutex);
    return m_nHolding;
  }
  // Every board goes on; none is held again.
  void LetGo() {
    std::lock_guard<std::mutex> guard(m_Mutex);
    m_bLetGo = true;
    m_Cv.notify_all();
  }

  const USB42XX_MGR::DEVICE_MUTEX_NAMES& MutexNames() const override {
    return m_Inner.MutexNames();
  }
  bool MutexesInLockFolder() const override { return m_Inner.MutexesInLockFolder(); }
  bool EnumerateHidCollections(std::vector<USB42XX_MGR::HID_COLLECTION_INFO>& vOut) override {
    return m_Inner.EnumerateHidCollections(vOut);
  }
  std::unique_ptr<USB42XX_MGR::IHidDevice> OpenCollection(
      const USB42XX_MGR::HID_COLLECTION_INFO& info) override {
    std::unique_ptr<USB42XX_MGR::IHidDevice> pDevice = m_Inner.OpenCollection(info);
    if (!pDevice) return nullptr;
    return std::make_unique<CDevice>(*this, info.szPath, std::move(pDevice));
  }
  bool EnumerateUsbDeviceNames(std::vector<std::string>& vOut) override {
    return m_Inner.EnumerateUsbDeviceNames(vOut);
  }
  void SetEventSink(std::function<void(const USB42XX_MGR::DEVICE_EVENT&)> fnSink) override {
    m_Inner.SetEventSink(std::move(fnSink));
  }
  USB42XX_MGR::NATIVE_EVENT GetEventHandle() const override { return m_Inner.GetEventHandle(); }
  void DispatchEvents() override { m_Inner.DispatchEvents(); }
  USB42XX_MGR::ITimeSource& TimeSourceOf(const std::string& szPath) override {
    return m_Inner.TimeSourceOf(szPath);
  }
  std::unique_ptr<USB42XX_MGR::IBoardLock> OpenBoardLock(const std::string& szPath,
                                                         std::string& szError) override {
    return m_Inner.OpenBoardLock(szPath, szError);
  }
  uint32_t GetTickCount() override { return m_Inner.GetTickCount(); }
  void Sleep(uint32_t dwMilliseconds) override { m_Inner.Sleep(dwMilliseconds); }

 private:
  class CDevice : public USB42XX_MGR::IHidDevice {
   public:
    CDevice(CGatedPlatform& platform, std::string szPath,
            std::unique_ptr<USB42XX_MGR::IHidDevice> pInner)
        : m_Platform(platform), m_szPath(std::move(szPath)), m_pInner(std::move(pInner)) {}
    bool SetOutputReport(const uint8_t* pReport, size_t nLength) override {
      m_Platform.Gate(m_szPath);
      return m_pInner->SetOutputReport(pReport, nLength);
    }
    bool GetInputReport(uint8_t* pReport, size_t nLength) override {
      return m_pInner->GetInputReport(pReport, nLength);
    }
    bool IsGone() const override { return m_pInner->IsGone(); }

   private:
    CGatedPlatform& m_Platform;
    std::string m_szPath;
    std::unique_ptr<USB42XX_MGR::IHidDevice> m_pInner;
  };

  void Gate(const std::string& szPath) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    const size_t nReport = ++m_Reports[szPath];
    const auto it = m_HoldAt.find(szPath);
    if (m_bLetGo || it == m_HoldAt.end() || it->second != nReport) return;
    ++m_nHolding;
    m_Cv.wait(lock, [this] { return m_bLetGo; });
    --m_nHolding;
  }

  USB42XX_MGR::IHidPlatform& m_Inner;
  std::mutex m_Mutex;
  std::condition_variable m_Cv;
  std::map<std::string, size_t> m_HoldAt;
  std::map<std::string, size_t> m_Reports;
  size_t m_nHolding = 0;
  bool m_bLetGo = false;
};

}  // namespace qrt::test
