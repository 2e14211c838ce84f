#pragma once
// The device-change values the facade's callback carries. They keep the
// Windows message numbers (WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
// DBT_DEVICEREMOVECOMPLETE) under names of their own, so that this header and
// <windows.h> can be included together.
#include <cstdint>

namespace USB42XX_MGR {

inline constexpr uint32_t kWmDeviceChange = 0x0219;
inline constexpr uintptr_t kDbtDeviceArrival = 0x8000;
inline constexpr uintptr_t kDbtDeviceRemoveComplete = 0x8004;

// A window handle as the callback passes it (always null here).
using WINDOW_HANDLE = void*;

}  // namespace USB42XX_MGR
