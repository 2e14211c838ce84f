#pragma once
// The OS object a platform signals while device events are pending, as this
// OS waits on it: an event HANDLE (QWinEventNotifier, WaitForSingleObject).
// Kept as void* so that this header does not pull in <windows.h>.
namespace USB42XX_MGR {

using NATIVE_EVENT = void*;
// The platform delivers no events; the caller polls the device list instead.
inline constexpr NATIVE_EVENT kNoNativeEvent = nullptr;

}  // namespace USB42XX_MGR
