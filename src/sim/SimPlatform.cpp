#include "SimPlatform.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "TextNumbers.h"

namespace qrt::sim {
namespace {

using USB42XX_MGR::DEVICE_EVENT;
using USB42XX_MGR::EDeviceEvent;
using USB42XX_MGR::HID_COLLECTION_INFO;
using USB42XX_MGR::IHidDevice;

// Collection index 0 .. n-1 are the extra collections, n the chip's own.
class CSimHidDevice : public IHidDevice {
 public:
  CSimHidDevice(std::shared_ptr<CSimChip> pChip, bool bVendor)
      : m_pChip(std::move(pChip)), m_bVendor(bVendor) {}

  bool SetOutputReport(const uint8_t* pReport, size_t nLength) override {
    if (!m_bVendor || m_pChip->IsUnplugged()) return false;
    return m_pChip->HandleOutputReport(pReport, nLength);
  }
  bool GetInputReport(uint8_t* pReport, size_t nLength) override {
    if (!m_bVendor || m_pChip->IsUnplugged()) return false;
    return m_pChip->HandleInputReport(pReport, nLength);
  }
  bool IsGone() const override { return m_pChip->IsUnplugged(); }

 private:
  std::shared_ptr<CSimChip> m_pChip;
  bool m_bVendor;  // the chip's collection; the others refuse every report
};

// Boards count from 1 for the user: device index 0 is "sim:1".
std::string DevicePath(size_t nIndex) {
  return "sim:" + std::to_string(nIndex + 1);
}

}  // namespace

CSimPlatform::CSimPlatform(bool bRealTime, bool bMachineLocks)
    : m_pClock(std::make_shared<CSimClock>(bRealTime)), m_bMachineLocks(bMachineLocks) {}

CSimPlatform::~CSimPlatform() {
  for (auto& device : m_vDevices) device.pChip->SetUnplugHook(nullptr);
}

size_t CSimPlatform::AddDevice(const SIM_DEVICE_CONFIG& config) {
  SDevice device;
  device.Config = config;
  device.pClock = m_bBoardClocks ? std::make_shared<CSimClock>(m_pClock->IsRealTime()) : m_pClock;
  if (m_bBoardClocks) device.pTime = std::make_shared<CBoardTime>(device.pClock);
  device.pChip = std::make_shared<CSimChip>(config.Chip, device.pClock);
  device.bPlugged = config.bPlugged;
  device.pChip->SetUnplugged(!config.bPlugged);
  size_t nIndex = m_vDevices.size();
  // An unplug fault pulls the device off the bus like a real unplug.
  device.pChip->SetUnplugHook([this, nIndex] {
    std::lock_guard<std::mutex> guard(m_Mutex);
    if (m_vDevices[nIndex].bPlugged) {
      m_vDevices[nIndex].bPlugged = false;
      PostEvent(EDeviceEvent::Removal, nIndex);
    }
  });
  m_vDevices.push_back(std::move(device));
  return nIndex;
}

void CSimPlatform::Plug(size_t nIndex) {
  SDevice& device = m_vDevices.at(nIndex);
  std::lock_guard<std::mutex> guard(m_Mutex);
  if (device.bPlugged) return;
  // The chip answers before any listing or event shows the board: a
  // station polling meanwhile must not probe a board that is listed but
  // still unplugged (its probe failed now and then).
  device.pChip->SetUnplugged(false);
  device.bPlugged = true;
  PostEvent(EDeviceEvent::Arrival, nIndex);
}

void CSimPlatform::Unplug(size_t nIndex) {
  SDevice& device = m_vDevices.at(nIndex);
  {
    std::lock_guard<std::mutex> guard(m_Mutex);
    if (!device.bPlugged) return;
    device.bPlugged = false;
    PostEvent(EDeviceEvent::Removal, nIndex);
  }
  device.pChip->SetUnplugged(true);
}

bool CSimPlatform::IsPlugged(size_t nIndex) const {
  std::lock_guard<std::mutex> guard(m_Mutex);
  return m_vDevices.at(nIndex).bPlugged;
}

uint64_t CSimPlatform::ModelledUs() const {
  uint64_t qwUs = m_pClock->NowUs();
  for (const SDevice& device : m_vDevices) {
    if (device.pClock != m_pClock) qwUs += device.pClock->NowUs();
  }
  return qwUs;
}

size_t CSimPlatform::IndexOfPath(const std::string& szPath) const {
  uint64_t qwIndex = 0;
  if (szPath.rfind("sim:", 0) != 0 ||
      !qrt::diag::ParseDecimal(std::string_view(szPath).substr(4), m_vDevices.size(), qwIndex) ||
      qwIndex == 0) {
    return SIZE_MAX;
  }
  return static_cast<size_t>(qwIndex - 1);
}

USB42XX_MGR::ITimeSource& CSimPlatform::TimeSourceOf(const std::string& szPath) {
  const size_t nIndex = IndexOfPath(szPath);
  if (nIndex < m_vDevices.size() && m_vDevices[nIndex].pTime) return *m_vDevices[nIndex].pTime;
  return *this;
}

USB42XX_MGR::BOARD_ID CSimPlatform::BoardOf(size_t nIndex) const {
  USB42XX_MGR::BOARD_ID id;
  id.szPath = DevicePath(nIndex);
  id.wVID = m_vDevices.at(nIndex).Config.wVID;
  id.wPID = m_vDevices.at(nIndex).Config.wPID;
  return id;
}

std::unique_ptr<USB42XX_MGR::IBoardLock> CSimPlatform::OpenBoardLock(const std::string& szPath,
                                                                     std::string&) {
  return m_Locks.Open(szPath);
}

// Called with m_Mutex held.
void CSimPlatform::PostEvent(EDeviceEvent eKind, size_t nIndex) {
  DEVICE_EVENT event;
  event.eKind = eKind;
  event.Board = BoardOf(nIndex);
  m_qEvents.push_back(std::move(event));
  m_Event.Signal();
}

void CSimPlatform::SetEventSink(std::function<void(const DEVICE_EVENT&)> fnSink) {
  m_fnSink = std::move(fnSink);
}

void CSimPlatform::DispatchEvents() {
  // A handler may plug or unplug in turn; those events wait for the next call.
  std::deque<DEVICE_EVENT> qEvents;
  {
    std::lock_guard<std::mutex> guard(m_Mutex);
    m_Event.Reset();
    qEvents.swap(m_qEvents);
  }
  for (const auto& event : qEvents) {
    if (m_fnSink) m_fnSink(event);
  }
}

bool CSimPlatform::ForEachPlugged(const std::function<void(size_t, const SDevice&)>& fn) {
  if (m_bEnumerationFails) return false;
  std::lock_guard<std::mutex> guard(m_Mutex);
  for (size_t i = 0; i < m_vDevices.size(); ++i) {
    if (m_vDevices[i].bPlugged) fn(i, m_vDevices[i]);
  }
  return true;
}

bool CSimPlatform::EnumerateHidCollections(std::vector<HID_COLLECTION_INFO>& vOut) {
  vOut.clear();
  return ForEachPlugged([&](size_t i, const SDevice& device) {
    uint32_t nCollection = 0;
    for (const auto& extra : device.Config.vExtraCollections) {
      HID_COLLECTION_INFO info;
      info.szPath = DevicePath(i);
      info.nCollection = nCollection++;
      info.wVID = device.Config.wVID;
      info.wPID = device.Config.wPID;
      info.dwInputReportByteLength = extra.dwInputReportByteLength;
      info.dwOutputReportByteLength = extra.dwOutputReportByteLength;
      vOut.push_back(info);
    }
    HID_COLLECTION_INFO info;
    info.szPath = DevicePath(i);
    info.nCollection = nCollection;
    info.wVID = device.Config.wVID;
    info.wPID = device.Config.wPID;
    info.dwInputReportByteLength = static_cast<uint32_t>(device.pChip->ReportLength());
    info.dwOutputReportByteLength = static_cast<uint32_t>(device.pChip->ReportLength());
    vOut.push_back(info);
  });
}

std::unique_ptr<IHidDevice> CSimPlatform::OpenCollection(const HID_COLLECTION_INFO& info) {
  const size_t nIndex = IndexOfPath(info.szPath);
  std::lock_guard<std::mutex> guard(m_Mutex);
  if (nIndex >= m_vDevices.size() || !m_vDevices[nIndex].bPlugged) return nullptr;
  const SDevice& device = m_vDevices[nIndex];
  size_t nExtra = device.Config.vExtraCollections.size();
  if (info.nCollection > nExtra) return nullptr;
  if (info.nCollection < nExtra) {
    return std::make_unique<CSimHidDevice>(device.pChip, false);
  }
  return std::make_unique<CSimHidDevice>(device.pChip, true);
}

bool CSimPlatform::EnumerateUsbDeviceNames(std::vector<std::string>& vOut) {
  vOut.clear();
  return ForEachPlugged([&](size_t i, const SDevice& device) {
    for (uint32_t n = 0; n < device.Config.nUsbNames; ++n) {
      char sz[96];
      std::snprintf(sz, sizeof(sz), "USB#VID_%04X&PID_%04X&MI_%02u#sim%zu", device.Config.wVID,
                    device.Config.wPID, n, i);
      vOut.emplace_back(sz);
    }
  });
}

}  // namespace qrt::sim
