#pragma once
// The present-device list handed between the searches and the window.
#include <cstdint>

namespace USB42XX_MGR {

constexpr int kMaxDeviceListEntries = 128;

// Distinct (VID, PID) pairs in the order the search found them.
struct DEVICE_LIST {
  uint16_t Number = 0;
  uint16_t VID[kMaxDeviceListEntries] = {};
  uint16_t PID[kMaxDeviceListEntries] = {};
};

// True when the pair is already listed.
bool DeviceListContains(const DEVICE_LIST& list, uint16_t wVID, uint16_t wPID);

// Appends the pair unless it is listed already or the list is full (128).
// Returns true when the pair was appended. A search that finds more than 128
// distinct devices keeps the first 128.
bool DeviceListAdd(DEVICE_LIST& list, uint16_t wVID, uint16_t wPID);

}  // namespace USB42XX_MGR
